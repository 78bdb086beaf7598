// The simulated FPGA's stray accesses and its log's bound.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/layer/rm7Module.h"
#include "support/mappedModule.h"

namespace {

using sim::FpgaAccessRecord;
using sim::Rm7Fpga;

// What the models answer is the driver tests' to show; here, the accesses
// that no register takes, which those tests only count, and the log's bound.
TEST(FpgaModel, AccessesNoRegisterTakesAreStraysAndTheLogIsBounded) {
  testing_support::MappedModule module;
  sim::FpgaBlock& ram = module.fpga().slotRam();
  uint64_t const ramAt = module.bar0() + Rm7Fpga::kSlotRamBlock;
  nQVZOR100_memoryWrite32(ramAt + 0x1FFC, 0x80000001);
  EXPECT_EQ(nQVZOR100_memoryRead32(ramAt + 0x1FFC), 0x80000001u);
  nQVZOR100_memoryWrite32(ramAt + 0x800, 7);  // no register in the gap
  nQVZOR100_memoryWrite16(ramAt + 0x10, 7);   // 16-bit accesses are no register's
  EXPECT_EQ(nQVZOR100_memoryRead32(module.bar0() + Rm7Fpga::kBaseBlock + 0x1C), 0u);
  EXPECT_EQ(module.fpga().base().strays(), (std::vector<FpgaAccessRecord>{{false, 0x1C, 4, 0}}));
  std::vector<FpgaAccessRecord> const strays = {{true, 0x800, 4, 7}, {true, 0x10, 2, 7}};
  EXPECT_EQ(ram.strays(), strays);
  EXPECT_EQ(ram.log().size(), 4u);  // strays included

  for (size_t i = 0; i < sim::FpgaBlock::kLogCapacity; ++i) nQVZOR100_memoryWrite32(ramAt, 0);
  EXPECT_EQ(ram.log().size(), sim::FpgaBlock::kLogCapacity);
  EXPECT_EQ(ram.logDropped(), 4u);
  EXPECT_EQ(ram.lastWritten(0x1FFC), 0x80000001u);
}

}  // namespace
