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

// The isolation port's accesses are those that reached it through the
// switched bridge port, at its own addresses.
Probe remoteProbe(sim::VexusChip& chip) {
  Probe probe = chipProbe(chip.registers());
  probe.log = [&chip] { return hitsOf(chip.remoteLog()); };
  probe.clear = [&chip] {
    chip.clearRemoteLog();
    chip.registers().clearLog();
  };
  probe.preload = [&chip](u32 offset, u64 value) {
    chip.setIsolationRegister(static_cast<uint8_t>(offset), static_cast<uint32_t>(value));
  };
  return probe;
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

using tAccessor = qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;

// The isolation port's map, reached through the switched bridge port.
struct IsolationPort {
  explicit IsolationPort(u64 bar0) : accessor{bar0, 0x704} {}
  tAccessor accessor;
  vexustools::tSwitchedVexusBimRegMapWithOffset<0u> switchedPort{&accessor};
  vexustools::TMR9PortAccessor port{switchedPort, 0, 3};
  vexustools::tIsolationPortRegMapWithOffset<0u> map{&port};
};

BuiltMap buildIsolationPort(u64 address, u32, u32, u32) {
  auto built = std::make_shared<IsolationPort>(address);
  return BuiltMap(built, &built->map);
}

// A sheet of a map of the chip's block at the sheet's offset, unless its
// probe says otherwise; every one is built without a window, over a BAR
// accessor of its span unless it has a build of its own.
template <class VexusMap>
Sheet vexusSheet(char const* name, u64 block, u32 span, char const* file,
                 std::array<u32, 7> const& lines, Counts counts, std::vector<Register> registers,
                 std::function<Probe(sim::Rm7Module&)> probe = {},
                 std::function<BuiltMap(u64, u32, u32, u32)> build = {}) {
  if constexpr (!std::is_void_v<VexusMap>) build = buildFpgaMap<VexusMap>(span);
  if (!probe)
    probe = [first = static_cast<u32>(block)](sim::Rm7Module& m) {
      return chipProbe(m.vexus().registers(), first);
    };
  Sheet sheet = sheetOf(name, block, span, "22.8.0f108", file, lines, counts, std::move(registers),
                        std::move(build), std::move(probe));
  sheet.window = false;
  return sheet;
}

Sheet const kVexus = vexusSheet<vexustools::tVexusWithOffset<0u>>(
    "Vexus", 0x000, 0x518, "armgen/Vexus", {4056, 4235, 4440, 4620, 4664, 4712, 4939},
    {71, 55, 64, 55, 10, 12, 14},
    {row(0x000, kRead), row(0x00C, kRead, 8), row(0x01C, kRead), row(0x058, kReadWritten, 2),
     row(0x05C, kReadWritten, 13), row(0x0A4, kReadWritten, 10), row(0x440, kWritten, 4),
     row(0x444, kReadWritten, 2), row(0x448, kRead, 2), row(0x450, kReadWritten),
     row(0x458, kReadWritten), strobing(narrow(row(0x460, kWritten), 8), 0xFF),
     strobing(narrow(Register{0x460, kWritten, 0}, 64), ~u64{0}), row(0x510, kReadWritten, 3),
     row(0x514, kReadWritten, 8)});
Sheet const kVexusI2C = vexusSheet<vexustools::tVexusI2CWithOffset<0u>>(
    "VexusI2C", 0x000, 0x538, "armgen/VexusI2C", {619, 650, 675, 707, 723, 738, 782},
    {10, 6, 4, 6, 1, 1, 2}, {row(0x530, kWritten, 5), row(0x534, kRead, 3)});
Sheet const kVexusConfigPortI2C = vexusSheet<vexustools::tVexusConfigPortI2CWithOffset<0u>>(
    "VexusConfigPortI2C", 0x5A0, 0x4, "armgen/VexusConfigPortI2C",
    {474, 502, 530, 559, 575, 590, 619}, {5, 5, 5, 5, 1, 1, 1}, {row(0x000, kReadWritten, 4)});
Sheet const kVexusConfigPortSPI = vexusSheet<vexustools::tVexusConfigPortSPIWithOffset<0u>>(
    "VexusConfigPortSPI", 0x580, 0x10, "armgen/VexusConfigPortSPI",
    {2106, 2236, 2366, 2497, 2522, 2546, 2658}, {39, 39, 39, 39, 4, 4, 4},
    {row(0x000, kReadWritten, 9), row(0x004, kReadWritten, 12), row(0x008, kReadWritten, 12),
     row(0x00C, kReadWritten, 2)});
Sheet const kVexusConfigPortWindow = vexusSheet<vexustools::tVexusConfigPortWindowWithOffset<0u>>(
    "VexusConfigPortWindow", kScratchBlock, 0xE4, "armgen/VexusConfigPortWindow",
    {611, 642, 673, 705, 724, 742, 778}, {6, 6, 6, 6, 2, 2, 2},
    {row(0x0C0, kReadWritten, 3), row(0x0E0, kReadWritten)}, scratchWindowProbe);
Sheet const kIsolationPortRegMap = vexusSheet<void>(
    "IsolationPortRegMap", 0, 0x1C, "armgen/IsolationPortRegMap",
    {1471, 1550, 1635, 1715, 1737, 1761, 1843}, {24, 22, 24, 22, 3, 4, 4},
    {row(0x000, kReadWritten), resetTo(row(0x004, kReadWritten, 11), 0x0F000203), row(0x014, kRead),
     strobing(row(0x018, kReadWritten, 7), 0x3)},
    [](sim::Rm7Module& m) { return remoteProbe(m.vexus()); }, buildIsolationPort);
Sheet const kSwitchedVexusBimRegMap = vexusSheet<vexustools::tSwitchedVexusBimRegMapWithOffset<0u>>(
    "SwitchedVexusBimRegMap", 0x000, 0x704, "armgen/SwitchedVexusBimRegMap",
    {2350, 2450, 2556, 2657, 2691, 2730, 2868}, {37, 29, 31, 29, 7, 9, 10},
    {row(0x644, kReadWritten, 2), row(0x680, kWritten, 5),
     strobing(row(0x688, kReadWritten, 9), 0x3), row(0x68C, kReadWritten), row(0x694, kRead),
     row(0x698, kReadWritten), row(0x6A4, kReadWritten), row(0x600, kRead, 3),
     row(0x604, kReadWritten, 3), row(0x700, kRead)});

INSTANTIATE_TEST_SUITE_P(Vexus, MapConformance,
                         ::testing::Values(&kVexus, &kVexusI2C, &kVexusConfigPortI2C,
                                           &kVexusConfigPortSPI, &kVexusConfigPortWindow,
                                           &kIsolationPortRegMap, &kSwitchedVexusBimRegMap),
                         sheetName);

using sim::ChipAccess;
using sim::VexusChip;

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
  IsolationPort isolation_{module_.bar0()};
};

