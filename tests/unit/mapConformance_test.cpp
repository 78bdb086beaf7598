// What every register map must do, checked against each map's sheet (see
// support/mapConformance.h); the sheets instantiate these tests.
#include "support/mapConformance.h"

#include <cstring>
#include <string>
#include <utility>

namespace conformance {

using qvrm7_driver::nQVWEND000::kStatusBadArgument;
using qvrm7_driver::nQVWEND000::kStatusBufferTooSmall;
using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
using qvrm7_driver::nQVWEND000::kStatusNotSupported;

bool MapConformance::attempt(Op op, u32 id) {
  tLongStatus status;
  u64 value = 0xBAD;
  u32 count = Format::kCapacity;
  if (op == kGet) map().get(id, value, status, 0);
  if (op == kSet) map().set(id, 0, status, 0);
  if (op == kReadOp) map().read(id, value, status, 0);
  if (op == kWrite) map().write(id, 0, false, status, 0);
  if (op == kFlush) map().flush(id, false, status, 0);
  if (op == kRefresh) map().refresh(id, status, 0);
  if (op == kFormat) count = format(id, Format::kCapacity, status).count;
  if (status.head.code == 0) return true;
  Site const& site = sheet().sites[op];
  int64_t const code = op == kFormat ? kStatusNotSupported : kStatusBadArgument;
  bool const cleared = op == kGet || op == kReadOp ? value == 0 : op != kFormat || count == 0;
  if (status.head.code != code || std::strcmp(status.file, site.file) != 0 ||
      status.line != site.line || !cleared)
    miss("op " + std::to_string(op) + " refused " + hex(id) + " with " +
         std::to_string(status.head.code) + " at " + status.file + ":" +
         std::to_string(status.line));
  return false;
}

TEST_P(MapConformance, EachOperationAcceptsItsIDsInAnyFormAndRefusesTheRestAtItsLine) {
  Sheet const& s = sheet();
  u32 accepted[kOps] = {};
  std::vector<u32> offsets;
  for (u32 offset = 0; offset < s.span + 8; ++offset) offsets.push_back(offset);
  for (u32 bit = 0; bit < 24; ++bit)  // offset 0 and one bit beyond the block
    if (1u << bit >= s.span + 8) offsets.push_back(1u << bit);
  for (u32 far : {s.span * 2, 0x7FFFFCu, 0xFFFFFCu}) offsets.push_back(far);
  for (u32 offset : offsets) {
    bool took[kOps][256];
    for (u32 high = 0; high < 256; ++high)
      for (int op = 0; op < kOps; ++op) took[op][high] = attempt(Op(op), high << 24 | offset);
    for (u32 high = 0; high < 256; ++high) {
      // A whole ID is the same ID whatever its field code; flush, refresh
      // and formats take any ID as naming the whole register of its view.
      u32 const whole = high & 0x80 ? high & 0xC0 : high;
      u32 const key = 0x80 | (high & 0x40);
      for (int op = 0; op < kOps; ++op) {
        u32 const same = op < kFlush ? whole : key;
        if (took[op][high] != took[op][same])
          miss("op " + std::to_string(op) + " takes " + hex(high << 24 | offset) + " unlike " +
               hex(same << 24 | offset));
        accepted[op] += high == same && took[op][high];
      }
    }
  }
  for (int op = 0; op < kOps; ++op) EXPECT_EQ(accepted[op], s.counts[op]) << "op " << op;
  EXPECT_EQ(misses_, 0u) << "first miss: " << firstMiss_;
}

TEST_P(MapConformance, EachRegisterReachesItsOffsetWithItsWidthLeavingStrobesClear) {
  for (Register const& r : registers_) {
    if (r.key == 0) continue;
    SCOPED_TRACE(::testing::Message() << std::hex << "register 0x" << r.key);
    tLongStatus status;
    for (u32 id : {r.key, r.alias}) {
      if (id == 0 || !r.written()) continue;
      // All ones as well: every strobe bit, and only those, comes back clear.
      for (u64 given : {patternAt(r.offset, id), ~u64{0}}) {
        u64 const value = given & r.widthMask();
        map().write(id, given, true, status, 0);
        EXPECT_EQ(takeLog(), (std::vector<Hit>{{true, r.offset, r.width / 8, value}}));
        if (r.shadow) {
          EXPECT_EQ(get(r.key), value & ~r.strobe) << hex(given);
        }
      }
    }
    u64 const pattern = patternAt(r.offset, 0xF00D);
    if (r.read()) probe_.preload(r.offset, pattern);
    for (u32 id : {r.key, r.alias}) {
      if (id == 0 || !r.read()) continue;
      u64 value = 0;
      map().read(id, value, status, 0);
      EXPECT_EQ(value, pattern & r.widthMask());
      EXPECT_EQ(takeLog(), (std::vector<Hit>{{false, r.offset, r.width / 8, value}}));
    }
    EXPECT_EQ(status.head.code, 0);
    if (!r.read() || !r.shadow) continue;
    // Each field of the format is the bits get extracts under its code.
    Format const f = format(r.key, Format::kCapacity, status);
    for (u32 i = 0; i < f.count; ++i)
      EXPECT_EQ(get(fieldId(r.key, f.masks[i])), (pattern & f.masks[i]) >> lowestBit(f.masks[i]));
  }
}

TEST_P(MapConformance, FormatsDescribeTheFieldsThatSetAndGetReach) {
  for (Register const& r : registers_) {
    if (r.key == 0) continue;
    EXPECT_EQ(r.alias != 0 ? r.masks(r.alias).size() : 0u, r.aliasFields) << std::hex << r.alias;
    for (auto [id, line] :
         {std::pair{r.key, r.lines.format}, std::pair{r.alias, r.lines.aliasFormat}}) {
      if (id == 0) continue;
      SCOPED_TRACE(::testing::Message() << std::hex << "register 0x" << id);
      std::vector<u64> const masks = r.masks(id);
      u32 const fields = static_cast<u32>(masks.size());
      tLongStatus status;
      Format const f = format(id, fields, status);  // room for exactly its fields
      ASSERT_EQ(status.head.code, 0);
      ASSERT_EQ(std::vector<u64>(f.masks, f.masks + f.count), masks);
      EXPECT_EQ(f.masks[fields], 0xBADu);
      u64 covered = 0;
      for (u32 i = 0; i < f.count; ++i) {
        u64 const mask = f.masks[i];
        ASSERT_NE(mask, 0u);
        unsigned const low = lowestBit(mask);
        unsigned const width = static_cast<unsigned>(__builtin_popcountll(mask));
        EXPECT_EQ(mask, lowBits(width) << low) << "contiguous";
        EXPECT_GT(mask, covered) << "ascending";
        EXPECT_EQ(mask & covered, 0u) << "disjoint";
        covered |= mask;
        arm::FieldType const types[] = {arm::kFieldBool, arm::kFieldU8, arm::kFieldU16,
                                        arm::kFieldU32};  // by width: 1, up to 8, 16, 32
        EXPECT_EQ(f.types[i], types[(width > 1) + (width > 8) + (width > 16)]);
        if (id != r.key || !r.shadow) continue;
        // Every field has its ID; one that set takes lands in exactly its
        // bits, a one-bit one by the boolean rule.
        u32 const field = fieldId(r.key, mask);
        get(field);
        if (!r.written()) continue;
        set(r.key, 0);
        set(field, ~u64{0});
        EXPECT_EQ(get(r.key), mask) << std::hex << field;
        set(r.key, 0);
        set(field, 2);
        bool const boolean = !sheet().boolean || sheet().boolean(field);
        u64 const two = width == 1 ? (boolean ? mask : 0) : (u64{2} << low) & mask;
        EXPECT_EQ(get(r.key), two) << std::hex << field;
      }
      for (u32 small : {0u, fields - 1}) {
        tLongStatus tooSmall;
        Format const g = format(id | 0x3F000000, small, tooSmall);
        expectSite(tooSmall, kStatusBufferTooSmall, file(), line);
        EXPECT_EQ(g.count, small);
        EXPECT_EQ(g.masks[0], 0xBADu);
      }
    }
  }
}

TEST_P(MapConformance, WholeMapOperationsVisitTheRecordsInOrder) {
  std::vector<Hit> resets, patterns, afterStrobes, reads;
  for (Register const& r : registers_) {
    if (r.written() && r.shadow) {
      u64 const value = r.key != 0 ? patternAt(r.offset, r.key) & r.widthMask() : r.reset;
      resets.push_back({true, r.offset, r.width / 8, r.reset});
      // A record no ID names is written by the whole-map operations alone.
      if (r.key != 0) patterns.push_back({true, r.offset, r.width / 8, value});
      afterStrobes.push_back({true, r.offset, r.width / 8, value & ~r.strobe});
    }
    if (r.read())
      reads.push_back({false, r.offset, r.width / 8, patternAt(r.offset, 0xBEEF) & r.widthMask()});
  }
  tLongStatus status;
  map().flushRegMap(false, status);
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
  map().flushRegMap(true, status);
  EXPECT_EQ(takeLog(), resets);

  for (Register const& r : registers_)
    if (r.written() && r.shadow && r.key != 0) set(r.key, patternAt(r.offset, r.key));
  map().flushRegMap(false, status);
  EXPECT_EQ(takeLog(), patterns);
  map().flushRegMap(false, status);
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
  map().markDirtyRegMap();
  map().flushRegMap(false, status);
  EXPECT_EQ(takeLog(), afterStrobes);

  for (Hit const& h : reads) probe_.preload(h.offset, h.value);
  map().refreshRegMap(status);
  EXPECT_EQ(takeLog(), reads);
  for (Register const& r : registers_) {
    if (!r.read() || r.key == 0 || !r.shadow) continue;
    EXPECT_EQ(get(r.key), patternAt(r.offset, 0xBEEF) & r.widthMask());
  }
  EXPECT_EQ(status.head.code, 0);
}

TEST_P(MapConformance, AnErrorOnEntryStopsEverySlotAndTheVersionsAreTheMaps) {
  constexpr int64_t kEarlier = -52008;
  constexpr Site kEarlierSite{"earlier", 7};
  for (Register const& r : registers_) {
    if (r.key == 0) continue;
    tLongStatus status;
    qvrm7_driver::nQVWEND000::setStatus(status, kEarlier, kEarlierSite);
    u64 value = 0x1234;
    map().get(r.key, value, status, 0);
    map().read(r.key, value, status, 0);
    map().set(r.key, 5, status, 0);
    map().write(r.key, 5, true, status, 0);
    map().flush(r.key, true, status, 0);
    map().refresh(r.key, status, 0);
    Format const f = format(r.key, 0, status);
    map().flushRegMap(true, status);
    map().refreshRegMap(status);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_EQ(f.count, 0u);
    expectSite(status, kEarlier, "earlier", 7);
    if (!r.shadow) continue;
    EXPECT_EQ(get(r.key), r.reset);
  }
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
  EXPECT_STREQ(map().getVersion(), sheet().version);
  EXPECT_STREQ(map().getOldestCompatibleVersion(), sheet().oldest);
}

TEST_P(MapConformance, RegistersOutsideTheWindowFailAndReachNothing) {
  if (!sheet().window) GTEST_SKIP() << "built without a window";
  map_ = build(0, 0, 0);  // nothing is inside
  for (Register const& r : registers_) {
    if (r.key == 0) continue;
    SCOPED_TRACE(::testing::Message() << std::hex << "register 0x" << r.key);
    tLongStatus clean;
    map().flush(r.key, false, clean, 0);  // nothing to write, nothing to refuse
    EXPECT_EQ(clean.head.code, r.written() ? int64_t{0} : int64_t{kStatusBadArgument});
    if (r.written()) {
      tLongStatus status;
      map().write(r.key, 6, false, status, 0);
      expectSite(status, kStatusNotAvailable, file(), r.lines.flush);
      if (r.shadow) {
        EXPECT_EQ(get(r.key), 6u);  // kept, and still to be written
        tLongStatus again;
        map().flush(r.key, false, again, 0);
        expectSite(again, kStatusNotAvailable, file(), r.lines.flush);
      }
    }
    if (r.read()) {
      tLongStatus status;
      u64 value = 0xBAD;
      map().read(r.key, value, status, 0);
      expectSite(status, kStatusNotAvailable, file(), r.lines.refresh);
      EXPECT_EQ(value, r.written() && r.shadow ? 6u : r.reset);
    }
  }
  tLongStatus whole;
  map().flushRegMap(true, whole);
  map().refreshRegMap(whole);
  EXPECT_EQ(whole.head.code, kStatusNotAvailable);
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
}

}  // namespace conformance
