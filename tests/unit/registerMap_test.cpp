// The register-map core over the small maps of testRegisterMaps.h and a
// simulated register block whose every access is logged.
#include "registers/registerMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "support/expectSite.h"
#include "testRegisterMaps.h"

namespace {

using namespace testmaps;
using nQVWENDS100::tLongStatus;
using qvrm7_driver::nQVWEND000::kStatusBadArgument;
using qvrm7_driver::nQVWEND000::kStatusBufferTooSmall;
using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
using qvrm7_driver::nQVWEND000::kStatusNotSupported;
using testing_support::expectSite;

constexpr u32 kAll = 0xFFFFFFFF;

std::string hex(u64 value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

template <class R>
constexpr bool hasAccessibleFlag = requires(R& r) {
  r.accessible;
};

class RegisterMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    block_ = std::make_unique<RegisterBlock>();
    ASSERT_NE(block_->accessor.mappedAddress, 0u);
    sim::enablePciAccessLog(true);
  }
  void TearDown() override {
    sim::enablePciAccessLog(false);
    block_.reset();
    sim::reset();
  }
  // The register accesses since the last call, as "w<offset>/<bytes>:<value>".
  std::string take() {
    std::string accesses;
    for (sim::PciAccess const& a : sim::pciAccessLog()) {
      bool const write = a.kind == sim::PciAccess::Kind::MemoryWrite;
      if (!write && a.kind != sim::PciAccess::Kind::MemoryRead) continue;
      char text[48];
      std::snprintf(text, sizeof text, "%s%c%llx/%u:%x", accesses.empty() ? "" : " ",
                    write ? 'w' : 'r', static_cast<unsigned long long>(a.offset), a.width, a.value);
      accesses += text;
    }
    sim::clearPciAccessLog();
    return accesses;
  }
  BarPath::tAccessor* accessor() { return &block_->accessor; }

  std::unique_ptr<RegisterBlock> block_;
};

// Every ID of offsets 0 to `last`, both views, whole or field, any code,
// through each slot: how many each accepts, every refusal at its site and
// with its value or count cleared. With an error on entry nothing at all.
struct Accepted {
  int get, set, read, write, flush, refresh, format;
  bool operator==(Accepted const&) const = default;
};
Accepted sweep(arm::tDynamicAccessInterface& map, MapDescription const& d, u32 last,
               int64_t entry = 0) {
  Accepted n{};
  auto count = [entry](tLongStatus const& s, int& accepted, StatusSite site, int64_t code) {
    if (s.head.code == entry) return void(accepted += entry == 0);
    EXPECT_EQ(s.head.code, entry == 0 ? code : entry);
    EXPECT_STREQ(s.file, site.file);
    EXPECT_EQ(s.line, site.line);
  };
  for (u32 offset = 0; offset <= last; ++offset)
    for (u32 high : {0u, 0x40000000u, 0x80000000u, 0xC0000000u})
      for (u32 code = 0; code < 64; ++code) {
        u32 const id = high | code << 24 | offset;
        tLongStatus s[7];
        for (tLongStatus& each : s) each.head.code = entry;
        u64 got = 7, read = 7;
        u32 capacity = 32;
        arm::FieldType types[32];
        u64 masks[32];
        map.get(id, got, s[0], 0);
        map.set(id, 0, s[1], 0);
        map.read(id, read, s[2], 0);
        map.write(id, 0, false, s[3], 0);
        map.flush(id, false, s[4], 0);
        map.refresh(id, s[5], 0);
        map.getRegisterFormat(id, capacity, types, masks, s[6]);
        int* const counts[] = {&n.get, &n.set, &n.read, &n.write, &n.flush, &n.refresh, &n.format};
        StatusSite const sites[] = {d.sites.get,   d.sites.set,     d.sites.read,  d.sites.write,
                                    d.sites.flush, d.sites.refresh, d.sites.format};
        for (int i = 0; i < 7; ++i)
          count(s[i], *counts[i], sites[i], i == 6 ? kStatusNotSupported : kStatusBadArgument);
        u64 const refused = entry == 0 ? 0 : 7;
        EXPECT_TRUE(s[0].head.code == 0 || got == refused) << std::hex << id;
        EXPECT_TRUE(s[2].head.code == 0 || read == refused) << std::hex << id;
        EXPECT_TRUE(s[6].head.code == 0 || capacity == (entry == 0 ? 0 : 32)) << std::hex << id;
      }
  return n;
}

