// The simulated FPGA's stray accesses and log, and the BAR's routing of
// accesses to overlapping models.
#include <gtest/gtest.h>

#include <cstdint>

#include "host/layer/rm7Module.h"
#include "support/mappedModule.h"

namespace {

using sim::FpgaAccessRecord;
using sim::Rm7Fpga;

// What the models answer is the driver tests' to show; here, the accesses
// that no register takes, which those tests only count, and the log's bound.
TEST(FpgaModel, AccessesNoRegisterTakesAreStraysAndTheLogIsBounded) {
  testing_support::MappedModule module;
  Rm7Fpga& fpga = module.fpga();
  struct Case {
    sim::FpgaBlock& block;
    uint32_t offset;
    unsigned width;
    uint32_t written;
    uint32_t readBack;
    size_t strays;
  } const cases[] = {
      {fpga.slotRam(), 0x1FFC, 4, 0x80000001, 0x80000001, 0},
      {fpga.base(), 0x1C, 4, 0x100, 0, 1},  // a write-only register is not read
      {fpga.slotRam(), 0x800, 4, 7, 0, 2},  // no register in the gap
      {fpga.slotRam(), 0x10, 2, 7, 0, 2},   // 16-bit accesses are no register's
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.block.barOffset() + c.offset);
    c.block.clearLog();
    uint64_t const address = module.bar0() + c.block.barOffset() + c.offset;
    if (c.width == 4) {
      nQVZOR100_memoryWrite32(address, c.written);
      EXPECT_EQ(nQVZOR100_memoryRead32(address), c.readBack);
    } else {
      nQVZOR100_memoryWrite16(address, static_cast<uint16_t>(c.written));
      EXPECT_EQ(nQVZOR100_memoryRead16(address), c.readBack);
    }
    EXPECT_EQ(c.block.log(),
              (std::vector<FpgaAccessRecord>{{true, c.offset, c.width, c.written},
                                             {false, c.offset, c.width, c.readBack}}));
    EXPECT_EQ(c.block.strays().size(), c.strays);
  }
  sim::FpgaBlock& ram = fpga.slotRam();
  for (size_t i = 0; i < sim::FpgaBlock::kLogCapacity; ++i)
    nQVZOR100_memoryWrite32(module.bar0() + Rm7Fpga::kSlotRamBlock, 0);
  EXPECT_EQ(ram.log().size(), sim::FpgaBlock::kLogCapacity);
  EXPECT_EQ(ram.logDropped(), 2u);
  EXPECT_EQ(ram.lastWritten(0x1FFC), 0x80000001u);
}

// Overlapping claims: the newest covering claim answers, and a detach gives
// the stretch back to the claims below it.
TEST(BarClaims, TheNewestCoveringClaimAnswersAnAccess) {
  sim::Bar bar(0xD0000000, 0x1000);
  auto tagged = [&bar](uint64_t offset, uint64_t length, uint32_t tag) {
    sim::RegisterHooks hooks;
    hooks.read = [tag](uint64_t, unsigned) { return tag; };
    return bar.attach(offset, length, std::move(hooks));
  };
  bar.store(0x400, 4, 0xEE);
  uint64_t const a = tagged(0x100, 0x400, 1);  // [0x100, 0x500)
  uint64_t const b = tagged(0x300, 0x400, 2);  // [0x300, 0x700)
  tagged(0x340, 4, 3);
  struct Probe {
    uint64_t offset;
    uint32_t beforeDetach;
    uint32_t afterDetach;
  } const probes[] = {{0x0FC, 0, 0}, {0x100, 1, 1}, {0x2FC, 1, 1}, {0x300, 2, 1},
                      {0x33C, 2, 1}, {0x340, 3, 3}, {0x344, 2, 1}, {0x400, 2, 1},
                      {0x4FF, 2, 1}, {0x500, 2, 0}, {0x6FC, 2, 0}, {0x700, 0, 0}};
  for (Probe const& p : probes)
    EXPECT_EQ(bar.registerRead(p.offset, 1), p.beforeDetach) << std::hex << p.offset;
  bar.detach(b);
  for (Probe const& p : probes)
    EXPECT_EQ(bar.registerRead(p.offset, 1), p.afterDetach) << std::hex << p.offset;
  bar.detach(a);
  EXPECT_EQ(bar.registerRead(0x400, 4), 0xEEu);
}

}  // namespace
