// The bridge chip's DMA channel and interrupt managers against the chip's
// register model: the register sequences in the layer's access log, the
// 64-bit registers in BAR memory, the interrupt queue and the status ring.
#include <functional>
#include <optional>

#include "dmaTestSupport.h"
#include "host/layer/dma/vexusDma.h"
#include "platform/dma/vexusDMAChannel.h"
#include "platform/dma/vexusInterruptManager.h"
#include "platform/statusCodes.h"

namespace {

using namespace dmatest;
using Regs = sim::VexusInterruptRegisters;
using Writes = std::vector<std::pair<uint64_t, uint32_t>>;

constexpr uint64_t kCapability = 0x400;
constexpr uint64_t kChannel = kCapability + 2 * 64 + 0x100;  // channel 2

class VexusInterruptTest : public DmaTest {
 protected:
  void SetUp() override {
    DmaTest::SetUp();
    record_.mappedAddress = nQVZOR230_mapPhysicalToKernel(bar().physicalAddress(), 0x1000, 0);
    ASSERT_NE(record_.mappedAddress, 0u);
    regs_.emplace(function_->sharedBar(0), 0);
    bar().store(kCapability + 0x0C, 4, 6 << 16);  // blocks of 64 bytes
    bar().store(kCapability + 0x1C, 4, 0x100);
    sim::enablePciAccessLog(true);
  }
  void TearDown() override {
    regs_.reset();
    nQVZOR230_unmapPhysicalFromKernel(record_.mappedAddress, 0);
    DmaTest::TearDown();
  }
  sim::Bar& bar() { return function_->bar(0); }
  // The 32-bit writes since the last call, BAR offsets less base.
  Writes writes(uint64_t base = 0) {
    Writes w;
    for (auto const& a : sim::pciAccessLog())
      if (a.kind == sim::PciAccess::Kind::MemoryWrite) w.emplace_back(a.offset - base, a.value);
    sim::clearPciAccessLog();
    return w;
  }

  tVexusRegisterRecord record_{};
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

  struct Case {
    char const* name;
    std::function<void(tVexusDMAChannel&)> op;
    Writes writes;
    std::vector<std::pair<uint32_t, uint64_t>> stores;  // 64-bit registers
    bool running;
  };
  uint64_t const a = 0x123456789A0ull;
  Case const cases[] = {
      {"configure every value",
       [&](auto& c) { c.configure(0xC40000, 0x30, a, 0x34, a + 8); },
       {{0x30, 0x30}, {0x34, 0x34}, {0x54, 0xFFC4F7FF}},
       {{0x20, a}, {0x28, a + 8}},
       false},
      {"configure nothing",
       [](auto& c) { c.configure(0, 1, 2, 3, 4); },
       {{0x54, 0xFF00F7FF}},
       {},
       false},
      {"configure bit 18",
       [&](auto& c) { c.configure(0x40000, 0x30, 1, 2, a); },
       {{0x30, 0x30}, {0x54, 0xFF04F7FF}},
       {{0x28, a}},
       false},
      {"control bits, once while unchanged",
       [](auto& c) {
         c.setControlBits(0x3000);
         c.setControlBits(0x3000);
       },
       {{0x54, 0xF0FF7FFF}},
       {},
       false},
      {"start",
       [&](auto& c) {
         c.start({a, 0x40}, false);
       },
       {{0x50, 0x40}, {0x58, 1}},
       {{0x48, a}},
       true},
      {"start with the option",
       [&](auto& c) {
         c.start({a + 16, 0x30}, true);
       },
       {{0x50, 0x30}, {0x58, 5}},
       {{0x48, a + 16}},
       true},
      {"load an address",
       [&](auto& c) { c.loadAddress(a); },
       {{0x58, 0x2000000}},
       {{0x90, a}},
       true},
      {"deactivate", [](auto& c) { c.deactivate(); }, {{0x58, 2}}, {}, true},
      {"reactivate", [](auto& c) { c.reactivate(); }, reset, {}, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    bar().store(kChannel + 0x54, 4, 0xFFFFFFFF);
    for (uint32_t r : {0x20u, 0x28u, 0x48u, 0x90u}) bar().store64(kChannel + r, 0);
    c.op(channel);
    EXPECT_EQ(writes(kChannel), c.writes);
    for (auto const& [reg, value] : c.stores) EXPECT_EQ(bar().load64(kChannel + reg), value);
    EXPECT_EQ(channel.running(), c.running);
  }
  bar().store64(kChannel + 0xA0, a);
  EXPECT_EQ(channel.readStatusAddress(), a);
  for (uint32_t status : {0x8000u, 0x4000000u, 0x8000000u, 0x1u}) {
    channel.start({a, 16}, false);
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
    for (Flags const f : {Flags{0, 0x54000500},
                          {1u << 24, 0xA4000500},
                          {1u << 25, 0x98000500},
                          {1u << 11, 0x94000900},
                          {1u << 9, 0x94000600},
                          {(1u << 24) | (1u << 25) | (1u << 11) | (1u << 9), 0xA8000A00},
                          {1, 0x94000500}}) {
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

TEST_F(VexusInterruptTest, AnISPManagerWithoutItsRingNeverGivesTheChipOne) {
  struct Case {
    char const* name;
    char const* fault;
    int32_t extraWords;
    int64_t code;
    char const* file;
    uint64_t line;
  };
  Case const cases[] = {
      {"no pages", "nQVZOR220_tPageList_createFromAllocation", 2, -52000, "memory", 767},
      {"pages not mapped", "nQVZOR220_tPageList_mapToKernel", 2, -52000, "memory", 1079},
      {"no scatter-gather object", "nQVZOR220_tSGL_createForPCI", 2, -52000, "tStandardDMAMap", 40},
      {"fewer than no extra words", nullptr, -1, -52005, "tVexusInterruptManagerISP", 52},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    writes();
    if (c.fault != nullptr) sim::failNthCall(c.fault, 1);
    {
      tLongStatus status;
      tVexusInterruptManagerISP manager(&record_, &configuration_, c.extraWords, 4, 0, status);
      expectSite(status, c.code, c.file, c.line);
      EXPECT_FALSE(manager.ringEnabled());
      EXPECT_EQ(manager.dequeueInterrupt(), 0u);
      manager.reactivate();
      manager.enableInterrupts();
      EXPECT_EQ(writes(), (Writes{{0x5C, 0x54000500}, {0x5C, 0x54000500}, {0x5C, 0x80000001}}));
    }
    sim::clearFaults();
    expectNothingLeft();
  }
}

}  // namespace