TEST_F(RegisterMapTest, EachSlotAcceptsExactlyTheIdsOfItsRegisters) {
  // Whole IDs count once per field code (64), keys once per code and whole
  // bit (128); the figures are counted from the tables by hand.
  tTestRegMap windowed(accessor(), 0, 0, kAll);
  EXPECT_EQ(sweep(windowed, kTestMap, 0x30), (Accepted{720, 654, 521, 719, 1408, 1024, 1536}));
  tPlainRegMap plain(accessor());
  EXPECT_EQ(sweep(plain, kPlainMap, 0x1C), (Accepted{198, 198, 133, 198, 384, 256, 384}));
  take();
  EXPECT_EQ(sweep(windowed, kTestMap, 0x30, -52002), (Accepted{}));
  tStatus status;
  status.code = -52002;
  windowed.markDirtyRegMap();
  windowed.flushRegMap(true, status);
  windowed.refreshRegMap(status);
  windowed.control().writeMode(1, status, true);
  EXPECT_EQ(status.code, -52002);
  EXPECT_EQ(take(), "");
}

TEST_F(RegisterMapTest, ALargeMapAcceptsEveryIdOfItsArraysAndNoOther) {
  tLargeRegMap map(accessor(), 0, 0, kAll);
  int got = 0, flushed = 0;
  for (u32 offset = 0; offset < 0x2004; ++offset)
    for (u32 high : {0u, 0x40000000u, 0x80000000u, 0xC0000000u})
      for (u32 code = 0; code < 64; ++code) {
        tStatus a, b;
        u64 value;
        map.get(high | code << 24 | offset, value, a, 0);
        map.flush(high | code << 24 | offset, false, b, 0);
        got += a.code == 0;
        flushed += b.code == 0;
      }
  EXPECT_EQ(got, 1536 * 64 + 512 * 4 + 1024);
  EXPECT_EQ(flushed, 1536 * 128);
  EXPECT_EQ(&map.recordFor<0x80001FFC>(), &map.record<1>(1023));
  EXPECT_EQ(map.record<1>(1023).address, 0x1FFCu);
  tStatus status;
  map.record<0>(511).writeField<9>(7, status, false);
  EXPECT_EQ(take(), "w7fc/4:e00");
}

// A write is the set and then the flush: what reaches the hardware is the
// shadow the set made, once, and only when it changed or is forced.
TEST_F(RegisterMapTest, WriteSetsWhatFitsAndReachesTheHardwareOnceWithTheRegistersWidth) {
  struct Case {
    u32 id;
    u64 before, value;
    bool force;
    int times;
    char const* accesses;
    u64 shadow;  // of the whole register afterwards
  } const cases[] = {
      {0x04000000, 0x3, 0x1FF, false, 1, "w0/4:ff03", 0xFF03},  // low bits only, neighbours kept
      {0x10000000, 0, 2, false, 1, "w0/4:4", 0},                // one bit: any non-zero sets it
      {0x10000000, 0, 1ull << 32, false, 1, "w0/4:4", 0},       // ... on all 64 bits
      {0x80000008, 0, 0x1FF, false, 1, "w8/1:ff", 0xFF},        // 8 bits kept of a whole value
      {0x0400000A, 0x1, 0xFF, false, 1, "wa/2:ff01", 0xFF01},
      {0x0000000A, 0x1, 1, false, 1, "", 0x1},                  // unchanged: nothing
      {0xBF000010, 0, 0x1234, false, 1, "w10/4:1234", 0x1234},  // a whole ID's code ignored
      {0x06000004, 0, 1, false, 1, "w4/4:1000000", 0},          // a strobe leaves the shadow
      {0x80000000, 0, 0xFFFFFFFF, false, 1, "w0/4:ffffffff", 0x7FFFFFFB},
      {0xC0000000, 0, 5, false, 1, "w0/4:5", 1},  // the alias writes the same record
      {0x80000010, 0, 0, true, 1, "w10/4:0", 0},
      {0x80000010, 0x7, 0x7, false, 2, "", 0x7},
      {0x0000000C, 0, 7, false, 2, "wc/4:7 wc/4:7", kAll},  // no shadow: always written
  };
  for (Case const& c : cases) {
    tTestRegMap map(accessor(), 0, 0, kAll);
    tStatus status;
    u32 const whole = (c.id | 0x80000000u) & 0xC0FFFFFFu;
    if (c.before != 0) map.write(whole, c.before, true, status, 0);
    take();
    for (int i = 0; i < c.times; ++i) map.write(c.id, c.value, c.force, status, 0);
    EXPECT_EQ(take(), c.accesses) << std::hex << c.id;
    u64 shadow = kAll;
    map.get(whole, shadow, status, 0);
    EXPECT_EQ(shadow, c.shadow == kAll ? 0 : c.shadow) << std::hex << c.id;
    EXPECT_EQ(status.code, c.shadow == kAll ? int64_t{kStatusBadArgument} : 0);
  }
}

