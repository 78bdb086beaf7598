// The simulated bus under threads: interrupts against relinquish, and
// register access against mapping and window moves.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
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

struct Watched {
  std::atomic<uint64_t> calls{0};
  std::atomic<bool> relinquished{false};
  std::atomic<uint64_t> lateCalls{0};
  static bool run(uint32_t, void* context) {
    auto* self = static_cast<Watched*>(context);
    if (self->relinquished.load()) ++self->lateCalls;
    ++self->calls;
    return true;
  }
};

TEST(PciBusThreads, NoInterruptFunctionRunsOnceRelinquishHasReturned) {
  Watched watched;
  nQVZOR1400_tInterruptRegistration registration{Watched::run, &watched};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(7, &registration, "qvrm7_driver", 1), 0);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> fired{0};
  std::vector<std::thread> firers;
  for (int i = 0; i < 3; ++i)
    firers.emplace_back([&] {
      while (!stop.load()) {
        sim::fireInterrupt(7);
        ++fired;
      }
    });
  spinUntil([&] { return watched.calls.load() >= 100; });
  nQVZOR100_relinquishInterrupt(7, &registration);
  watched.relinquished = true;
  uint64_t const callsAtReturn = watched.calls.load();
  uint64_t const firedAtReturn = fired.load();
  spinUntil([&] { return fired.load() >= firedAtReturn + 300; });
  stop = true;
  for (auto& t : firers) t.join();
  EXPECT_EQ(watched.lateCalls.load(), 0u);
  EXPECT_EQ(watched.calls.load(), callsAtReturn);
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
  std::thread mover([&] {  // opens and closes the window, moving it between two places
    for (uint32_t i = 0; !stop.load(); ++i)
      nQVZOR100_memoryWrite32(shared + 0xC0, i % 2 ? 0x0001008C : 0x0002008C);
  });
  std::thread reader([&] {
    while (!stop.load()) {
      uint32_t const a = nQVZOR100_memoryRead32(shared + 0x10040);
      uint32_t const b = nQVZOR100_memoryRead32(shared + 0x20040);
      // Wherever the window is, it shows the internal word; elsewhere it is memory (0).
      if ((a != 0x600DF00D && a != 0) || (b != 0x600DF00D && b != 0)) ++wrongReads;
      ++windowReads;
    }
  });
  std::thread mapper([&] {
    while (!stop.load()) {
      uint64_t const own = nQVZOR230_mapPhysicalToKernel(bar.physicalAddress() + 0x1000, 0x1000, 0);
      nQVZOR100_memoryWrite32(own + 8, 0x1234);
      if (nQVZOR100_memoryRead32(shared + 0x1008) != 0x1234) ++wrongReads;
      nQVZOR230_unmapPhysicalFromKernel(own, 0);
    }
  });
  spinUntil([&] { return windowReads.load() >= 2000; });
  stop = true;
  mover.join();
  reader.join();
  mapper.join();
  EXPECT_EQ(wrongReads.load(), 0u);
  nQVZOR230_unmapPhysicalFromKernel(shared, 0);
  EXPECT_EQ(sim::unplug(*module.device()).mappingsLeft, 0u);
}

}  // namespace
