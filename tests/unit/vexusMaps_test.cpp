// The bridge chip's seven maps: their sheets for the conformance harness,
// then what a sheet cannot say: the 64-bit store of the loading data port in
// the whole-map flush, and the isolation port's remote accesses through the
// port accessor on the simulated switched bridge port: their bus protocol, a
// wait that times out, a read that completes late, and a retried access.
#include <gtest/gtest.h>

#include <vector>

#include "host/layer/syncControl.h"
#include "platform/memorySpaceAccessor.h"
#include "platform/statusCodes.h"
#include "registers/generated/isolationPortRegMap.h"
#include "support/chipSheets.h"
#include "support/expectSite.h"
#include "support/fpgaMapBuild.h"
#include "support/mappedModule.h"

namespace conformance {
namespace {

constexpr char kVersion[] = "22.8.0f108";

// The isolation port's accesses are those that reached it through the
// switched bridge port, at its own addresses.
Probe remoteProbe(sim::VexusChip& chip) {
  auto convert = [](std::vector<sim::ChipAccess> const& accesses) {
    std::vector<Hit> hits;
    for (sim::ChipAccess const& a : accesses) hits.push_back({a.write, a.offset, a.width, a.value});
    return hits;
  };
  return {[&chip, convert] { return convert(chip.remoteLog()); },
          [&chip, convert] { return convert(chip.registers().strays()); },
          [&chip] {
            chip.clearRemoteLog();
            chip.registers().clearLog();
          },
          [&chip](u32 offset, u64 value) {
            chip.setIsolationRegister(static_cast<uint8_t>(offset), static_cast<uint32_t>(value));
          }};
}

// The window registers behave as the window model makes them (bits that
// read as 0, a window that moves): the map's sheet runs over plain registers
// at the same offsets of a free part of BAR 0 instead.
constexpr u64 kScratchBlock = 0x40000;

Probe scratchWindowProbe(sim::Rm7Module& module) {
  auto block = std::make_shared<sim::RegisterBlock>(
      module.device()->sharedBar(0), kScratchBlock,
      std::vector<sim::ChipRegister>{{0xC0, 4, 4, true}, {0xE0, 4, 4, true}});
  Probe probe = chipProbe(*block);
  probe.clear = [block] { block->clearLog(); };  // keeps the block as long as the probe
  return probe;
}

BuiltMap buildIsolationPort(u64 address, u32, u32, u32) {
  struct Built {
    explicit Built(u64 mapped) : accessor{mapped, 0x704} {}
    qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false> accessor;
    vexustools::tSwitchedVexusBimRegMapWithOffset<0u> switchedPort{&accessor};
    vexustools::TMR9PortAccessor port{switchedPort, 0, 3};
    vexustools::tIsolationPortRegMapWithOffset<0u> map{&port};
  };
  auto built = std::make_shared<Built>(address);
  return BuiltMap(built, &built->map);
}

// A map of the chip's block at the sheet's offset, unless the sheet says
// otherwise.
Sheet vexusSheet(Sheet sheet, std::function<BuiltMap(u64, u32, u32, u32)> build,
                 std::function<Probe(sim::Rm7Module&)> probe = {}) {
  u32 const first = static_cast<u32>(sheet.block);
  sheet.build = std::move(build);
  sheet.probe = probe ? std::move(probe) : [first](sim::Rm7Module& m) {
    return chipProbe(m.vexus().registers(), first);
  };
  sheet.window = false;
  return sheet;
}

Sheet const kVexus = vexusSheet(
    sheetOf("Vexus", 0x000, 0x518, kVersion, "armgen/Vexus",
            {4056, 4235, 4440, 4620, 4664, 4712, 4939}, {71, 55, 64, 55, 10, 12, 14},
            {row(0x000, kRead, 4727), row(0x00C, kRead, 4736, 8), row(0x01C, kRead, 4759),
             row(0x058, kReadWritten, 4768, 2), row(0x05C, kReadWritten, 4779, 13),
             row(0x0A4, kReadWritten, 4812, 10), row(0x440, kWritten, 4839, 4),
             row(0x444, kReadWritten, 4854, 2), row(0x448, kRead, 4865, 2),
             row(0x450, kReadWritten, 4876), row(0x458, kReadWritten, 4885),
             strobing(narrow(row(0x460, kWritten, 4894), 8), 0xFF),
             strobing(narrow(Register{0x460, kWritten, 0}, 64), ~u64{0}),
             row(0x510, kReadWritten, 4904, 3), row(0x514, kReadWritten, 4917, 8)}),
    buildFpgaMap<vexustools::tVexusWithOffset<0u>>(0x518));
Sheet const kVexusI2C =
    vexusSheet(sheetOf("VexusI2C", 0x000, 0x538, kVersion, "armgen/VexusI2C",
                       {619, 650, 675, 707, 723, 738, 782}, {10, 6, 4, 6, 1, 1, 2},
                       {row(0x530, kWritten, 753, 5), row(0x534, kRead, 770, 3)}),
               buildFpgaMap<vexustools::tVexusI2CWithOffset<0u>>(0x538));
Sheet const kVexusConfigPortI2C =
    vexusSheet(sheetOf("VexusConfigPortI2C", 0x5A0, 0x4, kVersion, "armgen/VexusConfigPortI2C",
                       {474, 502, 530, 559, 575, 590, 619}, {5, 5, 5, 5, 1, 1, 1},
                       {row(0x000, kReadWritten, 605, 4)}),
               buildFpgaMap<vexustools::tVexusConfigPortI2CWithOffset<0u>>(0x4));
Sheet const kVexusConfigPortSPI =
    vexusSheet(sheetOf("VexusConfigPortSPI", 0x580, 0x10, kVersion, "armgen/VexusConfigPortSPI",
                       {2106, 2236, 2366, 2497, 2522, 2546, 2658}, {39, 39, 39, 39, 4, 4, 4},
                       {row(0x000, kReadWritten, 2561, 9), row(0x004, kReadWritten, 2586, 12),
                        row(0x008, kReadWritten, 2617, 12), row(0x00C, kReadWritten, 2648, 2)}),
               buildFpgaMap<vexustools::tVexusConfigPortSPIWithOffset<0u>>(0x10));
Sheet const kVexusConfigPortWindow = vexusSheet(
    sheetOf("VexusConfigPortWindow", kScratchBlock, 0xE4, kVersion, "armgen/VexusConfigPortWindow",
            {611, 642, 673, 705, 724, 742, 778}, {6, 6, 6, 6, 2, 2, 2},
            {row(0x0C0, kReadWritten, 757, 3), row(0x0E0, kReadWritten, 770)}),
    buildFpgaMap<vexustools::tVexusConfigPortWindowWithOffset<0u>>(0xE4), scratchWindowProbe);
Sheet const kIsolationPortRegMap =
    vexusSheet(sheetOf("IsolationPortRegMap", 0, 0x1C, kVersion, "armgen/IsolationPortRegMap",
                       {1471, 1550, 1635, 1715, 1737, 1761, 1843}, {24, 22, 24, 22, 3, 4, 4},
                       {row(0x000, kReadWritten, 1776),
                        resetTo(row(0x004, kReadWritten, 1785, 11), 0x0F000203),
                        row(0x014, kRead, 1814), strobing(row(0x018, kReadWritten, 1823, 7), 0x3)}),
               buildIsolationPort, [](sim::Rm7Module& m) { return remoteProbe(m.vexus()); });
Sheet const kSwitchedVexusBimRegMap = vexusSheet(
    sheetOf(
        "SwitchedVexusBimRegMap", 0x000, 0x704, kVersion, "armgen/SwitchedVexusBimRegMap",
        {2350, 2450, 2556, 2657, 2691, 2730, 2868}, {37, 29, 31, 29, 7, 9, 10},
        {row(0x644, kReadWritten, 2745, 2), row(0x680, kWritten, 2756, 5),
         strobing(row(0x688, kReadWritten, 2773, 9), 0x3), row(0x68C, kReadWritten, 2798),
         row(0x694, kRead, 2807), row(0x698, kReadWritten, 2816), row(0x6A4, kReadWritten, 2825),
         row(0x600, kRead, 2834, 3), row(0x604, kReadWritten, 2847, 3), row(0x700, kRead, 2860)}),
    buildFpgaMap<vexustools::tSwitchedVexusBimRegMapWithOffset<0u>>(0x704));

INSTANTIATE_TEST_SUITE_P(Vexus, MapConformance,
                         ::testing::Values(&kVexus, &kVexusI2C, &kVexusConfigPortI2C,
                                           &kVexusConfigPortSPI, &kVexusConfigPortWindow,
                                           &kIsolationPortRegMap, &kSwitchedVexusBimRegMap),
                         sheetName);

}  // namespace
}  // namespace conformance

