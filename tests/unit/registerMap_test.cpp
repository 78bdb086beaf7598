// The register-map core over the small maps of testRegisterMaps.h and a
// simulated register block whose every access is logged.
#include "registers/registerMap.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "pciTestDevice.h"
#include "testRegisterMaps.h"

namespace {

using namespace testmaps;
using nQVWENDS100::tLongStatus;
using pcitest::expectSite;
using qvrm7_driver::nQVWEND000::kStatusBadArgument;
using qvrm7_driver::nQVWEND000::kStatusBufferTooSmall;
using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
using qvrm7_driver::nQVWEND000::kStatusNotSupported;

struct Access {
  char kind;  // 'r' or 'w'
  uint64_t offset;
  unsigned width;  // bytes
  uint32_t value;
  bool operator==(Access const&) const = default;
};
void PrintTo(Access const& a, std::ostream* out) {
  *out << a.kind << "@0x" << std::hex << a.offset << "/" << a.width << "=0x" << a.value;
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
    accessor_ = block_->accessor;
    ASSERT_NE(accessor_.mappedAddress, 0u);
    sim::enablePciAccessLog(true);
  }
  void TearDown() override {
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    block_.reset();
    sim::reset();
  }
  sim::Bar& bar() { return block_->bar(); }
  std::vector<Access> take() {
    std::vector<Access> accesses;
    for (sim::PciAccess const& a : sim::pciAccessLog()) {
      bool const write = a.kind == sim::PciAccess::Kind::MemoryWrite;
      if (write || a.kind == sim::PciAccess::Kind::MemoryRead)
        accesses.push_back({write ? 'w' : 'r', a.offset, a.width, a.value});
    }
    sim::clearPciAccessLog();
    return accesses;
  }

  std::unique_ptr<RegisterBlock> block_;
  BarPath::tAccessor accessor_{};
};

// Every ID of offsets 0 to `last`, both views, whole or field, any code,
// through each slot: how many each accepts, and every refusal at its site.
struct Accepted {
  int get, set, read, write, flush, refresh, format;
  bool operator==(Accepted const&) const = default;
};
Accepted sweep(arm::tDynamicAccessInterface& map, MapDescription const& d, uint32_t last) {
  Accepted n{};
  auto count = [](tLongStatus const& s, int& accepted, StatusSite site, int64_t code) {
    if (s.head.code == 0) return void(++accepted);
    EXPECT_EQ(s.head.code, code);
    EXPECT_STREQ(s.file, site.file);
    EXPECT_EQ(s.line, site.line);
  };
  for (uint32_t offset = 0; offset <= last; ++offset)
    for (uint32_t high : {0u, 0x40000000u, 0x80000000u, 0xC0000000u})
      for (uint32_t code = 0; code < 64; ++code) {
        uint32_t const id = high | code << 24 | offset;
        tLongStatus s[7];
        uint64_t got = 7, read = 7;
        uint32_t capacity = 32;
        arm::FieldType types[32];
        uint64_t masks[32];
        map.get(id, got, s[0], 0);
        map.set(id, 0, s[1], 0);
        map.read(id, read, s[2], 0);
        map.write(id, 0, false, s[3], 0);
        map.flush(id, false, s[4], 0);
        map.refresh(id, s[5], 0);
        map.getRegisterFormat(id, capacity, types, masks, s[6]);
        count(s[0], n.get, d.sites.get, kStatusBadArgument);
        count(s[1], n.set, d.sites.set, kStatusBadArgument);
        count(s[2], n.read, d.sites.read, kStatusBadArgument);
        count(s[3], n.write, d.sites.write, kStatusBadArgument);
        count(s[4], n.flush, d.sites.flush, kStatusBadArgument);
        count(s[5], n.refresh, d.sites.refresh, kStatusBadArgument);
        count(s[6], n.format, d.sites.format, kStatusNotSupported);
        EXPECT_TRUE(s[0].head.code == 0 || got == 0) << std::hex << id;
        EXPECT_TRUE(s[2].head.code == 0 || read == 0) << std::hex << id;
        EXPECT_TRUE(s[6].head.code == 0 || capacity == 0) << std::hex << id;
      }
  return n;
}

