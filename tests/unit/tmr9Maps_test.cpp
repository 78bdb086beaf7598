// The timing chip's two maps: their sheets for the conformance harness, then
// what a sheet cannot say: the output timer as the DO map's member (its
// place after the DO's own registers in every whole-map operation and in the
// merged status), and the flash write-protect controller's write.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "registers/generated/tmr9RegMaps.h"
#include "storage/writeProtectController.h"
#include "support/chipSheets.h"
#include "support/fpgaMapBuild.h"
#include "support/mappedModule.h"

namespace conformance {
namespace {

using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
constexpr u32 kTimerBase = 0x34;

// A map of the block from first (up to the output timer's part for the DO);
// its starred one-bit fields take any non-zero value, the others the low bit.
template <class Tmr9Map>
Sheet tmr9Sheet(char const* name, char const* file, u32 first, u32 span, u32 size,
                std::array<u32, 7> const& lines, Counts counts, std::vector<Register> registers,
                std::vector<u32> const& starred) {
  u32 const end = first == 0 ? kTimerBase : 0xFFFFFFFF;
  Sheet sheet = sheetOf(
      name, sim::Tmr9Chip::kDigitalOutputBlock + first, span, "200a13081315", file, lines, counts,
      std::move(registers), buildFpgaMap<Tmr9Map>(size),
      [first, end](sim::Rm7Module& m) { return chipProbe(m.tmr9().registers(), first, end); });
  sheet.boolean = [starred](u32 field) {
    return std::find(starred.begin(), starred.end(), field) != starred.end();
  };
  return sheet;
}

// The DO block's own registers; the output timer's part of the block is its
// member's, with a sheet of its own.
Sheet const kDigitalOutput = tmr9Sheet<tmr9_regmaps::tDO>(
    "DO", "tmr9_regMaps/DO", 0, kTimerBase, 0x32, {4799, 5092, 5111, 5429, 5484, 5499, 5794},
    {95, 93, 2, 101, 14, 1, 15},
    {row(0x00, kRead), narrow(row(0x00, kWritten, 3), 8), narrow(row(0x02, kWritten), 8),
     row(0x04, kWritten), row(0x08, kWritten, 32), unkept(row(0x0C, kWritten)), row(0x10, kWritten),
     resetTo(row(0x14, kWritten, 4), 0x80), row(0x18, kWritten, 8), unkept(row(0x1C, kWritten)),
     unkept(row(0x20, kWritten)), row(0x24, kWritten), row(0x28, kWritten, 16),
     row(0x2C, kWritten, 16), unkept(narrow(row(0x30, kWritten), 16))},
    {0x00000000, 0x20000000, 0x10000000, 0x00000014, 0x20000014, 0x04000018, 0x24000018,
     0x02000018});
Sheet const kOutTimer = tmr9Sheet<tmr9_regmaps::tOutTimer>(
    "OutTimer", "tmr9_regMaps/OutTimer", kTimerBase, 0x36, 0x36,
    {5422, 5613, 5728, 6088, 6146, 6170, 6577}, {93, 59, 34, 115, 15, 4, 19},
    {unkept(row(0x00, kWritten, 18)), row(0x00, kRead, 27), row(0x04, kWritten), row(0x04, kRead),
     row(0x08, kWritten), row(0x0C, kWritten), row(0x0C, kRead), row(0x10, kWritten),
     row(0x14, kWritten), row(0x14, kRead), row(0x18, kWritten), row(0x1C, kWritten, 16),
     strobing(row(0x20, kWritten, 13), 0x40000), narrow(row(0x24, kWritten, 4), 16),
     resetTo(narrow(row(0x26, kWritten, 2), 16), 0x1), unkept(row(0x28, kWritten, 15)),
     unkept(row(0x2C, kWritten, 15)), row(0x30, kWritten, 7),
     unkept(narrow(row(0x34, kWritten, 4), 16))},
    {0x0200001C, 0x12000020, 0x16000020, 0x14000024, 0x3C000024});

INSTANTIATE_TEST_SUITE_P(Tmr9, MapConformance, ::testing::Values(&kDigitalOutput, &kOutTimer),
                         sheetName);

// What a whole-map flush after construction writes (or a refresh reads) of
// the records below an offset of its map, as its sheet says, at offsets in
// the DO block.
std::vector<Hit> wholeMap(Sheet const& sheet, bool write, u32 below = 0xFFFFFFFF) {
  std::vector<Hit> hits;
  u32 const at = static_cast<u32>(sheet.block - sim::Tmr9Chip::kDigitalOutputBlock);
  for (Register const& r : sheet.registers())
    if ((write ? r.written() && r.shadow : r.read()) && r.offset < below)
      hits.push_back({write, at + r.offset, r.width / 8, write ? r.reset : 0});
  return hits;
}

std::vector<Hit> operator+(std::vector<Hit> first, std::vector<Hit> const& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

class Tmr9MapsTest : public ::testing::Test {
 protected:
  tmr9_regmaps::tDO& build(u32 windowSize) { return map_.emplace(&accessor_, 0, 0, windowSize); }
  sim::RegisterBlock& block() { return module_.module().tmr9().registers(); }
  std::vector<Hit> takeLog() { return hitsOf(block().takeLog()); }

  testing_support::MappedModule module_;
  qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false> accessor_{
      module_.bar0() + sim::Tmr9Chip::kDigitalOutputBlock, 0x32};
  std::optional<tmr9_regmaps::tDO> map_;
};

TEST_F(Tmr9MapsTest, TheOutputTimerFollowsTheDoRegistersInEveryWholeMapOperation) {
  std::vector<Hit> const timerWrites = wholeMap(kOutTimer, true);
  tLongStatus status;
  build(0xFFFFFFFF).flushRegMap(true, status);
  EXPECT_EQ(takeLog(), wholeMap(kDigitalOutput, true) + timerWrites);
  map_->refreshRegMap(status);
  EXPECT_EQ(takeLog(), wholeMap(kDigitalOutput, false) + wholeMap(kOutTimer, false));
  EXPECT_EQ(status.head.code, 0);

  // A DO register outside the window fails the flush; the timer, whose
  // window is its own, is still written after the DO registers that are in.
  tLongStatus partial;
  build(0x10).flushRegMap(true, partial);
  EXPECT_EQ(partial.head.code, kStatusNotAvailable);
  EXPECT_EQ(takeLog(), wholeMap(kDigitalOutput, true, 0x10) + timerWrites);
  EXPECT_TRUE(block().strays().empty());
}

TEST_F(Tmr9MapsTest, TheWriteProtectControllerAddsItsLinesToTheDirectionRegisterOnce) {
  tLongStatus status;
  build(0xFFFFFFFF).set(0x80000008, 0xBF, status, 0);  // as the container leaves it: dirty
  tmr9tools::WriteProtectController first(*map_, 0x40, status);
  EXPECT_EQ(takeLog(), (std::vector<Hit>{{true, 0x08, 4, 0xFF}}));
  tmr9tools::WriteProtectController same(*map_, 0x40, status);  // nothing new, clean
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
  tmr9tools::WriteProtectController more(*map_, 0x100, status);
  EXPECT_EQ(takeLog(), (std::vector<Hit>{{true, 0x08, 4, 0x1FF}}));
  EXPECT_EQ(status.head.code, 0);

  build(0x8);  // the direction register is outside
  tmr9tools::WriteProtectController outside(*map_, 0x1, status);
  expectSite(status, kStatusNotAvailable, "tmr9_regMaps/DO", 1757);
  EXPECT_EQ(takeLog(), std::vector<Hit>{});
}

}  // namespace
}  // namespace conformance
