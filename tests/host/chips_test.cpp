// The RM7 module's directly decoded chip registers: width and direction
// checks, split read and write meanings at one offset, and the switched
// bridge port's remote access to the isolation port.
#include <gtest/gtest.h>

#include <cstdint>

#include "host/layer/control.h"
#include "host/layer/rm7Module.h"

namespace {

using sim::Rm7Module;
using sim::VexusChip;

class ChipsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(sim::plugIn(module_.device()), 0);
    at_ = nQVZOR230_mapPhysicalToKernel(module_.bar0().physicalAddress(), Rm7Module::kBar0Size, 0);
  }
  void TearDown() override {
    nQVZOR230_unmapPhysicalFromKernel(at_, 0);
    sim::unplug(*module_.device());
  }
  uint32_t read32(uint64_t offset) { return nQVZOR100_memoryRead32(at_ + offset); }
  void write32(uint64_t offset, uint32_t value) { nQVZOR100_memoryWrite32(at_ + offset, value); }

  Rm7Module module_;
  uint64_t at_ = 0;
};

TEST_F(ChipsTest, AccessesOfTheWrongWidthOrDirectionAreFaultsAndTheWindowRegistersStayTheBridges) {
  sim::RegisterBlock& tmr9 = module_.tmr9().registers();
  uint64_t const block = sim::Tmr9Chip::kDigitalOutputBlock;
  tmr9.setReadValue(0x0, 0x1234);
  nQVZOR100_memoryWrite8(at_ + block, 0x5A);
  EXPECT_EQ(read32(block), 0x1234u);  // the status, not the enable byte written
  EXPECT_EQ(tmr9.lastWritten(0x0), 0x5Au);
  nQVZOR100_memoryWrite16(at_ + block + 0x34 + 0x26, 0xFF01);
  EXPECT_EQ(tmr9.lastWritten(0x34 + 0x26), 0xFF01u);
  EXPECT_TRUE(tmr9.strays().empty());

  write32(block, 1);                                      // 8-bit register
  EXPECT_EQ(read32(block + 0x8), 0xFFFFFFFFu);            // written only
  nQVZOR100_memoryWrite16(at_ + block + 0x34 + 0x24, 1);  // fine: 16 bits
  write32(block + 0x34 + 0x24, 1);                        // not fine
  nQVZOR100_memoryWrite8(at_ + block + 0x5, 1);           // inside a register
  using sim::ChipAccess;
  EXPECT_EQ(tmr9.strays(), (std::vector<ChipAccess>{{true, 0x0, 4, 1},
                                                    {false, 0x8, 4, 0xFFFFFFFF},
                                                    {true, 0x34 + 0x24, 4, 1},
                                                    {true, 0x5, 1, 1}}));
  EXPECT_EQ(tmr9.lastWritten(0x0), 0x5Au);

  write32(0xC0, 0x0001008C);  // the window model's context register
  EXPECT_EQ(module_.bridge().context(), 0x0001008Cu);
  EXPECT_EQ(read32(VexusChip::kSignatureRegister), VexusChip::kSignature);
  EXPECT_TRUE(module_.vexus().registers().strays().empty());
}

TEST_F(ChipsTest, TheSwitchedPortReachesTheIsolationPortOnlyWithItsModeAndPort) {
  VexusChip& chip = module_.vexus();
  write32(VexusChip::kRemoteData, 0xCAFEF00D);
  write32(VexusChip::kConfigControl, 0x18000301);        // write, mode 3, port 0, address 0x18
  EXPECT_EQ(chip.isolationRegister(0x18), 0xCAFEF00Cu);  // bits 0-1 clear themselves
  EXPECT_EQ(read32(VexusChip::kConfigControl) & 4, 4u);
  write32(VexusChip::kConfigControl, 0x00100301);  // port 1: nothing
  write32(VexusChip::kConfigControl, 0x00000201);  // mode 2: nothing
  EXPECT_EQ(chip.remoteLog(), (std::vector<sim::ChipAccess>{{true, 0x18, 4, 0xCAFEF00D}}));
  EXPECT_EQ(read32(VexusChip::kConfigControl) & 4, 0u);

  chip.setIsolationRegister(0x00, 0x600DBEEF);
  chip.setReadCompletion(2);
  write32(VexusChip::kConfigControl, 0x00000302);
  EXPECT_EQ(read32(VexusChip::kConfigControl), 0x00000302u);
  EXPECT_EQ(read32(VexusChip::kConfigControl), 0x00000302u);
  EXPECT_EQ(read32(VexusChip::kConfigControl), 0x00000306u);
  EXPECT_EQ(read32(VexusChip::kRemoteData), 0x600DBEEFu);
  EXPECT_EQ(chip.remoteLog().back(), (sim::ChipAccess{false, 0x00, 4, 0x600DBEEF}));

  chip.setReadCompletion(std::nullopt);
  write32(VexusChip::kRemoteData, 0);
  write32(VexusChip::kConfigControl, 0x04000302);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(read32(VexusChip::kConfigControl) & 4, 0u);
  EXPECT_EQ(read32(VexusChip::kRemoteData), 0u);
  EXPECT_TRUE(chip.completeRead());  // late
  EXPECT_EQ(read32(VexusChip::kRemoteData), VexusChip::kIsolationControlStatusReset);
  EXPECT_FALSE(chip.completeRead());
}

}  // namespace