TEST_F(RegisterMapTest, EachSlotAcceptsExactlyTheIdsOfItsRegisters) {
  // Whole IDs count once per field code (64), keys once per code and whole
  // bit (128); the expected figures are counted from the tables by hand.
  tTestRegMap windowed(&accessor_, 0, 0, 0xFFFFFFFF);
  EXPECT_EQ(sweep(windowed, kTestMap, 0x30), (Accepted{720, 654, 521, 719, 1408, 1024, 1536}));
  tPlainRegMap plain(&accessor_);
  EXPECT_EQ(sweep(plain, kPlainMap, 0x1C), (Accepted{198, 198, 133, 198, 384, 256, 384}));
}

TEST_F(RegisterMapTest, ALargeMapAcceptsEveryIdOfItsArraysAndNoOther) {
  tLargeRegMap large(&accessor_, 0, 0, 0xFFFFFFFF);
  tLargeRegMap* map = &large;
  int got = 0, flushed = 0;
  for (uint32_t offset = 0; offset < 0x2004; ++offset)
    for (uint32_t high : {0u, 0x40000000u, 0x80000000u, 0xC0000000u})
      for (uint32_t code = 0; code < 64; ++code) {
        tStatus a, b;
        uint64_t value;
        map->get(high | code << 24 | offset, value, a, 0);
        map->flush(high | code << 24 | offset, false, b, 0);
        got += a.code == 0;
        flushed += b.code == 0;
      }
  EXPECT_EQ(got, 1536 * 64 + 512 * 4 + 1024);
  EXPECT_EQ(flushed, 1536 * 128);
  EXPECT_EQ(&map->recordFor<0x80001FFC>(), &map->record<1>(1023));
  EXPECT_EQ(map->record<1>(1023).address, 0x1FFCu);
  tStatus status;
  map->record<0>(511).writeField<9>(7, status, false);
  EXPECT_EQ(take(), (std::vector<Access>{{'w', 0x7FC, 4, 0xE00}}));
}

