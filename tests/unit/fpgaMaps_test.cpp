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
#include "support/mappedModule.h"

namespace conformance {
namespace {

constexpr Access R = kRead;
constexpr Access W = kWritten;
constexpr Access RW = kReadWritten;

constexpr char kBaseFile[] = "armgen/RM7BaseRegMap";
std::vector<Register> baseRegisters() {
  std::vector<Register> r = {row(0x00, RW),
                             row(0x04, R, 4),
                             row(0x08, R, 4),
                             row(0x0C, RW),
                             row(0x10, R),
                             row(0x14, R, 10),
                             row(0x18, R, 10),
                             strobing(row(0x1C, W, 10), 0x001E3F00),
                             strobing(row(0x60, W), 0x3F),
                             strobing(row(0x64, W), 0x3F),
                             row(0x68, R),
                             strobing(row(0x20, W, 5), 0x1F),
                             row(0x24, R, 5),
                             row(0x28, RW),
                             row(0x2C, RW),
                             row(0x30, RW),
                             row(0x34, R),
                             row(0x38, W, 9),
                             row(0x3C, R, 9),
                             row(0x40, RW),
                             row(0x44, RW),
                             row(0x48, RW),
                             row(0x4C, RW),
                             row(0xC8, RW, 2)};
  for (u32 i = 0; i < 9; ++i)  // the nine trigger configurations
    r.push_back(row(0xCC + 4 * i, RW, 5));
  std::vector<Register> const tail = {strobing(readAlso(row(0x70, RW, 13), 8), 0x1F),
                                      row(0x74, R),
                                      row(0x78, R),
                                      strobing(readAlso(row(0x7C, RW, 3), 1), 0x80000004),
                                      row(0x80, RW, 2),
                                      row(0x84, W, 2),
                                      row(0x88, R, 5)};
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
      return std::vector<Register>{strobing(readAlso(row(0x00, RW, 10), 5), 0x030B0000),
                                   row(0x04, R),
                                   row(0x08, R),
                                   row(0x20, RW),
                                   row(0x24, RW),
                                   row(0x28, RW, 3),
                                   row(0x10, R, 2),
                                   row(0x14, R, 3)};
    });

constexpr char kSlotFile[] = "armgen/RM7SlotRegisterMap";
// 16 whole IDs and 44 fields; the two read-only registers have two IDs
// each; read takes 25 of them.
Sheet const kSlot = fpgaSheet<qvrm7_driver::tRM7SlotRegisterMap>(
    "RM7SlotRegisterMap", sim::Rm7Fpga::kSlotBlock, sim::Rm7Fpga::kSlotSize, &sim::Rm7Fpga::slot,
    kSlotFile, {3697, 3877, 3963, 4144, 4197, 4228, 4462},
    {16 + 44, 60 - 4, 25, 60 - 4, 13 + 1, 6 + 1, 16}, [] {
      return std::vector<Register>{
          row(0x04, W),    row(0x08, W),
          row(0x0C, W),    row(0x1C, W),
          row(0x20, W),    row(0x24, W),
          row(0x28, R),    row(0x30, RW),
          row(0x34, RW),   strobing(readAlso(row(0x00, RW, 17), 10), 0x03421820),
          row(0x2C, W, 6), row(0x40, W),
          row(0x44, R),    row(0x50, RW, 4),
          row(0x100, W, 6)};
    });

constexpr char kStreamsFile[] = "armgen/HalcyonTmr9SourceStreams";
Sheet const kSourceStreams = fpgaSheet<qvrm7_driver::tHalcyonTmr9SourceStreams>(
    "HalcyonTmr9SourceStreams", sim::Rm7Fpga::kSourceStreamBlock, sim::Rm7Fpga::kSourceStreamSize,
    &sim::Rm7Fpga::sourceStreams, kStreamsFile, {772, 798, 829, 856, 875, 890, 939},
    {10, 4, 6, 4, 2, 1, 3}, [] {
      return std::vector<Register>{row(0x0, W), strobing(row(0x4, W), 0x01000000), row(0x4, R, 5)};
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
