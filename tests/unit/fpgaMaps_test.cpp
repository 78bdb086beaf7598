// The FPGA's base, thread, slot and source-stream maps: their sheets for the
// conformance harness, written from the maps' documentation (registers in
// declaration order with their sites, the acceptance counts and the refusal
// sites of each slot), and the named operations of the trigger
// configurations, which no slot reaches.
#include "registers/generated/HalcyonTmr9SourceStreams.h"
#include "registers/generated/RM7BaseRegMap.h"
#include "registers/generated/RM7SlotRegisterMap.h"
#include "registers/generated/RM7ThreadRegisterMap.h"
#include "support/fpgaMapBuild.h"
#include "support/mapConformance.h"
#include "support/mappedModule.h"

namespace conformance {
namespace {

constexpr Access R = kRead;
constexpr Access W = kWritten;
constexpr Access RW = kReadWritten;

constexpr char kBaseFile[] = "armgen/RM7BaseRegMap";
// offset, access, key, refresh / flush / format line, fields [, alias, its line and fields,
// strobe bits]
std::vector<Register> baseRegisters() {
  std::vector<Register> r = {{0x00, RW, 0x80000000, 1667, 1643, 9287, 1},
                             {0x04, R, 0xC0000004, 1778, 0, 9296, 4},
                             {0x08, R, 0xC0000008, 1778, 0, 9311, 4},
                             {0x0C, RW, 0x8000000C, 1960, 1936, 9326, 1},
                             {0x10, R, 0xC0000010, 2071, 0, 9335, 1},
                             {0x14, R, 0xC0000014, 2167, 0, 9344, 10},
                             {0x18, R, 0xC0000018, 2407, 0, 9371, 10},
                             {0x1C, W, 0x8000001C, 0, 2660, 9398, 10, 0, 0, 0, 0x001E3F00},
                             {0x60, W, 0x80000060, 0, 2994, 9425, 1, 0, 0, 0, 0x3F},
                             {0x64, W, 0x80000064, 0, 3112, 9434, 1, 0, 0, 0, 0x3F},
                             {0x68, R, 0xC0000068, 3217, 0, 9443, 1},
                             {0x20, W, 0x80000020, 0, 3326, 9452, 5, 0, 0, 0, 0x1F},
                             {0x24, R, 0xC0000024, 3527, 0, 9469, 5},
                             {0x28, RW, 0x80000028, 3724, 3700, 9486, 1},
                             {0x2C, RW, 0x8000002C, 3872, 3848, 9495, 1},
                             {0x30, RW, 0x80000030, 4020, 3996, 9504, 1},
                             {0x34, R, 0xC0000034, 4131, 0, 9513, 1},
                             {0x38, W, 0x80000038, 0, 4240, 9522, 9},
                             {0x3C, R, 0xC000003C, 4537, 0, 9547, 9},
                             {0x40, RW, 0x80000040, 4798, 4774, 9572, 1},
                             {0x44, RW, 0x80000044, 4946, 4922, 9581, 1},
                             {0x48, RW, 0x80000048, 5094, 5070, 9590, 1},
                             {0x4C, RW, 0x8000004C, 5242, 5218, 9599, 1},
                             {0xC8, RW, 0x800000C8, 5390, 5366, 9608, 2}};
  for (u32 i = 0; i < 9; ++i)  // the nine trigger configurations
    r.push_back({0xCC + 4 * i, RW, 0x800000CC + 4 * i, 5569, 5545, 9619 + 17 * i, 5});
  std::vector<Register> const tail = {
      {0x70, RW, 0x80000070, 5849, 5825, 9772, 13, 0xC0000070, 9805, 8, 0x1F},
      {0x74, R, 0xC0000074, 6297, 0, 9828, 1},
      {0x78, R, 0xC0000078, 6393, 0, 9837, 1},
      {0x7C, RW, 0x8000007C, 6526, 6502, 9846, 3, 0xC000007C, 9859, 1, 0x80000004},
      {0x80, RW, 0x80000080, 6722, 6698, 9868, 2},
      {0x84, W, 0x80000084, 0, 6877, 9879, 2},
      {0x88, R, 0xC0000088, 7006, 0, 9890, 5}};
  r.insert(r.end(), tail.begin(), tail.end());
  return r;
}

// 196 IDs; 132 written, 155 read; 28 written and 34 read registers, each
// also named by the two read-view aliases; 42 whole IDs.
Sheet const kBase = fpgaSheet<qvrm7_driver::tRM7BaseRegMap>(
    "RM7BaseRegMap", sim::Rm7Fpga::kBaseBlock, sim::Rm7Fpga::kBaseSize, &sim::Rm7Fpga::base,
    kBaseFile, {7770, 8176, 8650, 9057, 9156, 9272, 9906}, {196, 132, 155, 132, 28 + 2, 34 + 2, 42},
    baseRegisters);

constexpr char kThreadFile[] = "armgen/RM7ThreadRegisterMap";
Sheet const kThread = fpgaSheet<qvrm7_driver::tRM7ThreadRegisterMap>(
    "RM7ThreadRegisterMap", sim::Rm7Fpga::kThreadBlock, sim::Rm7Fpga::kThreadSize,
    &sim::Rm7Fpga::thread, kThreadFile, {2015, 2087, 2176, 2249, 2275, 2312, 2443},
    {9 + 22, 5 + 15, 9 + 22 - 5, 5 + 15, 5, 9, 9}, [] {
      return std::vector<Register>{
          {0x00, RW, 0x80000000, 643, 619, 2327, 10, 0xC0000000, 2354, 5, 0x030B0000},
          {0x04, R, 0xC0000004, 998, 0, 2371, 1},
          {0x08, R, 0xC0000008, 1094, 0, 2380, 1},
          {0x20, RW, 0x80000020, 1227, 1203, 2389, 1},
          {0x24, RW, 0x80000024, 1375, 1351, 2398, 1},
          {0x28, RW, 0x80000028, 1523, 1499, 2407, 3},
          {0x10, R, 0xC0000010, 1696, 0, 2420, 2},
          {0x14, R, 0xC0000014, 1808, 0, 2431, 3}};
    });

constexpr char kSlotFile[] = "armgen/RM7SlotRegisterMap";
// 16 whole IDs and 44 fields; the two read-only registers have two IDs
// each; read takes 25 of them.
Sheet const kSlot = fpgaSheet<qvrm7_driver::tRM7SlotRegisterMap>(
    "RM7SlotRegisterMap", sim::Rm7Fpga::kSlotBlock, sim::Rm7Fpga::kSlotSize, &sim::Rm7Fpga::slot,
    kSlotFile, {3697, 3877, 3963, 4144, 4197, 4228, 4462},
    {16 + 44, 60 - 4, 25, 60 - 4, 13 + 1, 6 + 1, 16}, [] {
      return std::vector<Register>{
          {0x04, W, 0x80000004, 0, 911, 4243, 1},
          {0x08, W, 0x80000008, 0, 1029, 4252, 1},
          {0x0C, W, 0x8000000C, 0, 1147, 4261, 1},
          {0x1C, W, 0x8000001C, 0, 1265, 4270, 1},
          {0x20, W, 0x80000020, 0, 1383, 4279, 1},
          {0x24, W, 0x80000024, 0, 1501, 4288, 1},
          {0x28, R, 0xC0000028, 1606, 0, 4297, 1},
          {0x30, RW, 0x80000030, 1739, 1715, 4306, 1},
          {0x34, RW, 0x80000034, 1887, 1863, 4315, 1},
          {0x00, RW, 0x80000000, 2035, 2011, 4324, 17, 0xC0000000, 4365, 10, 0x03421820},
          {0x2C, W, 0x8000002C, 0, 2606, 4392, 6},
          {0x40, W, 0x80000040, 0, 2844, 4411, 1},
          {0x44, R, 0xC0000044, 2949, 0, 4420, 1},
          {0x50, RW, 0x80000050, 3082, 3058, 4429, 4},
          {0x100, W, 0x80000100, 0, 3299, 4444, 6}};
    });

constexpr char kStreamsFile[] = "armgen/HalcyonTmr9SourceStreams";
Sheet const kSourceStreams = fpgaSheet<qvrm7_driver::tHalcyonTmr9SourceStreams>(
    "HalcyonTmr9SourceStreams", sim::Rm7Fpga::kSourceStreamBlock, sim::Rm7Fpga::kSourceStreamSize,
    &sim::Rm7Fpga::sourceStreams, kStreamsFile, {772, 798, 829, 856, 875, 890, 939},
    {10, 4, 6, 4, 2, 1, 3}, [] {
      return std::vector<Register>{{0x0, W, 0x80000000, 0, 376, 905, 1},
                                   {0x4, W, 0x80000004, 0, 494, 914, 1, 0, 0, 0, 0x01000000},
                                   {0x4, R, 0xC0000004, 599, 0, 923, 5}};
    });

INSTANTIATE_TEST_SUITE_P(Fpga, MapConformance,
                         ::testing::Values(&kBase, &kThread, &kSlot, &kSourceStreams), sheetName);

// Each writer changes its own bits and writes the word when it changed or
// when forced; each reader reads the word anew.
TEST(BaseMap, TriggerConfigurationsWriteAndReadTheirOwnBits) {
  testing_support::MappedModule module;
  sim::FpgaBlock& block = module.fpga().base();
  qvrm7_driver::tRM7BaseRegMap::tAccessor accessor{module.bar0() + sim::Rm7Fpga::kBaseBlock,
                                                   sim::Rm7Fpga::kBaseSize};
  qvrm7_driver::tRM7BaseRegMap map(&accessor, 0, 0, 0xFFFFFFFF);
  auto& trigger = map.trigConfig<8>();
  tLongStatus status;
  trigger.writePolarity(true, status, false);
  trigger.writePolarity(true, status, false);  // unchanged: not written
  trigger.writeLowDrive(true, status, false);
  trigger.writeTrigStaticSource(qvrm7_driver::nRM7BaseRegMap::StaticSourceEnum(0x1F), status,
                                false);
  trigger.writeHighDrive(false, status, true);  // unchanged, but forced
  trigger.writeFilterOff(true, status, false);
  trigger.writeLowDrive(false, status, false);
  std::vector<sim::FpgaAccessRecord> expected;
  for (u32 word : {0x100u, 0x110u, 0x11Fu, 0x11Fu, 0x31Fu, 0x30Fu})
    expected.push_back({true, 0xEC, 4, word});
  EXPECT_EQ(block.log(), expected);

  block.clearLog();
  block.setReadValue(0xEC, 0x220);
  EXPECT_FALSE(trigger.readLowDrive(status));
  EXPECT_TRUE(trigger.readHighDrive(status));
  EXPECT_FALSE(trigger.readPolarity(status));
  EXPECT_TRUE(trigger.readFilterOff(status));
  EXPECT_EQ(block.log(), std::vector<sim::FpgaAccessRecord>(4, {false, 0xEC, 4, 0x220}));
  EXPECT_EQ(map.signature().readRegister(status), sim::Rm7Fpga::kSignature);
  EXPECT_EQ(status.head.code, 0);
}

}  // namespace
}  // namespace conformance
