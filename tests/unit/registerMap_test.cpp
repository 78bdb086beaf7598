// The register-map core over the small maps of testRegisterMaps.h: the
// conformance harness for what a sheet can say, and below it the variants
// no sheet describes.
#include "registers/registerMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "support/expectSite.h"
#include "support/fpgaMapBuild.h"
#include "support/mapConformance.h"
#include "testRegisterMaps.h"

namespace conformance {
namespace {

using armcore::BarPath;
using testmaps::tPlainRegMap;
using testmaps::tTestRegMap;

// The test maps sit in a stretch of BAR 0 that no model claims: plain memory,
// whose every access through the imports the layer's access log records.
constexpr u64 kPlainBlock = 0x40000;

Probe loggedBlock(sim::Rm7Module& module) {
  sim::enablePciAccessLog(true);
  auto log = [] {
    std::vector<Hit> hits;
    for (sim::PciAccess const& a : sim::pciAccessLog()) {
      bool const write = a.kind == sim::PciAccess::Kind::MemoryWrite;
      if ((write || a.kind == sim::PciAccess::Kind::MemoryRead) && a.offset >= kPlainBlock)
        hits.push_back({write, static_cast<u32>(a.offset - kPlainBlock), a.width, a.value});
    }
    return hits;
  };
  sim::Bar& bar = module.bar0();
  return {log, [] { return std::vector<Hit>{}; }, sim::clearPciAccessLog,
          [&bar](u32 offset, u64 value) {
            bar.store(kPlainBlock + offset, 4, static_cast<u32>(value));
          }};
}

// offset, access, key, refresh / flush / format line, fields [, alias, its line and fields,
// strobe bits, width, shadow, reset]
std::vector<Register> testRegisters() {
  std::vector<Register> r = {
      {0x00, kReadWritten, 0x80000000, 100, 101, 200, 4, 0xC0000000, 201, 2, 0x80000004},
      {0x04, kRead, 0xC0000004, 102, 0, 202, 2},
      {0x04, kWritten, 0x80000004, 0, 103, 203, 1, 0, 0, 0, 0x01000000},
      {0x08, kWritten, 0x80000008, 0, 104, 204, 2, 0, 0, 0, 0, 8},
      {0x0A, kWritten, 0x8000000A, 0, 105, 205, 2, 0, 0, 0, 0, 16, true, 1},
      {0x0C, kWritten, 0x8000000C, 0, 106, 206, 1, 0, 0, 0, 0, 32, false},
      {0x10, kReadWritten, 0x80000010, 107, 108, 207, 1}};
  for (u32 offset = 0x20; offset < 0x30; offset += 4)  // the array
    r.push_back({offset, kReadWritten, 0x80000000 | offset, 109, 110, 208, 1});
  return r;
}

Sheet const kTestSheet = withSites({.name = "TestRegMap",
                                    .block = kPlainBlock,
                                    .span = 0x30,
                                    .build = buildFpgaMap<tTestRegMap>(0x30),
                                    .probe = loggedBlock,
                                    .version = "1.2.3f4",
                                    .oldest = "1.0.0f1",
                                    .counts = {27, 24, 17, 26, 11, 8, 12},
                                    .registers = testRegisters},
                                   testmaps::kTestFile, {10, 11, 12, 13, 14, 15, 16});

// Without a window; its 64-bit record at 0x10 is one plain store, which the
// log cannot see (its own test below checks it).
Sheet const kPlainSheet = withSites(
    {.name = "PlainRegMap",
     .block = kPlainBlock,
     .span = 0x20,
     .build = buildFpgaMap<tPlainRegMap>(0x20),
     .probe = loggedBlock,
     .version = "22.8.0f108",
     .oldest = "22.8.0f108",
     .counts = {9, 9, 7, 9, 3, 2, 3},
     .registers =
         [] {
           return std::vector<Register>{
               {0x00, kReadWritten, 0x80000000, 0, 0, 400, 4, 0, 0, 0, 0x100, 32, true, 0x0F000203},
               {0x10, kWritten, 0x80000010, 0, 0, 401, 1, 0, 0, 0, 0xFF, 8},
               {0x18, kReadWritten, 0x80000018, 0, 0, 402, 1}};
         },
     .window = false,
     .boolean = [](u32 field) { return (field >> 24 & 0x3F) == fieldCode(1); }},  // bit 1 alone
    testmaps::kPlainFile, {30, 31, 32, 33, 34, 35, 36});

INSTANTIATE_TEST_SUITE_P(Core, MapConformance, ::testing::Values(&kTestSheet, &kPlainSheet),
                         sheetName);

}  // namespace
}  // namespace conformance

namespace {

using namespace testmaps;
using nQVWENDS100::tLongStatus;
using qvrm7_driver::nQVWEND000::kStatusBadArgument;
using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
using testing_support::expectSite;

constexpr u32 kAll = 0xFFFFFFFF;

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

// A write is the set and then the flush: what reaches the hardware is the
// shadow the set made, once, and only when it changed; a record without
// shadow is written every time.
TEST_F(RegisterMapTest, WriteSetsWhatFitsAndReachesTheHardwareOnlyWhenItChanged) {
  struct Case {
    u32 id;
    u64 before, value;
    int times;
    char const* accesses;
    u64 shadow;  // of the whole register afterwards
  } const cases[] = {
      {0x04000000, 0x3, 0x1FF, 1, "w0/4:ff03", 0xFF03},  // low bits only, neighbours kept
      {0x10000000, 0, 1ull << 32, 1, "w0/4:4", 0},       // one bit: any non-zero of 64
      {0xBF000010, 0, 0x1234, 1, "w10/4:1234", 0x1234},  // a whole ID's code ignored
      {0x0000000A, 0x1, 1, 2, "", 0x1},                  // unchanged: nothing
      {0x0000000C, 0, 7, 2, "wc/4:7 wc/4:7", kAll},      // no shadow: always written
  };
  for (Case const& c : cases) {
    tTestRegMap map(accessor(), 0, 0, kAll);
    tStatus status;
    u32 const whole = (c.id | 0x80000000u) & 0xC0FFFFFFu;
    if (c.before != 0) map.write(whole, c.before, true, status, 0);
    take();
    for (int i = 0; i < c.times; ++i) map.write(c.id, c.value, false, status, 0);
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

TEST_F(RegisterMapTest, OutsideTheWindowOnlyTheShadowWorksAndWholeMapOperationsCarryOn) {
  // Offsets 0x04 to 0x0F are inside; records sit at base + offset - start.
  tTestRegMap map(accessor(), 0x100, 0x04, 0x0C);
  EXPECT_EQ(map.control().address, 0xFCu);
  EXPECT_FALSE(map.control().accessible);
  EXPECT_TRUE(map.fifo().accessible);
  EXPECT_FALSE(map.record<6>().accessible);  // offset - start == size
  tLongStatus status, whole, refreshed;
  u64 value = 0;
  map.set(0x80000000, 9, status, 0);
  map.read(0x80000000, value, status, 0);
  expectSite(status, kStatusNotAvailable, kTestFile, 100);
  EXPECT_EQ(value, 9u);
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
  map.set(0x80000010, 0xAB, status, 0);
  map.data64().shadow = 0x0123456789ABCDEFull;
  map.data64().dirty = true;
  map.flushRegMap(false, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(take(), "w10/1:ab");  // then the store over the same offset, which no log sees
  EXPECT_EQ(block_->bar().load64(0x10), 0x0123456789ABCDEFull);
  EXPECT_EQ(map.data64().shadow, 0u);  // all strobe
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
