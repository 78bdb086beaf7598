// The bridge chip's DMA channel and interrupt managers against the chip's
// register model: the register sequences in the layer's access log, the
// 64-bit registers in BAR memory, the interrupt queue and the status ring.
#include <optional>

#include "dmaTestSupport.h"
#include "host/layer/dma/vexusDma.h"
#include "platform/dma/vexusDMAChannel.h"
#include "platform/dma/vexusInterruptManager.h"

namespace {

using namespace dmatest;
using Regs = sim::VexusInterruptRegisters;
using Writes = std::vector<std::pair<uint64_t, uint32_t>>;

// Writes from {offset, value, offset, value, ...}.
Writes flat(std::initializer_list<uint64_t> words) {
  Writes w;
  for (auto i = words.begin(); i != words.end(); i += 2) w.emplace_back(i[0], i[1]);
  return w;
}

constexpr uint64_t kCapability = 0x400;
constexpr uint64_t kChannel = kCapability + 2 * 64 + 0x100;  // channel 2

class VexusInterruptTest : public DmaTest {
 protected:
  void SetUp() override {
    DmaTest::SetUp();
    regs_.emplace(function_->sharedBar(0), 0);
    bar().store(kCapability + 0x0C, 4, 6 << 16);  // blocks of 64 bytes
    bar().store(kCapability + 0x1C, 4, 0x100);
    sim::enablePciAccessLog(true);
  }
  void TearDown() override {
    regs_.reset();
    DmaTest::TearDown();
  }
  // The 32-bit writes since the last call, BAR offsets less base.
  Writes writes(uint64_t base = 0) {
    Writes w;
    for (auto const& a : sim::pciAccessLog())
      if (a.kind == sim::PciAccess::Kind::MemoryWrite) w.emplace_back(a.offset - base, a.value);
    sim::clearPciAccessLog();
    return w;
  }

  std::optional<Regs> regs_;
};

TEST_F(VexusInterruptTest, AChannelWritesItsRegisterSequences) {
  tStatus failed{16, -1};
  tVexusDMAChannel unplaced({record_.mappedAddress + kCapability}, 2, failed);
  EXPECT_EQ(unplaced.registerAddress(), 0u);
  EXPECT_TRUE(sim::pciAccessLog().empty());

  tVexusDMAChannel channel({record_.mappedAddress + kCapability}, 2);
  EXPECT_EQ(channel.registerAddress(), record_.mappedAddress + kChannel);
  EXPECT_EQ(channel.stride(), 64u);
  Writes const reset{{0x54, 1}, {0x58, 2}, {0x54, 2}};
  EXPECT_EQ(writes(kChannel), reset);

  // Control reads back what was last written to it.
  uint64_t const a = 0x123456789A0ull;
  tDMASegment const link{a, 0x40};
  bar().store(kChannel + 0x54, 4, 0xFFFFFFFF);
  channel.configure(0xC40000, 1, a, 3, a + 8);
  channel.configure(0x40000, 1, a, 3, a + 16);
  channel.configure(0, 1, a, 3, a);
  channel.setControlBits(0x3000);
  channel.setControlBits(0x3000);
  EXPECT_FALSE(channel.running());
  channel.start(link, false);
  channel.start(link, true);
  channel.loadAddress(a + 24);
  channel.deactivate();
  EXPECT_TRUE(channel.running());
  EXPECT_EQ(writes(kChannel),
            flat({0x30,       1,    0x34,       3,    0x54,       0xFFC4F7FF, 0x30, 1,    0x54,
                  0xFF04F7FF, 0x54, 0xFF00F7FF, 0x54, 0xF00077FF, 0x50,       0x40, 0x58, 1,
                  0x50,       0x40, 0x58,       5,    0x58,       0x2000000,  0x58, 2}));
  for (auto [reg, value] : {std::pair{0x20u, a}, {0x28u, a + 16}, {0x48u, a}, {0x90u, a + 24}})
    EXPECT_EQ(bar().load64(kChannel + reg), value) << reg;
  channel.reactivate();
  EXPECT_FALSE(channel.running());
  bar().store64(kChannel + 0xA0, a);
  EXPECT_EQ(channel.readStatusAddress(), a);
  for (uint32_t status : {0x8000u, 0x4000000u, 0x8000000u, 0x1u}) {
    channel.start(link, false);
    channel.handleInterruptStatus(status);
    EXPECT_EQ(channel.running(), status == 1) << status;
  }
}

TEST_F(VexusInterruptTest, TheManagerEnablesClaimsAndDrainsItsQueue) {
  struct Flags {
    uint32_t flags, control;
  };
  {
    tVexusInterruptManager manager(&record_, false);
    EXPECT_EQ(writes(), (Writes{{0x5C, 0x54000500}}));
    for (Flags const f :
         {Flags{0, 0x54000500}, {1u << 24, 0xA4000500}, {1, 0x94000500}, {0x3000A00, 0xA8000A00}}) {
      manager.configureInterrupts(f.flags);
      EXPECT_EQ(writes(), (Writes{{0x5C, f.control}})) << std::hex << f.flags;
    }
    struct Claim {
      uint32_t status;
      bool claimed;
    };
    for (Claim const c : {Claim{0xFFFFFFFF, false}, {0x7FFFFFFF, false}, {0x80000000, true}}) {
      regs_->scriptStatus({c.status});
      EXPECT_EQ(manager.claimInterrupt(), c.claimed) << std::hex << c.status;
      EXPECT_EQ(writes(), (c.claimed ? Writes{{0x5C, 0x40000000}} : Writes{}));
    }
    regs_->queueInterrupts({5, 0x80000001});
    for (uint32_t expected : {5u, 0x80000001u, 0u, 0u})
      EXPECT_EQ(manager.dequeueInterrupt(), expected);
    manager.enableInterrupts();
    manager.deactivate();
    manager.reactivate();
    EXPECT_EQ(writes(), (Writes{{0x5C, 0x80000000}, {0x5C, 0x40000000}, {0x5C, 0x54000500}}));
  }
  EXPECT_EQ(writes(), (Writes{{0x5C, 0x40000000}}));
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

}  // namespace