TEST_F(RegisterMapTest, SetKeepsWhatFitsAndDirtiesOnlyOnChange) {
  struct Case {
    bool plain;
    uint32_t id;
    uint64_t before, value, after;
  } const cases[] = {
      {false, 0x04000000, 0x3, 0x1FF, 0xFF03},           // wider than the field: low bits only
      {false, 0x10000000, 0x0, 2, 0x4},                  // one-bit field: any non-zero sets
      {false, 0x00000000, 0x3, 0, 0x0},                  //
      {false, 0x10000000, 0x0, 1ull << 32, 0x4},         // ... tested on all 64 bits
      {false, 0x80000008, 0x0, 0x1FF, 0xFF},             // an 8-bit register keeps 8 bits
      {false, 0xBF000010, 0x0, 0x12345678, 0x12345678},  // a whole ID's field code is ignored
      {false, 0xC0000000, 0x0, 0x5, 0x5},                // the read-view alias sets the same record
      {false, 0x80000010, 0x7, 0x7, 0x7},                // unchanged: stays clean
      {true, 0x00000000, 0x0, 2, 0x0},                   // one-bit fields taking the low bit
      {true, 0x00000000, 0x0, 3, 0x1},                   //
      {true, 0x20000000, 0x0, 2, 0x2},                   // ... except one marked otherwise
  };
  for (Case const& c : cases) {
    tTestRegMap windowed(&accessor_, 0, 0, 0xFFFFFFFF);
    tPlainRegMap plain(&accessor_);
    arm::tDynamicAccessInterface* map =
        c.plain ? static_cast<arm::tDynamicAccessInterface*>(&plain) : &windowed;
    uint32_t const whole = (c.id | 0x80000000u) & 0xC0FFFFFFu;
    tStatus status;
    uint64_t value = 0;
    map->set(whole, c.before, status, 0);
    map->flush(whole, true, status, 0);
    take();
    map->set(c.id, c.value, status, 0);
    map->get(whole, value, status, 0);
    map->flush(whole, false, status, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(value, c.after) << std::hex << c.id;
    EXPECT_EQ(take().size(), c.after == c.before ? 0u : 1u) << std::hex << c.id;
  }
}

TEST_F(RegisterMapTest, WriteReachesTheHardwareOnceWithTheRegistersWidth) {
  struct Case {
    uint32_t id;
    uint64_t value;
    bool force;
    int times;
    std::vector<Access> accesses;
    uint64_t shadow;  // of the whole register afterwards
  } const cases[] = {
      {0x80000008, 0x1FF, false, 1, {{'w', 0x08, 1, 0xFF}}, 0xFF},
      {0x0400000A, 0xFF, false, 1, {{'w', 0x0A, 2, 0xFF01}}, 0xFF01},  // reset value 0x1 kept
      {0x0000000A, 1, false, 1, {}, 0x1},
      {0x8000000C, 7, false, 2, {{'w', 0x0C, 4, 7}, {'w', 0x0C, 4, 7}}, 0},  // no shadow
      {0x06000004, 1, false, 1, {{'w', 0x04, 4, 0x01000000}}, 0},            // strobe dropped
      {0x80000000, 0xFFFFFFFF, false, 1, {{'w', 0x00, 4, 0xFFFFFFFF}}, 0x7FFFFFFB},
      {0xC0000000, 5, false, 1, {{'w', 0x00, 4, 5}}, 1},  // bit 2 is a strobe bit
      {0x80000010, 0, true, 1, {{'w', 0x10, 4, 0}}, 0},
      {0x80000010, 0, false, 1, {}, 0},
  };
  for (Case const& c : cases) {
    tTestRegMap map(&accessor_, 0, 0, 0xFFFFFFFF);
    tStatus status;
    for (int i = 0; i < c.times; ++i) map.write(c.id, c.value, c.force, status, 0);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(take(), c.accesses) << std::hex << c.id;
    uint64_t shadow = 0;
    map.get((c.id | 0x80000000u) & 0xC0FFFFFFu, shadow, status, 0);
    if (c.id != 0x8000000C) {
      EXPECT_EQ(shadow, c.shadow) << std::hex << c.id;
    }
  }
}

TEST_F(RegisterMapTest, ReadRefreshesFromTheHardwareAndNamedRecordsShareTheSlots) {
  tTestRegMap map(&accessor_, 0, 0, 0xFFFFFFFF);
  bar().store(0x04, 4, 0x000100AB);
  bar().store(0x10, 4, 0xCAFE);
  tLongStatus status;
  uint64_t value = 0;
  map.set(0x80000010, 1, status, 0);
  map.read(0x00000010, value, status, 0);  // the pending set is overwritten, the record clean
  EXPECT_EQ(value, 0xCAFEu);
  map.read(0x42000004, value, status, 0);
  EXPECT_EQ(value, 1u);
  map.flushRegMap(false, status);
  EXPECT_EQ(take(), (std::vector<Access>{{'r', 0x10, 4, 0xCAFE}, {'r', 0x04, 4, 0x100AB}}));
  map.read(0x10000000, value, status, 0);  // a strobe field reads back nothing
  expectSite(status, kStatusBadArgument, kTestFile, 12);
  EXPECT_EQ(value, 0u);

  tStatus clean;
  map.control().writeMode(3, clean, false);
  map.count(2).writeRegister(0x1234, clean, false);
  EXPECT_EQ(map.status().readRegister(clean), 0x100ABu);
  EXPECT_EQ(map.control().readMode(clean), 3u);
  EXPECT_EQ(
      take(),
      (std::vector<Access>{
          {'w', 0x00, 4, 3}, {'w', 0x28, 4, 0x1234}, {'r', 0x04, 4, 0x100AB}, {'r', 0x00, 4, 3}}));
  EXPECT_STREQ(map.getVersion(), "1.2.3f4");
  EXPECT_STREQ(map.getOldestCompatibleVersion(), "1.0.0f1");
}

TEST_F(RegisterMapTest, FormatListsTheFieldsOfTheNamedView) {
  struct Case {
    uint32_t id, capacity;
    int64_t code;
    uint64_t line;
    std::vector<int> types;
    std::vector<uint64_t> masks;
  } const cases[] = {
      {0x80000000, 8, 0, 0, {1, 0, 1, 0}, {0x3, 0x4, 0xFF00, 0x80000000}},
      {0x3E000000, 4, 0, 0, {1, 0, 1, 0}, {0x3, 0x4, 0xFF00, 0x80000000}},  // any code
      {0xC0000000, 8, 0, 0, {1, 1}, {0x3, 0xFF00}},  // the alias leaves out strobe bits
      {0x40000000, 2, 0, 0, {1, 1}, {0x3, 0xFF00}},
      {0x8000002C, 1, 0, 0, {2}, {0xFFFF}},
      {0x80000000, 3, kStatusBufferTooSmall, 200, {}, {}},
      {0xC0000000, 1, kStatusBufferTooSmall, 201, {}, {}},
      {0xC0000004, 0, kStatusBufferTooSmall, 202, {}, {}},
      {0x80000014, 8, kStatusNotSupported, 16, {}, {}},
      {0x80000030, 8, kStatusNotSupported, 16, {}, {}},
  };
  tTestRegMap map(&accessor_, 0, 0, 0xFFFFFFFF);
  for (Case const& c : cases) {
    tLongStatus status;
    uint32_t count = c.capacity;
    arm::FieldType types[8];
    uint64_t masks[8];
    map.getRegisterFormat(c.id, count, types, masks, status);
    EXPECT_EQ(status.head.code, c.code) << std::hex << c.id;
    if (c.code != 0) {
      EXPECT_EQ(status.line, c.line);
      EXPECT_EQ(count, c.code == kStatusNotSupported ? 0u : c.capacity);
      continue;
    }
    ASSERT_EQ(count, c.types.size());
    for (uint32_t i = 0; i < count; ++i) {
      EXPECT_EQ(types[i], c.types[i]);
      EXPECT_EQ(masks[i], c.masks[i]);
    }
  }
}

TEST_F(RegisterMapTest, OutsideTheWindowOnlyTheShadowWorksAndWholeMapOperationsCarryOn) {
  // Offsets 0x04 to 0x0F are inside; records sit at base + offset - start.
  tTestRegMap map(&accessor_, 0x100, 0x04, 0x0C);
  EXPECT_EQ(map.control().address, 0xFCu);
  EXPECT_FALSE(map.control().accessible);
  EXPECT_TRUE(map.fifo().accessible);
  EXPECT_FALSE(map.record<6>().accessible);  // offset - start == size
  tLongStatus status;
  uint64_t value = 0;
  map.set(0x80000000, 9, status, 0);
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 9u);
  map.read(0x80000000, value, status, 0);
  expectSite(status, kStatusNotAvailable, kTestFile, 100);
  EXPECT_EQ(value, 9u);
  tLongStatus outside;
  map.write(0x80000010, 1, true, outside, 0);
  expectSite(outside, kStatusNotAvailable, kTestFile, 108);
  tStatus inside;
  map.write(0x8000000C, 5, false, inside, 0);
  EXPECT_EQ(take(), (std::vector<Access>{{'w', 0x108, 4, 5}}));

  map.markDirtyRegMap();
  tLongStatus whole;
  map.flushRegMap(false, whole);
  expectSite(whole, kStatusNotAvailable, "", 0);  // merged from a short status
  EXPECT_EQ(take(),
            (std::vector<Access>{{'w', 0x100, 4, 0}, {'w', 0x104, 1, 0}, {'w', 0x106, 2, 1}}));
  tLongStatus refreshed;
  map.refreshRegMap(refreshed);
  EXPECT_EQ(refreshed.head.code, kStatusNotAvailable);
  EXPECT_EQ(take(), (std::vector<Access>{{'r', 0x100, 4, 0}}));

  map.reinitialize();
  tStatus after;
  map.get(0x80000000, value, after, 0);
  map.flushRegMap(false, after);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(after.code, 0);
  EXPECT_TRUE(take().empty());
}

