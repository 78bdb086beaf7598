// The chips' register maps on the simulated module (the bridge chip's seven,
// the timing chip's two, and the temperature sensor's over an I2C device):
// their sheets for the conformance harness, over the harness's view of a
// chip's register block, then what a sheet cannot say: the 64-bit store of
// the bridge's loading data port in the whole-map flush; the isolation
// port's remote accesses through the port accessor on the simulated
// switched bridge port (their bus protocol, a wait that times out, a read
// that completes late, and a retried access); the output timer as the DO
// map's member (its place after the DO's own registers in every whole-map
// operation and in the merged status); the flash write-protect controller's
// write; and the sensor map keeping only what a transfer that succeeded
// brought.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <vector>

#include "host/layer/chips/registerBlock.h"
#include "host/layer/syncControl.h"
#include "registers/generated/isolationPortRegMap.h"
#include "registers/generated/tmp101RegMap.h"
#include "registers/generated/tmr9RegMaps.h"
#include "storage/writeProtectController.h"
#include "support/fpgaMapBuild.h"
#include "support/isolationPort.h"
#include "support/mappedModule.h"

namespace conformance {
namespace {

using nQVWENDS100::tStatus;
using qvrm7_driver::nQVWEND000::kStatusNotAvailable;

constexpr Access R = kRead;
constexpr Access W = kWritten;
constexpr Access RW = kReadWritten;

// Field lists that several rows share or that are too long for a row.
std::vector<Bits> const kWord = {{0, 31}};
std::vector<Bits> const kSpiMode = {{0, 4}, {5},      {6},  {7},  {8, 13},  {14},
                                    {15},   {16, 21}, {22}, {23}, {24, 30}, {31}};
std::vector<Bits> const kCommand1 = {{0},  {4},  {5},  {6},  {7},  {8},  {9},  {12}, {14},
                                     {15}, {16}, {21}, {22}, {23}, {24}, {25}, {26}, {29}};
std::vector<Bits> const kMode1 = {{0},  {1},  {2},      {3},  {4, 6}, {7},  {10},     {11},
                                  {12}, {13}, {14, 15}, {16}, {17},   {19}, {22, 26}, {27, 28}};
std::vector<Bits> const kInterrupt = {{0},  {1},  {2},  {5},  {6},  {8},  {9}, {16},
                                      {19}, {20}, {23}, {24}, {25}, {26}, {29}};

// ---- The bridge chip ----

// The isolation port's accesses are those that reached it through the
// switched bridge port, at its own addresses.
Probe remoteProbe(sim::VexusChip& chip) {
  Probe probe = blockProbe(chip.registers());
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
  Probe probe = blockProbe(*block);
  probe.clear = [block] { block->clearLog(); };  // keeps the block as long as the probe
  return probe;
}

using tAccessor = qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;

using testing_support::IsolationPort;

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
      return blockProbe(m.vexus().registers(), first);
    };
  Sheet sheet = sheetOf(name, block, span, "22.8.0f108", file, lines, counts, std::move(registers),
                        std::move(build), std::move(probe));
  sheet.window = false;
  return sheet;
}

Sheet const kVexus = vexusSheet<vexustools::tVexusWithOffset<0u>>(
    "Vexus", 0x000, 0x518, "armgen/Vexus", {4056, 4235, 4440, 4620, 4664, 4712, 4939},
    {71, 55, 64, 55, 10, 12, 14},
    {row(0x000, R, {0, 0, 4727}, kWord),
     row(0x00C, R, {0, 0, 4736}, {{4}, {5}, {6}, {7}, {12, 15}, {16, 19}, {20, 23}, {24, 31}}),
     row(0x01C, R, {0, 0, 4759}, kWord), row(0x058, RW, {0, 0, 4768}, {{0, 1}, {16, 19}}),
     row(0x05C, RW, {0, 0, 4779},
         {{0}, {8}, {9}, {10}, {11}, {24}, {25}, {26}, {27}, {28}, {29}, {30}, {31}}),
     row(0x0A4, RW, {0, 0, 4812},
         {{0, 11}, {13}, {14}, {15}, {16, 19}, {20, 23}, {24, 27}, {28}, {29, 30}, {31}}),
     row(0x440, W, {0, 0, 4839}, run(0, 4)), row(0x444, RW, {0, 0, 4854}, {{0}, {1}}),
     row(0x448, R, {0, 0, 4865}, {{0, 7}, {8}}), row(0x450, RW, {0, 0, 4876}, kWord),
     row(0x458, RW, {0, 0, 4885}, kWord),
     strobing(narrow(row(0x460, W, {0, 0, 4894}, {{0, 7}}), 8), 0xFF),
     strobing(narrow(Register{0x460, W, 0}, 64), ~u64{0}),
     row(0x510, RW, {0, 0, 4904}, {{0, 2}, {8, 10}, {16, 18}}),
     row(0x514, RW, {0, 0, 4917}, run(0, 8, 4))});
