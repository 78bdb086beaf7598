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

std::vector<Register> baseRegisters() {
  std::vector<Register> r({row(0x00, RW),
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
                           row(0xC8, RW, 2)});
  for (u32 i = 0; i < 9; ++i)  // the nine trigger configurations
    r.push_back(row(0xCC + 4 * i, RW, 5));
  r.insert(r.end(), {strobing(readAlso(row(0x70, RW, 13), 8), 0x1F), row(0x74, R), row(0x78, R),
                     strobing(readAlso(row(0x7C, RW, 3), 1), 0x80000004), row(0x80, RW, 2),
                     row(0x84, W, 2), row(0x88, R, 5)});
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
    {strobing(readAlso(row(0x00, RW, 10), 5), 0x030B0000), row(0x04, R), row(0x08, R),
     row(0x20, RW), row(0x24, RW), row(0x28, RW, 3), row(0x10, R, 2), row(0x14, R, 3)});

// 16 whole IDs and 44 fields; the two read-only registers have two IDs
// each; read takes 25 of them.
Sheet const kSlot = fpgaSheet<qvrm7_driver::tRM7SlotRegisterMap>(
    "RM7SlotRegisterMap", sim::Rm7Fpga::kSlotBlock, sim::Rm7Fpga::kSlotSize, &sim::Rm7Fpga::slot,
    "armgen/RM7SlotRegisterMap", {3697, 3877, 3963, 4144, 4197, 4228, 4462},
    {16 + 44, 60 - 4, 25, 60 - 4, 13 + 1, 6 + 1, 16},
    {row(0x04, W), row(0x08, W), row(0x0C, W), row(0x1C, W), row(0x20, W), row(0x24, W),
     row(0x28, R), row(0x30, RW), row(0x34, RW),
     strobing(readAlso(row(0x00, RW, 17), 10), 0x03421820), row(0x2C, W, 6), row(0x40, W),
     row(0x44, R), row(0x50, RW, 4), row(0x100, W, 6)});

Sheet const kSourceStreams = fpgaSheet<qvrm7_driver::tHalcyonTmr9SourceStreams>(
    "HalcyonTmr9SourceStreams", sim::Rm7Fpga::kSourceStreamBlock, sim::Rm7Fpga::kSourceStreamSize,
    &sim::Rm7Fpga::sourceStreams, "armgen/HalcyonTmr9SourceStreams",
    {772, 798, 829, 856, 875, 890, 939}, {10, 4, 6, 4, 2, 1, 3},
    {row(0x0, W), strobing(row(0x4, W), 0x01000000), row(0x4, R, 5)});

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