TEST_F(RegisterMapTest, WholeMapOperationsFollowDeclarationOrderIntoMemberMaps) {
  tParentRegMap map(&accessor_, 0, 0, 0xFFFFFFFF);
  tStatus status;
  map.flushRegMap(false, status);
  EXPECT_TRUE(take().empty());
  map.markDirtyRegMap();
  map.flushRegMap(false, status);
  std::vector<Access> const written{{'w', 0x00, 4, 0}, {'w', 0x40, 4, 0}, {'w', 0x44, 4, 0},
                                    {'w', 0x48, 1, 0}, {'w', 0x4A, 2, 1}, {'w', 0x50, 4, 0},
                                    {'w', 0x60, 4, 0}, {'w', 0x64, 4, 0}, {'w', 0x68, 4, 0},
                                    {'w', 0x6C, 4, 0}};
  EXPECT_EQ(take(), written);
  map.refreshRegMap(status);
  EXPECT_EQ(take(), (std::vector<Access>{{'r', 0x00, 4, 0},
                                         {'r', 0x40, 4, 0},
                                         {'r', 0x44, 4, 0},
                                         {'r', 0x50, 4, 0},
                                         {'r', 0x60, 4, 0},
                                         {'r', 0x64, 4, 0},
                                         {'r', 0x68, 4, 0},
                                         {'r', 0x6C, 4, 0}}));
  map.member.set(0x80000010, 3, status, 0);
  map.reinitialize();
  map.flushRegMap(false, status);
  EXPECT_TRUE(take().empty());
  map.flushRegMap(true, status);
  EXPECT_EQ(take(), written);
  EXPECT_EQ(status.code, 0);
}

