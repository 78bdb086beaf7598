// The timing chip's two maps: their sheets for the conformance harness, then
// what a sheet cannot say: the output timer as the DO map's member (its
// place after the DO's own registers in every whole-map operation and in the
// merged status), and the flash write-protect controller's write.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <vector>

#include "platform/memorySpaceAccessor.h"
#include "platform/statusCodes.h"
#include "registers/generated/tmr9RegMaps.h"
#include "storage/writeProtectController.h"
#include "support/chipSheets.h"
#include "support/expectSite.h"
#include "support/fpgaMapBuild.h"
#include "support/mappedModule.h"

namespace conformance {
namespace {

constexpr char kVersion[] = "200a13081315";
constexpr u32 kTimerBase = 0x34;

Sheet tmr9Sheet(Sheet sheet, std::function<BuiltMap(u64, u32, u32, u32)> build, u32 first, u32 end,
                std::initializer_list<u32> starred) {
  sheet.build = std::move(build);
  sheet.probe = [first, end](sim::Rm7Module& m) {
    return chipProbe(m.tmr9().registers(), first, end);
  };
  std::vector<u32> const anyNonZero = starred;
  sheet.boolean = [anyNonZero](u32 field) {
    return std::find(anyNonZero.begin(), anyNonZero.end(), field) != anyNonZero.end();
  };
  return sheet;
}

// The DO block's own registers; the output timer's part of the block is its
// member's, with a sheet of its own.
Sheet const kDigitalOutput = tmr9Sheet(
    sheetOf("DO", sim::Tmr9Chip::kDigitalOutputBlock, kTimerBase, kVersion, "tmr9_regMaps/DO",
            {4799, 5092, 5111, 5429, 5484, 5499, 5794}, {95, 93, 2, 101, 14, 1, 15},
            {row(0x00, kRead, 5514, 1, 1246), narrow(row(0x00, kWritten, 5523, 3, 1355), 8),
             narrow(row(0x02, kWritten, 5536, 1, 1521), 8), row(0x04, kWritten, 5545, 1, 1639),
             row(0x08, kWritten, 5554, 32, 1757), unkept(row(0x0C, kWritten, 5625, 1, 2593)),
             row(0x10, kWritten, 5634, 1, 2680), resetTo(row(0x14, kWritten, 5643, 4, 2798), 0x80),
             row(0x18, kWritten, 5658, 8, 2988), unkept(row(0x1C, kWritten, 5681, 1, 3248)),
             unkept(row(0x20, kWritten, 5690, 1, 3309)), row(0x24, kWritten, 5699, 1, 3396),
             row(0x28, kWritten, 5708, 16, 3514), row(0x2C, kWritten, 5747, 16, 3992),
             unkept(narrow(row(0x30, kWritten, 5786, 1, 4444), 16))}),
    buildFpgaMap<tmr9_regmaps::tDO>(0x32), 0, kTimerBase,
    {0x00000000, 0x20000000, 0x10000000, 0x00000014, 0x20000014, 0x04000018, 0x24000018,
     0x02000018});
Sheet const kOutTimer = tmr9Sheet(
    sheetOf("OutTimer", sim::Tmr9Chip::kDigitalOutputBlock + kTimerBase, 0x36, kVersion,
            "tmr9_regMaps/OutTimer", {5422, 5613, 5728, 6088, 6146, 6170, 6577},
            {93, 59, 34, 115, 15, 4, 19},
            {unkept(row(0x00, kWritten, 6185, 18, 1373)), row(0x00, kRead, 6228, 27, 1634),
             row(0x04, kWritten, 6289, 1, 2159), row(0x04, kRead, 6298, 1, 2264),
             row(0x08, kWritten, 6307, 1, 2373), row(0x0C, kWritten, 6316, 1, 2491),
             row(0x0C, kRead, 6325, 1, 2596), row(0x10, kWritten, 6334, 1, 2705),
             row(0x14, kWritten, 6343, 1, 2823), row(0x14, kRead, 6352, 1, 2928),
             row(0x18, kWritten, 6361, 1, 3037), row(0x1C, kWritten, 6370, 16, 3155),
             strobing(row(0x20, kWritten, 6409, 13, 3633), 0x40000),
             narrow(row(0x24, kWritten, 6442, 4, 4039), 16),
             resetTo(narrow(row(0x26, kWritten, 6457, 2, 4229), 16), 0x1),
             unkept(row(0x28, kWritten, 6468, 15, 4345)),
             unkept(row(0x2C, kWritten, 6505, 15, 4560)), row(0x30, kWritten, 6542, 7, 4801),
             unkept(narrow(row(0x34, kWritten, 6563, 4, 5037), 16))}),
    buildFpgaMap<tmr9_regmaps::tOutTimer>(0x36), kTimerBase, 0xFFFFFFFF,
    {0x0200001C, 0x12000020, 0x16000020, 0x14000024, 0x3C000024});

INSTANTIATE_TEST_SUITE_P(Tmr9, MapConformance, ::testing::Values(&kDigitalOutput, &kOutTimer),
                         sheetName);

}  // namespace
}  // namespace conformance