Sheet const kVexusI2C = vexusSheet<vexustools::tVexusI2CWithOffset<0u>>(
    "VexusI2C", 0x000, 0x538, "armgen/VexusI2C", {619, 650, 675, 707, 723, 738, 782},
    {10, 6, 4, 6, 1, 1, 2},
    {row(0x530, W, {0, 0, 753}, {{0, 7}, {8}, {9}, {10}, {11}}),
     row(0x534, R, {0, 0, 770}, {{0, 7}, {8}, {16}})});
Sheet const kVexusConfigPortI2C = vexusSheet<vexustools::tVexusConfigPortI2CWithOffset<0u>>(
    "VexusConfigPortI2C", 0x5A0, 0x4, "armgen/VexusConfigPortI2C",
    {474, 502, 530, 559, 575, 590, 619}, {5, 5, 5, 5, 1, 1, 1},
    {row(0x000, RW, {0, 0, 605}, run(0, 4, 8))});
Sheet const kVexusConfigPortSPI = vexusSheet<vexustools::tVexusConfigPortSPIWithOffset<0u>>(
    "VexusConfigPortSPI", 0x580, 0x10, "armgen/VexusConfigPortSPI",
    {2106, 2236, 2366, 2497, 2522, 2546, 2658}, {39, 39, 39, 39, 4, 4, 4},
    {row(0x000, RW, {0, 0, 2561},
         {{0, 7}, {8, 13}, {14}, {15}, {16, 21}, {22}, {23}, {24, 29}, {31}}),
     row(0x004, RW, {0, 0, 2586}, kSpiMode), row(0x008, RW, {0, 0, 2617}, kSpiMode),
     row(0x00C, RW, {0, 0, 2648}, {{0, 7}, {16, 23}})});
Sheet const kVexusConfigPortWindow = vexusSheet<vexustools::tVexusConfigPortWindowWithOffset<0u>>(
    "VexusConfigPortWindow", kScratchBlock, 0xE4, "armgen/VexusConfigPortWindow",
    {611, 642, 673, 705, 724, 742, 778}, {6, 6, 6, 6, 2, 2, 2},
    {row(0x0C0, RW, {0, 0, 757}, {{0, 4}, {7}, {8, 31}}), row(0x0E0, RW, {0, 0, 770}, kWord)},
    scratchWindowProbe);
Sheet const kIsolationPortRegMap = vexusSheet<void>(
    "IsolationPortRegMap", 0, 0x1C, "armgen/IsolationPortRegMap",
    {1471, 1550, 1635, 1715, 1737, 1761, 1843}, {24, 22, 24, 22, 3, 4, 4},
    {row(0x000, RW, {0, 0, 1776}, kWord),
     resetTo(row(0x004, RW, {0, 0, 1785},
                 {{0}, {1}, {4, 5}, {7}, {8}, {9}, {10}, {12, 15}, {16, 19}, {22, 23}, {24, 27}}),
             0x0F000203),
     row(0x014, R, {0, 0, 1814}, kWord),
     strobing(row(0x018, RW, {0, 0, 1823}, {{0}, {1}, {2}, {3}, {4, 12}, {16, 23}, {24, 31}}),
              0x3)},
    [](sim::Rm7Module& m) { return remoteProbe(m.vexus()); }, buildIsolationPort);
