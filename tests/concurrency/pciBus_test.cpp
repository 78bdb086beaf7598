// The simulated bus under threads: interrupts against relinquish, and
// register access against mapping and window moves.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"

namespace {

template <class Condition>
void spinUntil(Condition condition) {
  while (!condition()) std::this_thread::yield();
}

// The driver frees its handler right after relinquishing.
TEST(PciBusThreads, NoInterruptFunctionRunsOnceRelinquishHasReturned) {
  struct Watched {
    std::atomic<uint64_t> calls{0};
    std::atomic<bool> relinquished{false};
    std::atomic<uint64_t> lateCalls{0};
  } watched;
  nQVZOR1400_tInterruptRegistration registration{[](uint32_t, void* context) {
                                                   auto* self = static_cast<Watched*>(context);
                                                   if (self->relinquished) ++self->lateCalls;
                                                   ++self->calls;
                                                   return true;
                                                 },
                                                 &watched};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(7, &registration, "qvrm7_driver", 1), 0);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> fired{0};
  std::vector<std::thread> firers;
  for (int i = 0; i < 3; ++i)
    firers.emplace_back([&] {
      for (; !stop; ++fired) sim::fireInterrupt(7);
    });
  spinUntil([&] { return watched.calls >= 100; });
  nQVZOR100_relinquishInterrupt(7, &registration);
  watched.relinquished = true;
  uint64_t const callsAtReturn = watched.calls;
  uint64_t const firedAtReturn = fired;
  spinUntil([&] { return fired >= firedAtReturn + 300; });
  stop = true;
  for (auto& t : firers) t.join();
  EXPECT_EQ(watched.lateCalls, 0u);
  EXPECT_EQ(watched.calls, callsAtReturn);
}

TEST(PciBusThreads, RegisterAccessMeetsMappingAndWindowMoves) {
  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  sim::Bar& bar = module.bar0();
  module.bridge().chipWrite(0x40, 4, 0x600DF00D);
  uint64_t const shared = nQVZOR230_mapPhysicalToKernel(bar.physicalAddress(), bar.size(), 0);
  ASSERT_NE(shared, 0u);
  nQVZOR100_memoryWrite32(shared + 0xE0, 0);
  nQVZOR100_memoryWrite32(shared + 0xC0, 0x0002008C);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> windowReads{0};
  std::atomic<uint64_t> wrongReads{0};
  std::thread mover([&] {  // moves the open window between two places
    for (uint32_t i = 0; !stop; ++i)
      nQVZOR100_memoryWrite32(shared + 0xC0, i % 2 ? 0x0001008C : 0x0002008C);
  });
  std::thread reader([&] {
    for (; !stop; ++windowReads) {
      // Wherever the window is, it shows the internal word; elsewhere it is memory (0).
      for (uint64_t offset : {0x10040, 0x20040}) {
        uint32_t const word = nQVZOR100_memoryRead32(shared + offset);
        if (word != 0x600DF00D && word != 0) ++wrongReads;
      }
    }
  });
  std::thread mapper([&] {
    while (!stop) {
      uint64_t const own = nQVZOR230_mapPhysicalToKernel(bar.physicalAddress() + 0x1000, 0x1000, 0);
      nQVZOR100_memoryWrite32(own + 8, 0x1234);
      if (nQVZOR100_memoryRead32(shared + 0x1008) != 0x1234) ++wrongReads;
      nQVZOR230_unmapPhysicalFromKernel(own, 0);
    }
  });
  spinUntil([&] { return windowReads >= 2000; });
  stop = true;
  for (std::thread* t : {&mover, &reader, &mapper}) t->join();
  EXPECT_EQ(wrongReads, 0u);
  nQVZOR230_unmapPhysicalFromKernel(shared, 0);
  EXPECT_EQ(sim::unplug(*module.device()).mappingsLeft, 0u);
}

}  // namespace
