// The simulated FPGA's register blocks as the driver reaches them through
// kernel mappings, and the BAR's routing of accesses to overlapping models.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "host/layer/rm7Module.h"
#include "support/mappedModule.h"

namespace {

using sim::FpgaAccessRecord;
using sim::Rm7Fpga;

class FpgaModelTest : public ::testing::Test {
 protected:
  Rm7Fpga& fpga() { return module_.fpga(); }
  testing_support::MappedModule module_;
  uint64_t const bar0_ = module_.bar0();
};

TEST_F(FpgaModelTest, EachOffsetAnswersAsItsRegisterDoes) {
  struct Case {
    char const* what;
    sim::FpgaBlock& block;
    uint32_t offset;
    uint32_t written;
    uint32_t readBack;
    bool stray;  // of the read
  };
  Case const cases[] = {
      {"the signature ignores writes", fpga().base(), 0x00, 0x12345678, Rm7Fpga::kSignature, false},
      {"a plain register reads back", fpga().base(), 0x0C, 0x12345678, 0x12345678, false},
      {"strobe bits read back 0", fpga().base(), 0x7C, 0xFFFFFFFF, 0x7FFFFFFB, false},
      {"thread strobes", fpga().thread(), 0x00, 0xFFFFFFFF, 0xFCF4FFFF, false},
      {"slot strobes", fpga().slot(), 0x00, 0xFFFFFFFF, 0xFCBDE7DF, false},
      {"control and status share an offset", fpga().sourceStreams(), 0x4, 0x01000000, 0, false},
      {"relay-count RAM", fpga().slotRam(), 0x1FFC, 0x80000001, 0x80000001, false},
      {"a write-only register", fpga().base(), 0x1C, 0x100, 0, true},
      {"the FIFO data register", fpga().sourceStreams(), 0x0, 7, 0, true},
      {"no register in the gap", fpga().slotRam(), 0x800, 7, 0, true},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    c.block.clearLog();
    uint64_t const address = bar0_ + c.block.barOffset() + c.offset;
    nQVZOR100_memoryWrite32(address, c.written);
    EXPECT_EQ(nQVZOR100_memoryRead32(address), c.readBack);
    auto const log = c.block.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], (FpgaAccessRecord{true, c.offset, 4, c.written}));
    EXPECT_EQ(log[1], (FpgaAccessRecord{false, c.offset, 4, c.readBack}));
    bool const writeStray = c.offset == 0x800;
    EXPECT_EQ(c.block.strays().size(), (c.stray ? 1u : 0u) + (writeStray ? 1u : 0u));
    if (!writeStray) {
      EXPECT_EQ(c.block.lastWritten(c.offset), c.written);
    }
  }
}

TEST_F(FpgaModelTest, ReadsComeFromTheLatchAfterTheQueuedValuesAndTheLogIsBounded) {
  sim::FpgaBlock& streams = fpga().sourceStreams();
  uint64_t const status = bar0_ + Rm7Fpga::kSourceStreamBlock + 4;
  streams.setReadValue(4, 0x01040000);
  streams.queueReads(4, {1, 2});
  EXPECT_EQ(nQVZOR100_memoryRead32(status), 1u);
  EXPECT_EQ(nQVZOR100_memoryRead32(status), 2u);
  EXPECT_EQ(nQVZOR100_memoryRead32(status), 0x01040000u);
  nQVZOR100_memoryWrite32(status, 0x01000000);  // reaches the control register only
  EXPECT_EQ(nQVZOR100_memoryRead32(status), 0x01040000u);
  EXPECT_TRUE(streams.strays().empty());

  // Narrow or unaligned accesses are no register's.
  nQVZOR100_memoryWrite16(status, 1);
  EXPECT_EQ(nQVZOR100_memoryRead8(status + 1), 0u);
  EXPECT_EQ(streams.strays().size(), 2u);

  // The log keeps its capacity and counts the rest.
  for (size_t i = 0; i < sim::FpgaBlock::kLogCapacity; ++i) nQVZOR100_memoryWrite32(status, 0);
  EXPECT_EQ(streams.log().size(), sim::FpgaBlock::kLogCapacity);
  EXPECT_EQ(streams.logDropped(), 7u);
  streams.clearLog();
  EXPECT_TRUE(streams.log().empty() && streams.strays().empty());
  EXPECT_EQ(streams.logDropped(), 0u);
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
  };
  Probe const probes[] = {{0x0FC, 0, 0}, {0x100, 1, 1}, {0x2FC, 1, 1}, {0x300, 2, 1},
                          {0x33C, 2, 1}, {0x340, 3, 3}, {0x344, 2, 1}, {0x400, 2, 1},
                          {0x4FF, 2, 1}, {0x500, 2, 0}, {0x6FC, 2, 0}, {0x700, 0, 0}};
  for (Probe const& p : probes)
    EXPECT_EQ(bar.registerRead(p.offset, 1), p.beforeDetach & 0xFF) << std::hex << p.offset;
  bar.detach(b);
  for (Probe const& p : probes)
    EXPECT_EQ(bar.registerRead(p.offset, 1), p.afterDetach & 0xFF) << std::hex << p.offset;
  bar.detach(a);
  EXPECT_EQ(bar.registerRead(0x400, 4), 0xEEu);
}

}  // namespace