Sheet const kSwitchedVexusBimRegMap = vexusSheet<vexustools::tSwitchedVexusBimRegMapWithOffset<0u>>(
    "SwitchedVexusBimRegMap", 0x000, 0x704, "armgen/SwitchedVexusBimRegMap",
    {2350, 2450, 2556, 2657, 2691, 2730, 2868}, {37, 29, 31, 29, 7, 9, 10},
    {row(0x644, RW, {0, 0, 2745}, {{0, 11}, {16}}),
     row(0x680, W, {0, 0, 2756}, {{8, 10}, {11, 13}, {14, 16}, {17, 19}, {20, 23}}),
     strobing(row(0x688, RW, {0, 0, 2773},
                  {{0}, {1}, {2}, {8, 10}, {11, 13}, {14, 16}, {17, 19}, {20, 23}, {24, 31}}),
              0x3),
     row(0x68C, RW, {0, 0, 2798}, kWord), row(0x694, R, {0, 0, 2807}, kWord),
     row(0x698, RW, {0, 0, 2816}, kWord), row(0x6A4, RW, {0, 0, 2825}, kWord),
     row(0x600, R, {0, 0, 2834}, run(0, 3, 8)),
     row(0x604, RW, {0, 0, 2847}, {{1}, {4, 7}, {8, 12}}), row(0x700, R, {0, 0, 2860}, {{0, 2}})});

using sim::ChipAccess;
using sim::VexusChip;

constexpr int64_t kPortTimeout = qvrm7_driver::nQVWEND000::driverCode(0xBFFA807D);

class VexusMapsTest : public ::testing::Test {
 protected:
  VexusMapsTest() { sim::useVirtualClock(); }

  VexusChip& chip() { return module_.module().vexus(); }

  // What a remote write puts on the bus.
  static std::vector<ChipAccess> remoteWrite(uint32_t address, uint32_t value) {
    return {{true, VexusChip::kRemoteData, 4, value},
            {true, VexusChip::kConfigControl, 4, address << 24 | 0x301}};
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
  EXPECT_EQ(chip().registers().takeLog(),
            (std::vector<ChipAccess>{{true, VexusChip::kLoadingData, 8, 0x0123456789ABCDEF}}));
  EXPECT_EQ(chip().loadingData64(), 0x0123456789ABCDEFu);
  EXPECT_EQ(data64.shadow, 0u);  // all of it strobes
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
  chip().registers().clearLog();

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
  EXPECT_EQ(chip().registers().takeLog(),
            (std::vector<ChipAccess>{{true, VexusChip::kConfigControl, 4, 0x04000302},
                                     {false, VexusChip::kConfigControl, 4, 0x04000306},
                                     {false, VexusChip::kRemoteData, 4, 0x12345678}}));
}

// ---- The timing chip ----

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
      [first, end](sim::Rm7Module& m) { return blockProbe(m.tmr9().registers(), first, end); });
  sheet.boolean = [starred](u32 field) { return std::ranges::count(starred, field) != 0; };
  return sheet;
}

// The DO block's own registers; the output timer's part of the block is its
// member's, with a sheet of its own.
Sheet const kDigitalOutput = tmr9Sheet<tmr9_regmaps::tDO>(
    "DO", "tmr9_regMaps/DO", 0, kTimerBase, 0x32, {4799, 5092, 5111, 5429, 5484, 5499, 5794},
    {95, 93, 2, 101, 14, 1, 15},
    {row(0x00, R, {1246, 0, 5514}, {{0, 15}}),
     narrow(row(0x00, W, {0, 1355, 5523}, {{0}, {1}, {2}}), 8),
     narrow(row(0x02, W, {0, 1521, 5536}, {{4, 7}}), 8), row(0x04, W, {0, 1639, 5545}, kWord),
     row(0x08, W, {0, 1757, 5554}, run(0, 32)), unkept(row(0x0C, W, {0, 2593, 5625}, kWord)),
     row(0x10, W, {0, 2680, 5634}, kWord),
     resetTo(row(0x14, W, {0, 2798, 5643}, {{0}, {1}, {12, 13}, {14, 15}}), 0x80),
     row(0x18, W, {0, 2988, 5658}, {{8}, {9}, {10, 15}, {16}, {17}, {18, 23}, {25}, {26, 31}}),
     unkept(row(0x1C, W, {0, 3248, 5681}, kWord)), unkept(row(0x20, W, {0, 3309, 5690}, kWord)),
     row(0x24, W, {0, 3396, 5699}, kWord), row(0x28, W, {0, 3514, 5708}, run(0, 16, 2)),
     row(0x2C, W, {0, 3992, 5747}, run(0, 16, 2)),
     unkept(narrow(row(0x30, W, {0, 4444, 5786}, {{0, 11}}), 16))},
    {0x00000000, 0x20000000, 0x10000000, 0x00000014, 0x20000014, 0x04000018, 0x24000018,
     0x02000018});