namespace {

using nQVWENDS100::tLongStatus;
using sim::ChipAccess;
using sim::VexusChip;
using tAccessor = qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;
using tIsolation = vexustools::tIsolationPortRegMapWithOffset<0u>;

constexpr int64_t kPortTimeout = qvrm7_driver::nQVWEND000::driverCode(0xBFFA807D);

class VexusMapsTest : public ::testing::Test {
 protected:
  VexusMapsTest() { sim::useVirtualClock(); }

  VexusChip& chip() { return module_.module().vexus(); }

  // What one remote access puts on the bus (a read done at the first poll).
  static std::vector<ChipAccess> remoteWrite(uint32_t address, uint32_t value) {
    return {{true, VexusChip::kRemoteData, 4, value},
            {true, VexusChip::kConfigControl, 4, address << 24 | 0x301}};
  }
  static std::vector<ChipAccess> remoteRead(uint32_t address, uint32_t value) {
    uint32_t const command = address << 24 | 0x302;
    return {{true, VexusChip::kConfigControl, 4, command},
            {false, VexusChip::kConfigControl, 4, command | 4},
            {false, VexusChip::kRemoteData, 4, value}};
  }

  testing_support::MappedModule module_;
  tAccessor accessor_{module_.bar0(), 0x704};
  vexustools::tSwitchedVexusBimRegMapWithOffset<0u> switched_{&accessor_};
  vexustools::TMR9PortAccessor port_{switched_, 0, 3};
  tIsolation isolation_{&port_};
};

TEST_F(VexusMapsTest, TheDataPortsWholeMapFlushEndsInOnePlain64BitStore) {
  tAccessor core{module_.bar0(), 0x518};
  vexustools::tVexusWithOffset<0u> map(&core);
  auto& data64 = map.record<12>();
  data64.shadow = 0x0123456789ABCDEF;
  data64.dirty = true;
  tLongStatus status;
  map.write(0x80000460, 0x1AB, false, status, 0);
  map.flushRegMap(false, status);
  EXPECT_EQ(status.head.code, 0);
  EXPECT_EQ(chip().registers().takeLog(),
            (std::vector<ChipAccess>{{true, VexusChip::kLoadingData, 1, 0xAB},
                                     {true, VexusChip::kLoadingData, 8, 0x0123456789ABCDEF}}));
  EXPECT_EQ(chip().loadingData64(), 0x0123456789ABCDEFu);
  EXPECT_EQ(data64.shadow, 0u);
  EXPECT_FALSE(data64.dirty);
  map.flushRegMap(false, status);
  EXPECT_TRUE(chip().registers().takeLog().empty());
  EXPECT_TRUE(chip().registers().strays().empty());
}

// A remote write loads the data register and starts; a remote read starts,
// waits and takes the data register. After a read that timed out, the late
// result lands in the data register: a write of the value the data register
// held before must still reach the far side, and a retried read must start
// a new access.
TEST_F(VexusMapsTest, ATimedOutReadKeepsTheOldValueAndLateResultsNeverReplaceALaterWrite) {
  tLongStatus status;
  isolation_.write(0x80000000, 0xCAFE0000, false, status, 0);
  EXPECT_EQ(chip().registers().takeLog(), remoteWrite(0x00, 0xCAFE0000));
  chip().setIsolationRegister(0x04, 0x12345678);
  chip().setReadCompletion(std::nullopt);

  uint64_t value = 0;
  isolation_.read(0x80000004, value, status, 0);
  testing_support::expectSite(status, kPortTimeout, "atut/poller/Poller", 585);
  EXPECT_EQ(value, VexusChip::kIsolationControlStatusReset);  // the shadow it started with
  std::vector<ChipAccess> const waited = chip().registers().takeLog();
  ASSERT_GT(waited.size(), 3u);
  EXPECT_EQ(waited.front(), (ChipAccess{true, VexusChip::kConfigControl, 4, 0x04000302}));
  EXPECT_EQ(waited.back().offset, VexusChip::kConfigControl);  // the data register is not read

  ASSERT_TRUE(chip().completeRead());  // too late: 0x68C now holds 0x12345678
  tLongStatus again;
  isolation_.write(0x80000000, 0xCAFE0000, true, again, 0);
  EXPECT_EQ(chip().isolationRegister(0x00), 0xCAFE0000u);
  EXPECT_EQ(chip().registers().takeLog(), remoteWrite(0x00, 0xCAFE0000));

  // A read that timed out leaves its own command in the control register's
  // shadow; the same read again must still start a new access.
  tLongStatus timedOut;
  isolation_.read(0x80000004, value, timedOut, 0);
  EXPECT_EQ(timedOut.head.code, kPortTimeout);
  chip().setReadCompletion(0);
  chip().registers().takeLog();
  tLongStatus retry;
  isolation_.read(0x80000004, value, retry, 0);
  EXPECT_EQ(retry.head.code, 0);
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_EQ(chip().registers().takeLog(), remoteRead(0x04, 0x12345678));
}

}  // namespace
