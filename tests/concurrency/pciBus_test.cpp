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

// The driver frees its handler right after relinquishing: once relinquish
// has returned, no call may start or still be running.
TEST(PciBusThreads, NoInterruptFunctionRunsOnceRelinquishHasReturned) {
  std::atomic<uint64_t> calls{0};
  nQVZOR1400_tInterruptRegistration registration{[](uint32_t, void* context) {
                                                   ++*static_cast<std::atomic<uint64_t>*>(context);
                                                   return true;
                                                 },
                                                 &calls};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(7, &registration, "qvrm7_driver", 1), 0);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> fired{0};
  std::vector<std::thread> firers;
  for (int i = 0; i < 3; ++i)
    firers.emplace_back([&] {
      for (; !stop; ++fired) sim::fireInterrupt(7);
    });
  spinUntil([&] { return calls >= 100; });
  nQVZOR100_relinquishInterrupt(7, &registration);
  uint64_t const callsAtReturn = calls;
  uint64_t const firedAtReturn = fired;
  spinUntil([&] { return fired >= firedAtReturn + 300; });
  stop = true;
  for (auto& t : firers) t.join();
  EXPECT_EQ(calls, callsAtReturn);
}

}  // namespace