TEST_F(RegisterMapTest, AnErrorOnEntryMakesEverySlotDoNothing) {
  tTestRegMap map(&accessor_, 0, 0, 0xFFFFFFFF);
  std::function<void(tStatus&, uint64_t&, uint32_t&)> const slots[] = {
      [&](tStatus& s, uint64_t& v, uint32_t&) { map.get(0x80000010, v, s, 0); },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.set(0x80000010, 1, s, 0); },
      [&](tStatus& s, uint64_t& v, uint32_t&) { map.read(0x80000010, v, s, 0); },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.write(0x8000000C, 1, true, s, 0); },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.flush(0x80000010, true, s, 0); },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.refresh(0x80000010, s, 0); },
      [&](tStatus& s, uint64_t&, uint32_t& n) {
        map.getRegisterFormat(0x1, n, nullptr, nullptr, s);
      },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.flushRegMap(true, s); },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.refreshRegMap(s); },
      [&](tStatus& s, uint64_t&, uint32_t&) { map.control().writeMode(1, s, true); },
  };
  for (auto const& slot : slots) {
    tStatus status;
    status.code = -52002;
    uint64_t value = 77;
    uint32_t count = 5;
    slot(status, value, count);
    EXPECT_EQ(status.code, -52002);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(count, 5u);
  }
  uint64_t shadow = 1;
  tStatus clean;
  map.get(0x80000010, shadow, clean, 0);
  EXPECT_EQ(shadow, 0u);
  EXPECT_TRUE(take().empty());
}

TEST_F(RegisterMapTest, WithoutWindowTheSixtyFourBitRecordIsOnePlainStore) {
  tPlainRegMap map(&accessor_);
  static_assert(!hasAccessibleFlag<std::remove_reference_t<decltype(map.data64())>>);
  tStatus status;
  uint64_t value = 0;
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000203u);
  map.read(0x04000000, value, status, 0);  // a strobe field this map reads
  EXPECT_EQ(status.code, 0);
  map.set(0x80000010, 0xAB, status, 0);
  map.data64().shadow = 0x0123456789ABCDEFull;
  map.data64().dirty = true;
  map.flushRegMap(false, status);
  EXPECT_EQ(take(), (std::vector<Access>{{'r', 0x00, 4, 0}, {'w', 0x10, 1, 0xAB}}));
  EXPECT_EQ(bar().load64(0x10), 0x0123456789ABCDEFull);
  EXPECT_EQ(map.data64().shadow, 0u);
  map.get(0x80000010, value, status, 0);
  EXPECT_EQ(value, 0u);  // all strobe: the shadow empties after the write
}

TEST_F(RegisterMapTest, AnotherPathToTheHardwareKeepsTheRecordWhenItFails) {
  FakePort port;
  port.readValue = 0x55;
  tPortRegMap map(&port);
  tStatus status;
  uint64_t value = 0;
  map.read(0x80000018, value, status, 0);
  EXPECT_EQ(value, 0x55u);
  port.fail = true;
  port.readValue = 0x66;
  tStatus failed;
  map.read(0x80000018, value, failed, 0);
  EXPECT_EQ(failed.code, FakePortPath::kFailure);
  EXPECT_EQ(value, 0x55u);
  tStatus write;
  map.write(0x04000000, 1, false, write, 0);  // strobe bit 8 set; the write fails
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000303u);
  tStatus whole;
  map.flushRegMap(false, whole);  // still dirty, so tried again; the rest still runs
  EXPECT_EQ(whole.code, FakePortPath::kFailure);
  port.fail = false;
  map.flush(0x80000000, false, status, 0);
  map.get(0x80000000, value, status, 0);
  EXPECT_EQ(value, 0x0F000203u);
  using P = FakePort::Access;
  EXPECT_EQ(port.log, (std::vector<P>{{false, 0x18, 32, 0},
                                      {false, 0x18, 32, 0},
                                      {true, 0x00, 32, 0x0F000303},
                                      {true, 0x00, 32, 0x0F000303},
                                      {true, 0x00, 32, 0x0F000303}}));
  EXPECT_EQ(status.code, 0);
}

}  // namespace
