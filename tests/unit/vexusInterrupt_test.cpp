// The bridge chip's interrupt managers against the chip's register model:
// what they write, the interrupt queue and the status ring.
#include <optional>
#include <utility>

#include "dmaTestSupport.h"
#include "host/layer/dma/vexusDma.h"
#include "platform/dma/vexusDMAChannel.h"
#include "platform/dma/vexusInterruptManager.h"

namespace {

using namespace dmatest;
using Writes = std::vector<std::pair<uint64_t, uint32_t>>;

class VexusInterruptTest : public DmaTest {
 protected:
  void SetUp() override {
    DmaTest::SetUp();
    regs_.emplace(function_->sharedBar(0), 0);
    sim::enablePciAccessLog(true);
  }
  void TearDown() override {
    regs_.reset();
    DmaTest::TearDown();
  }
  // The 32-bit writes since the last call.
  Writes writes() {
    Writes w;
    for (auto const& a : sim::pciAccessLog())
      if (a.kind == sim::PciAccess::Kind::MemoryWrite) w.emplace_back(a.offset, a.value);
    sim::clearPciAccessLog();
    return w;
  }

  std::optional<sim::VexusInterruptRegisters> regs_;
};

// What it writes when built and destroyed is checked with the ring's manager.
TEST_F(VexusInterruptTest, TheManagerEnablesClaimsAndDrainsItsQueue) {
  tVexusInterruptManager manager(&record_, false);
  for (auto [flags, control] : {std::pair{0u, 0x54000500u},
                                {1u << 24, 0xA4000500u},
                                {1u, 0x94000500u},
                                {0x3000A00u, 0xA8000A00u}}) {
    manager.configureInterrupts(flags);
    EXPECT_EQ(bar().load(0x5C, 4), control) << std::hex << flags;
  }
  writes();
  for (auto [status, claimed] :
       {std::pair{0xFFFFFFFFu, false}, {0x7FFFFFFFu, false}, {0x80000000u, true}}) {
    regs_->scriptStatus({status});
    EXPECT_EQ(manager.claimInterrupt(), claimed) << std::hex << status;
    EXPECT_EQ(writes(), (claimed ? Writes{{0x5C, 0x40000000}} : Writes{}));
  }
  regs_->queueInterrupts({5, 0x80000001});
  for (uint32_t expected : {5u, 0x80000001u, 0u, 0u})
    EXPECT_EQ(manager.dequeueInterrupt(), expected);
  tVexusInterruptManager always(&record_, true);
  writes();
  EXPECT_TRUE(always.claimInterrupt());
  always.enableInterrupts();
  EXPECT_TRUE(sim::pciAccessLog().empty());
}

TEST_F(VexusInterruptTest, TheISPManagerReadsTheRingTheChipWrites) {
  for (uint32_t r = 0x3C0; r <= 0x3F8; r += 8) bar().store64(r, ~0ull);
  tStatus status;
  {
    tVexusInterruptManagerISP manager(&record_, &configuration_, 2, 4, 0, status);
    ASSERT_EQ(status.code, 0);
    auto const sgl = sim::scatterGather(manager.ringMap().handle());
    EXPECT_TRUE(sgl->fromDevice);
    Writes const setUp{
        {0x5C, 0x54000500}, {0x3B4, 0}, {0x3B4, (8 << 10) | 16 | 0x10000}, {0x5C, 1}};
    EXPECT_EQ(writes(), setUp);
    EXPECT_EQ(bar().load64(0x3B8), sgl->segments[0].address);
    for (uint32_t r = 0x3C0; r <= 0x3F8; r += 8) EXPECT_EQ(bar().load64(r), 0u);

    for (uint32_t i = 0; i < 8; ++i) ASSERT_TRUE(regs_->writeRing(i, 100 + i));
    for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(manager.dequeueInterrupt(), i < 8 ? 100 + i : 0);
    EXPECT_EQ(sim::scatterGather(manager.ringMap().handle())->completedBytes, 48u);

    manager.enableInterrupts();
    EXPECT_EQ(writes(), (Writes{{0x5C, 0x80000001}}));
    EXPECT_EQ(manager.dequeueInterrupt(), 0u);  // the first slot was emptied
    EXPECT_FALSE(manager.claimInterrupt());     // the ring's bit is set
    bar().store(0x5C, 4, 0x80000000);
    EXPECT_TRUE(manager.claimInterrupt());
    EXPECT_EQ(writes(), (Writes{{0x5C, 0x40000000}}));

    manager.deactivate();
    EXPECT_EQ(writes(), (Writes{{0x5C, 0x40000000}, {0x3B4, 0}}));
    EXPECT_FALSE(manager.ringEnabled());
    EXPECT_FALSE(regs_->writeRing(0, 1));
    EXPECT_EQ(manager.dequeueInterrupt(), 0u);
    manager.reactivate();
    EXPECT_EQ(writes(), setUp);
    EXPECT_TRUE(manager.ringEnabled());
  }
  EXPECT_EQ(writes(), (Writes{{0x3B4, 0}, {0x5C, 0x40000000}}));
}

// A channel finds its block through the chip's capability, changes only the
// control bits its mode names, and runs until a stop bit ends the run.
TEST_F(VexusInterruptTest, AChannelIsPlacedByTheCapabilityAndRunsUntilAStopBit) {
  constexpr uint64_t kCapability = 0x400, kChannel = kCapability + 2 * 64 + 0x100;
  bar().store(kCapability + 0x0C, 4, 6 << 16);  // blocks of 64 bytes
  bar().store(kCapability + 0x1C, 4, 0x100);
  tStatus failed{16, -1};
  tVexusDMAChannel unplaced({record_.mappedAddress + kCapability}, 2, failed);
  EXPECT_EQ(unplaced.registerAddress(), 0u);
  EXPECT_EQ(writes(), Writes{});
  tVexusDMAChannel channel({record_.mappedAddress + kCapability}, 2);
  EXPECT_EQ(channel.registerAddress(), record_.mappedAddress + kChannel);
  bar().store(kChannel + 0x54, 4, 0xFFFFFFFF);
  channel.configure(0xC40000, 1, 0x1000, 3, 0x2000);
  EXPECT_EQ(bar().load(kChannel + 0x54, 4), 0xFFC4F7FFu);
  EXPECT_EQ(bar().load64(kChannel + 0x28), 0x2000u);
  for (uint32_t status : {0x8000u, 0x4000000u, 0x8000000u, 0x1u}) {
    channel.start({0x123456789A0ull, 0x40}, false);
    EXPECT_EQ(bar().load64(kChannel + 0x48), 0x123456789A0ull);
    channel.handleInterruptStatus(status);
    EXPECT_EQ(channel.running(), status == 1) << status;
  }
}

}  // namespace