TEST_F(VexusMapsTest, TheDataPortsWholeMapFlushEndsInOnePlain64BitStore) {
  tAccessor core{module_.bar0(), 0x518};
  vexustools::tVexusWithOffset<0u> map(&core);
  auto& data64 = map.record<12>();
  data64.shadow = 0x0123456789ABCDEF;
  data64.dirty = true;
  tLongStatus status;
  map.flushRegMap(false, status);
  EXPECT_EQ(status.head.code, 0);
  EXPECT_EQ(chip().registers().takeLog(),
            (std::vector<ChipAccess>{{true, VexusChip::kLoadingData, 8, 0x0123456789ABCDEF}}));
  EXPECT_EQ(chip().loadingData64(), 0x0123456789ABCDEFu);
  EXPECT_EQ(data64.shadow, 0u);
  EXPECT_FALSE(data64.dirty);
}

// A remote write loads the data register and starts; a remote read starts,
// waits and takes the data register. After a read that timed out, the late
// result lands in the data register: a write of the value the data register
// held before must still reach the far side, and a retried read must start
// a new access.
TEST_F(VexusMapsTest, ATimedOutReadKeepsTheOldValueAndLateResultsNeverReplaceALaterWrite) {
  tLongStatus status;
  isolation_.map.write(0x80000000, 0xCAFE0000, false, status, 0);
  EXPECT_EQ(chip().registers().takeLog(), remoteWrite(0x00, 0xCAFE0000));
  chip().setIsolationRegister(0x04, 0x12345678);
  chip().setReadCompletion(std::nullopt);

  uint64_t value = 0;
  isolation_.map.read(0x80000004, value, status, 0);
  testing_support::expectSite(status, kPortTimeout, "atut/poller/Poller", 585);
  EXPECT_EQ(value, VexusChip::kIsolationControlStatusReset);  // the shadow it started with
  std::vector<ChipAccess> const waited = chip().registers().takeLog();
  ASSERT_GT(waited.size(), 3u);
  EXPECT_EQ(waited.front(), (ChipAccess{true, VexusChip::kConfigControl, 4, 0x04000302}));
  EXPECT_EQ(waited.back().offset, VexusChip::kConfigControl);  // the data register is not read

  ASSERT_TRUE(chip().completeRead());  // too late: 0x68C now holds 0x12345678
  tLongStatus again;
  isolation_.map.write(0x80000000, 0xCAFE0000, true, again, 0);
  EXPECT_EQ(chip().isolationRegister(0x00), 0xCAFE0000u);
  EXPECT_EQ(chip().registers().takeLog(), remoteWrite(0x00, 0xCAFE0000));

  // A read that timed out leaves its own command in the control register's
  // shadow; the same read again must still start a new access.
  tLongStatus timedOut;
  isolation_.map.read(0x80000004, value, timedOut, 0);
  EXPECT_EQ(timedOut.head.code, kPortTimeout);
  chip().setReadCompletion(0);
  chip().registers().takeLog();
  tLongStatus retry;
  isolation_.map.read(0x80000004, value, retry, 0);
  EXPECT_EQ(retry.head.code, 0);
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_EQ(chip().registers().takeLog(), remoteRead(0x04, 0x12345678));
}

}  // namespace
}  // namespace conformance
