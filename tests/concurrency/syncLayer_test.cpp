// The stand-in layer's bounded event wait between real threads: a deadline
// on the virtual clock and the callback that it runs.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "host/layer/syncControl.h"
#include "platform/kernelServices.h"

namespace {

struct alignas(8) EventStorage {
  unsigned char bytes[kQVZORSingleUseEventSize];
};

struct CallbackProbe {
  std::atomic<int> calls{0};
  std::atomic<uint64_t> thread{0};

  static void run(void* context) {
    auto* probe = static_cast<CallbackProbe*>(context);
    probe->calls.fetch_add(1);
    probe->thread.store(nQVZOR100_getThreadHandle());
  }
  nQVZOR100_tTimeoutCallback record() { return {&CallbackProbe::run, this}; }
};

class LayerEvents : public ::testing::Test {
 protected:
  void SetUp() override { sim::resetSyncControls(); }
  void TearDown() override { sim::resetSyncControls(); }
};

TEST_F(LayerEvents, VirtualDeadlineWakesTheWaiterWhenTheClockIsMoved) {
  sim::useVirtualClock(0);
  EventStorage event;
  nQVZOR100_initializeSingleUseEvent(&event);
  CallbackProbe probe;
  nQVZOR100_tTimeoutCallback callback = probe.record();
  std::atomic<int32_t> result{99};
  std::thread waiter([&] { result = nQVZOR100_waitForSingleUseEventTimeout(&event, 10, &callback); });
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  sim::advanceClock(9999999);
  EXPECT_EQ(probe.calls.load(), 0);
  sim::advanceClock(1);
  waiter.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(probe.calls.load(), 1);
  EXPECT_NE(probe.thread.load(), nQVZOR100_getThreadHandle());
  // A release after the wait returned runs nothing more.
  nQVZOR100_releaseSingleUseEvent(&event);
  EXPECT_EQ(probe.calls.load(), 1);
}

}  // namespace
