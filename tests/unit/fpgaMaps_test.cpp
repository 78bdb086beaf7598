// The FPGA's base, thread, slot and source-stream maps: their sheets for the
// conformance harness, written from the maps' documentation (registers in
// declaration order, the acceptance counts and the refusal
// sites of each slot), and the named operations of the trigger
// configurations, which no slot reaches.
#include "registers/generated/HalcyonTmr9SourceStreams.h"
#include "registers/generated/RM7BaseRegMap.h"
#include "registers/generated/RM7SlotRegisterMap.h"
#include "registers/generated/RM7ThreadRegisterMap.h"
#include "support/fpgaMapBuild.h"
#include "support/mapConformance.h"

namespace conformance {
namespace {

constexpr Access R = kRead;
constexpr Access W = kWritten;
constexpr Access RW = kReadWritten;

// Each row: offset, access, the lines (refresh, flush, format, alias's
// format), then the fields' bits.
std::vector<Register> baseRegisters() {
  std::vector<Bits> const word = {{0, 31}}, slots = {{0, 5}};
  std::vector<Bits> const revision = {{0, 7}, {8, 15}, {16, 23}, {24, 31}};
  std::vector<Bits> const errors = {{8}, {9}, {10}, {11}, {12}, {13}, {17}, {18}, {19}, {20}};
  std::vector<Bits> const five = {{0}, {1}, {2}, {3}, {4}};
  std::vector<Bits> const relays = {{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}};
  std::vector<Register> r({row(0x00, RW, {1667, 1643, 9287}, word),
                           row(0x04, R, {1778, 0, 9296}, revision),
                           row(0x08, R, {1778, 0, 9311}, revision),
                           row(0x0C, RW, {1960, 1936, 9326}, word),
                           row(0x10, R, {2071, 0, 9335}, word),
                           row(0x14, R, {2167, 0, 9344}, errors),
                           row(0x18, R, {2407, 0, 9371}, errors),
                           strobing(row(0x1C, W, {0, 2660, 9398}, errors), 0x001E3F00),
                           strobing(row(0x60, W, {0, 2994, 9425}, slots), 0x3F),
                           strobing(row(0x64, W, {0, 3112, 9434}, slots), 0x3F),
                           row(0x68, R, {3217, 0, 9443}, slots),
                           strobing(row(0x20, W, {0, 3326, 9452}, five), 0x1F),
                           row(0x24, R, {3527, 0, 9469}, five),
                           row(0x28, RW, {3724, 3700, 9486}, {{0, 24}}),
                           row(0x2C, RW, {3872, 3848, 9495}, {{0, 24}}),
                           row(0x30, RW, {4020, 3996, 9504}, {{0, 9}}),
                           row(0x34, R, {4131, 0, 9513}, {{0, 11}}),
                           row(0x38, W, {0, 4240, 9522}, relays),
                           row(0x3C, R, {4537, 0, 9547}, relays),
                           row(0x40, RW, {4798, 4774, 9572}, word),
                           row(0x44, RW, {4946, 4922, 9581}, word),
                           row(0x48, RW, {5094, 5070, 9590}, word),
                           row(0x4C, RW, {5242, 5218, 9599}, word),
                           row(0xC8, RW, {5390, 5366, 9608}, {{8}, {10}})});
  u32 const formats[] = {9619, 9636, 9653, 9670, 9687, 9704, 9721, 9738, 9755};
  for (u32 i = 0; i < 9; ++i)  // the nine trigger configurations
    r.push_back(row(0xCC + 4 * i, RW, {5569, 5545, formats[i]}, {{0, 3}, {4}, {5}, {8}, {9}}));
  r.insert(
      r.end(),
      {strobing(readAlso(row(0x70, RW, {5849, 5825, 9772, 9805},
                             join({five, {{8}, {9}, {10}, {11}, {12}, {13}, {16, 20}, {25, 29}}})),
                         8),
                0x1F),
       row(0x74, R, {6297, 0, 9828}, slots), row(0x78, R, {6393, 0, 9837}, slots),
       strobing(readAlso(row(0x7C, RW, {6526, 6502, 9846, 9859}, {{0, 1}, {2}, {31}}), 1),
                0x80000004),
       row(0x80, RW, {6722, 6698, 9868}, {{0, 23}, {24, 27}}),
       row(0x84, W, {0, 6877, 9879}, {{0, 3}, {16, 23}}),
       row(0x88, R, {7006, 0, 9890}, {{0}, {1}, {2}, {3}, {16, 23}})});
  return r;
}

// 196 IDs; 132 written, 155 read; 28 written and 34 read registers, each
// also named by the two read-view aliases; 42 whole IDs.
Sheet const kBase = fpgaSheet<qvrm7_driver::tRM7BaseRegMap>(
    "RM7BaseRegMap", sim::Rm7Fpga::kBaseBlock, sim::Rm7Fpga::kBaseSize, &sim::Rm7Fpga::base,
    "armgen/RM7BaseRegMap", {7770, 8176, 8650, 9057, 9156, 9272, 9906},
    {196, 132, 155, 132, 28 + 2, 34 + 2, 42}, baseRegisters());

Sheet const kThread = fpgaSheet<qvrm7_driver::tRM7ThreadRegisterMap>(
    "RM7ThreadRegisterMap", sim::Rm7Fpga::kThreadBlock, sim::Rm7Fpga::kThreadSize,
    &sim::Rm7Fpga::thread, "armgen/RM7ThreadRegisterMap",
    {2015, 2087, 2176, 2249, 2275, 2312, 2443}, {9 + 22, 5 + 15, 9 + 22 - 5, 5 + 15, 5, 9, 9},
    {strobing(readAlso(row(0x00, RW, {643, 619, 2327, 2354},
                           {{16}, {17}, {19}, {20}, {21}, {22}, {23}, {24}, {25}, {26}}),
                       5),
              0x030B0000),
     row(0x04, R, {998, 0, 2371}, {{0, 5}}), row(0x08, R, {1094, 0, 2380}, {{0, 23}}),
     row(0x20, RW, {1227, 1203, 2389}, {{0, 9}}), row(0x24, RW, {1375, 1351, 2398}, {{0, 23}}),
     row(0x28, RW, {1523, 1499, 2407}, {{8, 11}, {12, 15}, {28, 31}}),
     row(0x10, R, {1696, 0, 2420}, {{0, 25}, {26, 31}}),
     row(0x14, R, {1808, 0, 2431}, {{0, 9}, {16, 25}, {31}})});

// 16 whole IDs and 44 fields; the two read-only registers have two IDs
// each; read takes 25 of them.
Sheet const kSlot = fpgaSheet<qvrm7_driver::tRM7SlotRegisterMap>(
    "RM7SlotRegisterMap", sim::Rm7Fpga::kSlotBlock, sim::Rm7Fpga::kSlotSize, &sim::Rm7Fpga::slot,
    "armgen/RM7SlotRegisterMap", {3697, 3877, 3963, 4144, 4197, 4228, 4462},
    {16 + 44, 60 - 4, 25, 60 - 4, 13 + 1, 6 + 1, 16}, [] {
      std::vector<Bits> const command = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {8, 15}, {26, 31}};
      std::vector<Bits> const config = {{0, 4}, {5},  {8, 10}, {11}, {12}, {13}, {14}, {15}, {16},
                                        {17},   {20}, {21},    {22}, {24}, {25}, {26}, {27}};
      return std::vector<Register>{
          row(0x04, W, {0, 911, 4243}, {{0, 31}}),
          row(0x08, W, {0, 1029, 4252}, {{0, 31}}),
          row(0x0C, W, {0, 1147, 4261}, {{0}}),
          row(0x1C, W, {0, 1265, 4270}, {{0, 7}}),
          row(0x20, W, {0, 1383, 4279}, {{0, 3}}),
          row(0x24, W, {0, 1501, 4288}, {{0}}),
          row(0x28, R, {1606, 0, 4297}, {{0, 31}}),
          row(0x30, RW, {1739, 1715, 4306}, {{0, 15}}),
          row(0x34, RW, {1887, 1863, 4315}, {{0, 7}}),
          strobing(readAlso(row(0x00, RW, {2035, 2011, 4324, 4365}, config), 10), 0x03421820),
          row(0x2C, W, {0, 2606, 4392}, command),
          row(0x40, W, {0, 2844, 4411}, {{0, 31}}),
          row(0x44, R, {2949, 0, 4420}, {{0, 31}}),
          row(0x50, RW, {3082, 3058, 4429}, {{0}, {4}, {5}, {6}}),
          row(0x100, W, {0, 3299, 4444}, command)};
    }());

Sheet const kSourceStreams = fpgaSheet<qvrm7_driver::tHalcyonTmr9SourceStreams>(
    "HalcyonTmr9SourceStreams", sim::Rm7Fpga::kSourceStreamBlock, sim::Rm7Fpga::kSourceStreamSize,
    &sim::Rm7Fpga::sourceStreams, "armgen/HalcyonTmr9SourceStreams",
    {772, 798, 829, 856, 875, 890, 939}, {10, 4, 6, 4, 2, 1, 3},
    {row(0x0, W, {0, 376, 905}, {{0, 31}}),
     strobing(row(0x4, W, {0, 494, 914}, {{24}}), 0x01000000),
     row(0x4, R, {599, 0, 923}, {{0, 15}, {16}, {17}, {18}, {24}})});

INSTANTIATE_TEST_SUITE_P(Fpga, MapConformance,
                         ::testing::Values(&kBase, &kThread, &kSlot, &kSourceStreams), sheetName);

using BaseMap = MapConformance;
INSTANTIATE_TEST_SUITE_P(Fpga, BaseMap, ::testing::Values(&kBase), sheetName);

// Each writer changes its own bits and writes the word when it changed or
// when forced; each reader reads the word anew.
TEST_P(BaseMap, TriggerConfigurationsWriteAndReadTheirOwnBits) {
  qvrm7_driver::tRM7BaseRegMap& base = as<qvrm7_driver::tRM7BaseRegMap>();
  auto& trigger = base.trigConfig<8>();
  tLongStatus status;
  trigger.writePolarity(true, status, false);
  trigger.writePolarity(true, status, false);  // unchanged: not written
  trigger.writeLowDrive(true, status, false);
  trigger.writeTrigStaticSource(qvrm7_driver::nRM7BaseRegMap::StaticSourceEnum(0x1F), status,
                                false);
  trigger.writeHighDrive(false, status, true);  // unchanged, but forced
  trigger.writeFilterOff(true, status, false);
  trigger.writeLowDrive(false, status, false);
  std::vector<Hit> expected;
  for (u32 word : {0x100u, 0x110u, 0x11Fu, 0x11Fu, 0x31Fu, 0x30Fu})
    expected.push_back({true, 0xEC, 4, word});
  EXPECT_EQ(takeLog(), expected);

  probe_.preload(0xEC, 0x220);
  EXPECT_FALSE(trigger.readLowDrive(status));
  EXPECT_TRUE(trigger.readHighDrive(status));
  EXPECT_FALSE(trigger.readPolarity(status));
  EXPECT_TRUE(trigger.readFilterOff(status));
  EXPECT_EQ(takeLog(), std::vector<Hit>(4, {false, 0xEC, 4, 0x220}));
  EXPECT_EQ(status.head.code, 0);
}

}  // namespace
}  // namespace conformance