TEST_F(RegisterMapTest, ReadRefreshesFromTheHardwareAndNamedRecordsShareTheSteps) {
  tTestRegMap map(accessor(), 0, 0, kAll);
  block_->bar().store(0x04, 4, 0x000100AB);
  block_->bar().store(0x10, 4, 0xCAFE);
  tLongStatus status;
  u64 value = 0;
  map.set(0x80000010, 1, status, 0);
  map.read(0x00000010, value, status, 0);  // the pending set is overwritten, the record clean
  EXPECT_EQ(value, 0xCAFEu);
  map.read(0x42000004, value, status, 0);
  EXPECT_EQ(value, 1u);
  map.flushRegMap(false, status);
  EXPECT_EQ(take(), "r10/4:cafe r4/4:100ab");

  tStatus clean;
  map.control().writeMode(3, clean, false);
  map.count(2).writeRegister(0x1234, clean, false);
  EXPECT_EQ(map.status().readRegister(clean), 0x100ABu);
  EXPECT_EQ(map.control().readMode(clean), 3u);
  EXPECT_EQ(take(), "w0/4:3 w28/4:1234 r4/4:100ab r0/4:3");
}

TEST_F(RegisterMapTest, FormatListsTheFieldsOfTheNamedView) {
  struct Case {
    u32 id, capacity;
    int64_t code;
    u64 line;
    char const* fields;  // type:mask, lowest bit first
  } const cases[] = {
      {0x80000000, 8, 0, 0, "1:3 0:4 1:ff00 0:80000000"},
      {0x3E000000, 4, 0, 0, "1:3 0:4 1:ff00 0:80000000"},  // any ID of the register
      {0xC0000000, 2, 0, 0, "1:3 1:ff00"},                 // the alias leaves out strobe bits
      {0x8000002C, 1, 0, 0, "2:ffff"},
      {0x80000000, 3, kStatusBufferTooSmall, 200, ""},
      {0xC0000000, 1, kStatusBufferTooSmall, 201, ""},
      {0xC0000004, 0, kStatusBufferTooSmall, 202, ""},
      {0x80000014, 8, kStatusNotSupported, 16, ""},
  };
  tTestRegMap map(accessor(), 0, 0, kAll);
  for (Case const& c : cases) {
    tLongStatus status;
    u32 count = c.capacity;
    arm::FieldType types[8];
    u64 masks[8];
    map.getRegisterFormat(c.id, count, types, masks, status);
    EXPECT_EQ(status.head.code, c.code) << std::hex << c.id;
    EXPECT_EQ(status.line, c.line);
    std::string fields;
    for (u32 i = 0; c.code == 0 && i < count; ++i)
      fields += (i ? " " : "") + std::to_string(types[i]) + ":" + hex(masks[i]);
    EXPECT_EQ(fields, c.fields);
    EXPECT_EQ(count, c.code == kStatusNotSupported ? 0u : c.code == 0 ? count : c.capacity);
  }
}

