// The simulated bus under threads: interrupts against relinquish.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"

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

}  // namespace