Sheet const kOutTimer = tmr9Sheet<tmr9_regmaps::tOutTimer>(
    "OutTimer", "tmr9_regMaps/OutTimer", kTimerBase, 0x36, 0x36,
    {5422, 5613, 5728, 6088, 6146, 6170, 6577}, {93, 59, 34, 115, 15, 4, 19},
    {unkept(row(0x00, W, {0, 1373, 6185}, kCommand1)),
     row(0x00, R, {1634, 0, 6228}, join({run(0, 16), {{17}}, run(21, 10)})),
     row(0x04, W, {0, 2159, 6289}, kWord), row(0x04, R, {2264, 0, 6298}, kWord),
     row(0x08, W, {0, 2373, 6307}, kWord), row(0x0C, W, {0, 2491, 6316}, kWord),
     row(0x0C, R, {2596, 0, 6325}, kWord), row(0x10, W, {0, 2705, 6334}, kWord),
     row(0x14, W, {0, 2823, 6343}, kWord), row(0x14, R, {2928, 0, 6352}, kWord),
     row(0x18, W, {0, 3037, 6361}, kWord), row(0x1C, W, {0, 3155, 6370}, kMode1),
     strobing(row(0x20, W, {0, 3633, 6409},
                  {{2}, {3}, {7, 8}, {17}, {18}, {19}, {20}, {21}, {22}, {26}, {27}, {29}, {30}}),
              0x40000),
     narrow(row(0x24, W, {0, 4039, 6442}, {{5}, {10}, {12, 13}, {15}}), 16),
     resetTo(narrow(row(0x26, W, {0, 4229, 6457}, {{0}, {8, 15}}), 16), 0x1),
     unkept(row(0x28, W, {0, 4345, 6468}, kInterrupt)),
     unkept(row(0x2C, W, {0, 4560, 6505}, kInterrupt)),
     row(0x30, W, {0, 4801, 6542},
         {{0, 1}, {2, 3}, {4, 5}, {10, 11}, {12, 13}, {16, 17}, {18, 19}}),
     unkept(narrow(row(0x34, W, {0, 5037, 6563}, run(0, 4)), 16))},
    {0x0200001C, 0x12000020, 0x16000020, 0x14000024, 0x3C000024});

// What a whole-map flush of the DO map after construction writes (or a
// refresh reads), as the two sheets say: the DO's own records below the end
// of its window, then the output timer's, at offsets in the DO block.
std::vector<Hit> wholeMap(bool write, u32 windowEnd = 0xFFFFFFFF) {
  std::vector<Hit> hits;
  for (auto [sheet, at] : {std::pair{&kDigitalOutput, 0u}, std::pair{&kOutTimer, kTimerBase}})
    for (Register const& r : sheet->registers())
      if ((write ? r.written() && r.shadow : r.read()) && (at != 0 || r.offset < windowEnd))
        hits.push_back({write, at + r.offset, r.width / 8, write ? r.reset : 0});
  return hits;
}

class Tmr9MapsTest : public ::testing::Test {
 protected:
  tmr9_regmaps::tDO& build(u32 windowSize) { return map_.emplace(&accessor_, 0, 0, windowSize); }
  std::vector<Hit> takeLog() { return hitsOf(module_.module().tmr9().registers().takeLog()); }

  testing_support::MappedModule module_;
  qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false> accessor_{
      module_.bar0() + sim::Tmr9Chip::kDigitalOutputBlock, 0x32};
  std::optional<tmr9_regmaps::tDO> map_;
};

TEST_F(Tmr9MapsTest, TheOutputTimerFollowsTheDoRegistersInEveryWholeMapOperation) {
  tLongStatus status;
  build(0xFFFFFFFF).flushRegMap(true, status);
  EXPECT_EQ(takeLog(), wholeMap(true));
  map_->refreshRegMap(status);
  EXPECT_EQ(takeLog(), wholeMap(false));
  EXPECT_EQ(status.head.code, 0);

  // A DO register outside the window fails the flush; the timer, whose
  // window is its own, is still written after the DO registers that are in.
  tLongStatus partial;
  build(0x10).flushRegMap(true, partial);
  EXPECT_EQ(partial.head.code, kStatusNotAvailable);
  EXPECT_EQ(takeLog(), wholeMap(true, 0x10));
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
}