TEST_F(RegisterMapTest, OutsideTheWindowOnlyTheShadowWorksAndWholeMapOperationsCarryOn) {
  // Offsets 0x04 to 0x0F are inside; records sit at base + offset - start.
  tTestRegMap map(accessor(), 0x100, 0x04, 0x0C);
  EXPECT_EQ(map.control().address, 0xFCu);
  EXPECT_FALSE(map.control().accessible);
  EXPECT_TRUE(map.fifo().accessible);
  EXPECT_FALSE(map.record<6>().accessible);  // offset - start == size
  tLongStatus status, outside, whole, refreshed;
  u64 value = 0;
  map.set(0x80000000, 9, status, 0);
  map.read(0x80000000, value, status, 0);
  expectSite(status, kStatusNotAvailable, kTestFile, 100);
  EXPECT_EQ(value, 9u);
  map.write(0x80000010, 1, true, outside, 0);
  expectSite(outside, kStatusNotAvailable, kTestFile, 108);
  map.fifo().writeRegister(5, whole, false);
  EXPECT_EQ(take(), "w108/4:5");

  map.markDirtyRegMap();
  map.flushRegMap(false, whole);
  EXPECT_EQ(whole.head.code, kStatusNotAvailable);  // merged from a short status: code alone
  EXPECT_EQ(whole.line, 0u);
  EXPECT_EQ(take(), "w100/4:0 w104/1:0 w106/2:1");
  map.refreshRegMap(refreshed);
  EXPECT_EQ(refreshed.head.code, kStatusNotAvailable);
  EXPECT_EQ(take(), "r100/4:0");

  map.reinitialize();
  tStatus after;
  map.get(0x80000000, value, after, 0);
  map.flushRegMap(false, after);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(after.code, 0);
  EXPECT_EQ(take(), "");
}

TEST_F(RegisterMapTest, WholeMapOperationsFollowDeclarationOrderIntoMemberMaps) {
  tParentRegMap map(accessor(), 0, 0, kAll);
  tStatus status;
  map.flushRegMap(false, status);
  EXPECT_EQ(take(), "");
  char const* written =
      "w0/4:0 w40/4:0 w44/4:0 w48/1:0 w4a/2:1 w50/4:0 w60/4:0 w64/4:0 w68/4:0 w6c/4:0";
  map.markDirtyRegMap();
  map.flushRegMap(false, status);
  EXPECT_EQ(take(), written);
  map.refreshRegMap(status);
  EXPECT_EQ(take(), "r0/4:0 r40/4:0 r44/4:0 r50/4:0 r60/4:0 r64/4:0 r68/4:0 r6c/4:0");
  map.member.set(0x80000010, 3, status, 0);
  map.reinitialize();
  map.flushRegMap(false, status);
  EXPECT_EQ(take(), "");
  map.flushRegMap(true, status);
  EXPECT_EQ(take(), written);
  EXPECT_EQ(status.code, 0);
}

TEST_F(RegisterMapTest, WithoutWindowTheSixtyFourBitRecordIsOnePlainStore) {
  tPlainRegMap map(accessor());
  static_assert(!hasAccessibleFlag<std::remove_reference_t<decltype(map.data64())>>);
  tStatus status;
  u64 value = 0;
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000203u);
  map.set(0x00000000, 2, status, 0);  // a one-bit field taking the low bit
  map.set(0x20000000, 2, status, 0);  // one that takes any non-zero
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000202u);
  map.read(0x04000000, value, status, 0);  // a strobe field this map reads
  map.set(0x80000010, 0xAB, status, 0);
  map.data64().shadow = 0x0123456789ABCDEFull;
  map.data64().dirty = true;
  map.flushRegMap(false, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(take(), "r0/4:0 w10/1:ab");
  EXPECT_EQ(block_->bar().load64(0x10), 0x0123456789ABCDEFull);
  EXPECT_EQ(map.data64().shadow, 0u);
  map.get(0x80000010, value, status, 0);
  EXPECT_EQ(value, 0u);  // all strobe: the shadow empties after the write
}

TEST_F(RegisterMapTest, AnotherPathToTheHardwareKeepsTheRecordWhenItFails) {
  FakePort port;
  port.readValue = 0x55;
  tPortRegMap map(&port);
  tStatus status, failedRead, failedWrite, whole;
  u64 value = 0;
  map.read(0x80000018, value, status, 0);
  port.fail = true;
  map.read(0x80000018, value, failedRead, 0);
  EXPECT_EQ(failedRead.code, FakePortPath::kFailure);
  EXPECT_EQ(value, 0x55u);
  map.write(0x04000000, 1, false, failedWrite, 0);  // strobe bit 8: kept, still dirty
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000303u);
  map.flushRegMap(false, whole);
  EXPECT_EQ(whole.code, FakePortPath::kFailure);
  port.fail = false;
  map.flush(0x80000000, false, status, 0);
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000203u);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(port.log, "r18/32 r18/32 w0/32:f000303 w0/32:f000303 w0/32:f000303");
}

}  // namespace