namespace {

using nQVWENDS100::tLongStatus;
using sim::ChipAccess;
using tAccessor = qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;
using Log = std::vector<ChipAccess>;

constexpr uint32_t kTimer = tmr9_regmaps::tDO::kOutTimerBase;

class Tmr9MapsTest : public ::testing::Test {
 protected:
  sim::RegisterBlock& block() { return module_.module().tmr9().registers(); }
  tmr9_regmaps::tDO& build(uint32_t windowSize) {
    return map_.emplace(&accessor_, 0, 0, windowSize);
  }

  testing_support::MappedModule module_;
  tAccessor accessor_{module_.bar0() + sim::Tmr9Chip::kDigitalOutputBlock, 0x32};
  std::optional<tmr9_regmaps::tDO> map_;
};

TEST_F(Tmr9MapsTest, TheOutputTimerFollowsTheDoRegistersInEveryWholeMapOperation) {
  tmr9_regmaps::tDO* map = &build(0xFFFFFFFF);
  Log const doWrites = {{true, 0x00, 1, 0}, {true, 0x02, 1, 0}, {true, 0x04, 4, 0},
                        {true, 0x08, 4, 0}, {true, 0x10, 4, 0}, {true, 0x14, 4, 0x80},
                        {true, 0x18, 4, 0}, {true, 0x24, 4, 0}, {true, 0x28, 4, 0},
                        {true, 0x2C, 4, 0}};
  Log timerWrites;
  for (uint32_t offset : {0x04u, 0x08u, 0x0Cu, 0x10u, 0x14u, 0x18u, 0x1Cu, 0x20u, 0x30u})
    timerWrites.push_back({true, kTimer + offset, 4, 0});
  timerWrites.insert(timerWrites.begin() + 8,
                     {{true, kTimer + 0x24, 2, 0}, {true, kTimer + 0x26, 2, 0x1}});
  Log all = doWrites;
  all.insert(all.end(), timerWrites.begin(), timerWrites.end());
  tLongStatus status;
  map->flushRegMap(true, status);
  EXPECT_EQ(block().takeLog(), all);

  map->refreshRegMap(status);
  Log const reads = {{false, 0x00, 4, 0},
                     {false, kTimer + 0x00, 4, 0},
                     {false, kTimer + 0x04, 4, 0},
                     {false, kTimer + 0x0C, 4, 0},
                     {false, kTimer + 0x14, 4, 0}};
  EXPECT_EQ(block().takeLog(), reads);
  EXPECT_EQ(status.head.code, 0);

  // A DO register outside the window fails the flush; the timer, whose
  // window is its own, is still written after the DO registers that are in.
  map = &build(0x10);
  tLongStatus partial;
  map->flushRegMap(true, partial);
  EXPECT_EQ(partial.head.code, qvrm7_driver::nQVWEND000::kStatusNotAvailable);
  Log inside(doWrites.begin(), doWrites.begin() + 4);
  inside.insert(inside.end(), timerWrites.begin(), timerWrites.end());
  EXPECT_EQ(block().takeLog(), inside);
  EXPECT_TRUE(block().strays().empty());
}

TEST_F(Tmr9MapsTest, TheWriteProtectControllerAddsItsLinesToTheDirectionRegisterOnce) {
  tmr9_regmaps::tDO* map = &build(0xFFFFFFFF);
  tLongStatus status;
  map->set(0x80000008, 0xBF, status, 0);  // as the container leaves it: dirty
  tmr9tools::WriteProtectController first(*map, 0x40, status);
  EXPECT_EQ(block().takeLog(), (Log{{true, 0x08, 4, 0xFF}}));
  tmr9tools::WriteProtectController same(*map, 0x40, status);  // nothing new, clean
  EXPECT_EQ(block().takeLog(), Log{});
  tmr9tools::WriteProtectController more(*map, 0x100, status);
  EXPECT_EQ(block().takeLog(), (Log{{true, 0x08, 4, 0x1FF}}));
  EXPECT_EQ(status.head.code, 0);

  map = &build(0x8);  // the direction register is outside
  tmr9tools::WriteProtectController outside(*map, 0x1, status);
  testing_support::expectSite(status, qvrm7_driver::nQVWEND000::kStatusNotAvailable,
                              "tmr9_regMaps/DO", 1757);
  EXPECT_EQ(block().takeLog(), Log{});
}

}  // namespace
