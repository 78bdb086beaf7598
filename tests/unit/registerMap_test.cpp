// The register-map core over the small maps of testRegisterMaps.h: their
// sheets for the conformance harness, and below them the variants no sheet
// describes.
#include "registers/registerMap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/layer/control.h"
#include "support/fpgaMapBuild.h"
#include "support/mapConformance.h"
#include "testRegisterMaps.h"

namespace conformance {
namespace {

using nQVWENDS100::tStatus;
using qvrm7_driver::nQVWEND000::kStatusBadArgument;
using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
using testmaps::tParentRegMap;
using testmaps::tTestRegMap;

constexpr u32 kAll = 0xFFFFFFFF;

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

std::vector<Register> testRegisters() {
  std::vector<Register> r(
      {strobing(
           readAlso(row(0x00, kReadWritten, {100, 101, 200, 201}, {{0, 1}, {2}, {8, 15}, {31}}), 2),
           0x80000004),
       row(0x04, kRead, {102, 0, 202}, {{0, 7}, {16}}),
       strobing(row(0x04, kWritten, {0, 103, 203}, {{24}}), 0x01000000),
       narrow(row(0x08, kWritten, {0, 104, 204}, {{0}, {4, 7}}), 8),
       resetTo(narrow(row(0x0A, kWritten, {0, 105, 205}, {{0}, {8, 15}}), 16), 1),
       unkept(row(0x0C, kWritten, {0, 106, 206}, {{0, 31}})),
       row(0x10, kReadWritten, {107, 108, 207}, {{0, 31}})});
  for (u32 offset = 0x20; offset < 0x30; offset += 4)  // the array
    r.push_back(row(offset, kReadWritten, {109, 110, 208}, {{0, 15}}));
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

INSTANTIATE_TEST_SUITE_P(Core, MapConformance, ::testing::Values(&kTestSheet), sheetName);

// The accesses as "w<offset>/<bytes>:<value>", hexadecimal.
std::string text(std::vector<Hit> const& hits) {
  std::string out;
  for (Hit const& h : hits) {
    char one[48];
    std::snprintf(one, sizeof one, "%s%c%x/%u:%llx", out.empty() ? "" : " ", h.write ? 'w' : 'r',
                  h.offset, h.width, static_cast<unsigned long long>(h.value));
    out += one;
  }
  return out;
}

// The test map over its sheet's block, for what the sheet cannot say.
using RegisterMapTest = MapConformance;
INSTANTIATE_TEST_SUITE_P(Core, RegisterMapTest, ::testing::Values(&kTestSheet), sheetName);

// A write is the set and then the flush: what reaches the hardware is the
// shadow the set made, once, and only when it changed; a record without
// shadow is written every time.
TEST_P(RegisterMapTest, WriteSetsWhatFitsAndReachesTheHardwareOnlyWhenItChanged) {
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
    map_ = build(0, 0, kAll);
    tStatus status;
    u32 const whole = (c.id | 0x80000000u) & 0xC0FFFFFFu;
    if (c.before != 0) map().write(whole, c.before, true, status, 0);
    takeLog();
    for (int i = 0; i < c.times; ++i) map().write(c.id, c.value, false, status, 0);
    EXPECT_EQ(text(takeLog()), c.accesses) << std::hex << c.id;
    u64 shadow = kAll;
    map().get(whole, shadow, status, 0);
    EXPECT_EQ(shadow, c.shadow == kAll ? 0 : c.shadow) << std::hex << c.id;
    EXPECT_EQ(status.code, c.shadow == kAll ? int64_t{kStatusBadArgument} : 0);
  }
}

TEST_P(RegisterMapTest, ReadRefreshesFromTheHardwareAndNamedRecordsShareTheSteps) {
  tTestRegMap& m = as<tTestRegMap>();
  probe_.preload(0x04, 0x000100AB);
  probe_.preload(0x10, 0xCAFE);
  tLongStatus status;
  u64 value = 0;
  m.set(0x80000010, 1, status, 0);
  m.read(0x00000010, value, status, 0);  // the pending set is overwritten, the record clean
  EXPECT_EQ(value, 0xCAFEu);
  m.read(0x42000004, value, status, 0);
  EXPECT_EQ(value, 1u);
  m.flushRegMap(false, status);
  EXPECT_EQ(text(takeLog()), "r10/4:cafe r4/4:100ab");

  m.count(2).writeRegister(0x1234, status, false);
  EXPECT_EQ(m.status().readRegister(status), 0x100ABu);
  EXPECT_EQ(text(takeLog()), "w28/4:1234 r4/4:100ab");
  EXPECT_EQ(status.head.code, 0);
}

TEST_P(RegisterMapTest, OutsideTheWindowOnlyTheShadowWorksAndWholeMapOperationsCarryOn) {
  map_ = build(0x100, 0x04, 0x0C);  // offsets 0x04 to 0x0F are inside, at base + offset - start
  tTestRegMap& m = as<tTestRegMap>();
  tLongStatus status, whole;
  u64 value = 0;
  m.set(0x80000000, 9, status, 0);
  m.read(0x80000000, value, status, 0);
  expectSite(status, kStatusNotAvailable, testmaps::kTestFile, 100);
  EXPECT_EQ(value, 9u);
  m.markDirtyRegMap();  // 0x10 is out: offset - start == size
  m.flushRegMap(false, whole);
  EXPECT_EQ(whole.head.code, kStatusNotAvailable);  // merged from a short status: code alone
  EXPECT_EQ(whole.line, 0u);
  EXPECT_EQ(text(takeLog()), "w100/4:0 w104/1:0 w106/2:1");
}

TEST_P(RegisterMapTest, WholeMapOperationsFollowDeclarationOrderIntoMemberMaps) {
  tParentRegMap::tAccessor accessor{module_.bar0() + kPlainBlock, 0x70};
  tParentRegMap parent(&accessor, 0, 0, kAll);
  tStatus status;
  char const* written =
      "w0/4:0 w40/4:0 w44/4:0 w48/1:0 w4a/2:1 w50/4:0 w60/4:0 w64/4:0 w68/4:0 w6c/4:0";
  parent.markDirtyRegMap();
  parent.flushRegMap(false, status);
  EXPECT_EQ(text(takeLog()), written);
  parent.member().set(0x80000010, 3, status, 0);
  parent.reinitialize();
  parent.flushRegMap(false, status);
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
  parent.flushRegMap(true, status);
  EXPECT_EQ(text(takeLog()), written);
  EXPECT_EQ(status.code, 0);
}

}  // namespace
}  // namespace conformance