// ---- The temperature sensor ----

// Registers of bytes, the first the highest; a transfer is logged as an
// access of its byte count. failWith makes transfers fail, moving nothing.
struct FakeSensor final : atut::I2CDevice {
  std::map<uint8_t, u64> registers;
  std::vector<Hit> log;
  int64_t failWith = 0;

  bool fails(tStatus& status) const {
    if (failWith != 0) status.code = failWith;
    return failWith != 0;
  }
  void read(uint8_t pointer, uint8_t* buffer, uint32_t count, tStatus& status) override {
    if (fails(status)) return;
    for (uint32_t i = 0; i < count; ++i)
      buffer[i] = static_cast<uint8_t>(registers[pointer] >> 8 * (count - 1 - i));
    log.push_back({false, pointer, count, registers[pointer] & lowBits(8 * count)});
  }
  void write(uint8_t pointer, uint8_t const* buffer, uint32_t count, tStatus& status) override {
    if (fails(status)) return;
    u64 value = 0;
    for (uint32_t i = 0; i < count; ++i) value = value << 8 | buffer[i];
    log.push_back({true, pointer, count, registers[pointer] = value});
  }
};

FakeSensor gSensor;

BuiltMap buildSensorMap(u64, u32 base, u32 windowStart, u32 windowSize) {
  struct Built {
    Built(u32 b, u32 start, u32 size) : map(&accessor, b, start, size) {}
    atut::I2CDeviceAccessor accessor{gSensor};
    atut::tTMP101RegMap map;
  };
  auto built = std::make_shared<Built>(base, windowStart, windowSize);
  return BuiltMap(built, &built->map);
}

Sheet const kTMP101 = sheetOf(
    "TMP101", 0, 2, "22.8.0f108", "./dep_mirror/deps/atut_mock/includes/atut/armgen/TMP101RegMap",
    {743, 784, 803, 845, 861, 876, 922}, {11, 9, 2, 9, 1, 1, 2},
    {narrow(row(0, R, {346, 0, 891}, {{0, 15}}), 16),
     narrow(row(1, W, {0, 455, 900}, run(0, 8)), 8)},
    buildSensorMap, [](sim::Rm7Module&) {
      return Probe{[] { return gSensor.log; }, [] { return std::vector<Hit>{}; },
                   [] { gSensor.log.clear(); },
                   [](u32 pointer, u64 value) { gSensor.registers[pointer & 0xFF] = value; }};
    });

INSTANTIATE_TEST_SUITE_P(Chips, MapConformance,
                         ::testing::Values(&kVexus, &kVexusI2C, &kVexusConfigPortI2C,
                                           &kVexusConfigPortSPI, &kVexusConfigPortWindow,
                                           &kIsolationPortRegMap, &kSwitchedVexusBimRegMap,
                                           &kDigitalOutput, &kOutTimer, &kTMP101),
                         sheetName);

TEST(TMP101RegMapTest, ARecordChangesOnlyWhenItsTransferSucceeded) {
  atut::I2CDeviceAccessor accessor(gSensor);
  atut::tTMP101RegMap map(&accessor, 0, 0, 0xFFFFFFFF);
  gSensor.registers[0x00] = 0x1234;
  tStatus status;
  u64 value = 0;
  map.read(0xC0000000, value, status, 0);
  EXPECT_EQ(value, 0x1234u);

  gSensor.registers[0x00] = 0x5678;
  gSensor.failWith = -50;
  map.read(0x40000000, value, status, 0);
  EXPECT_EQ(status.code, -50);
  EXPECT_EQ(value, 0x1234u);
  tStatus configuration;
  map.write(0x28000001, 2, false, configuration, 0);  // bit 5: any non-zero value
  EXPECT_EQ(configuration.code, -50);

  gSensor.failWith = 0;
  gSensor.log.clear();
  tStatus retry;
  map.flushRegMap(false, retry);  // still dirty
  map.refreshRegMap(retry);
  map.get(0xC0000000, value, retry, 0);
  EXPECT_EQ(value, 0x5678u);
  EXPECT_EQ(retry.code, 0);
  EXPECT_EQ(gSensor.log, (std::vector<Hit>{{true, 0x01, 1, 0x20}, {false, 0x00, 2, 0x5678}}));
}

}  // namespace
}  // namespace conformance
