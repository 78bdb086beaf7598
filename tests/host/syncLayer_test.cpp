// Self-tests of the stand-in layer's locks, events and clock: the driver's
// own tests rely on these behaving as a kernel would.

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "host/layer/syncControl.h"
#include "platform/kernelServices.h"

namespace {

struct alignas(8) EventStorage {
  unsigned char bytes[kQVZORSingleUseEventSize];
};

struct CallbackProbe {
  int calls = 0;
  uint64_t thread = 0;

  static void run(void* context) {
    auto* probe = static_cast<CallbackProbe*>(context);
    ++probe->calls;
    probe->thread = nQVZOR100_getThreadHandle();
  }
  nQVZOR100_tTimeoutCallback record() { return {&CallbackProbe::run, this}; }
};

class LayerSync : public ::testing::Test {
 protected:
  void SetUp() override { sim::resetSyncControls(); }
  void TearDown() override { sim::resetSyncControls(); }
};

TEST_F(LayerSync, ThreadHandlesAndIdsAreNonZeroAndPerThread) {
  uint64_t const handle = nQVZOR100_getThreadHandle();
  uint32_t const id = nQVZOR100_getThreadID();
  EXPECT_NE(handle, 0u);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(nQVZOR100_getThreadHandle(), handle);
  uint64_t otherHandle = 0;
  uint32_t otherId = 0;
  std::thread([&] {
    otherHandle = nQVZOR100_getThreadHandle();
    otherId = nQVZOR100_getThreadID();
  }).join();
  EXPECT_NE(otherHandle, 0u);
  EXPECT_NE(otherHandle, handle);
  EXPECT_NE(otherId, id);
  EXPECT_FALSE(sim::interruptThread(otherHandle));  // gone with its thread
}

TEST_F(LayerSync, ReleaseBeforeWaitLatchesForEveryKindOfWait) {
  EventStorage event;
  nQVZOR100_initializeSingleUseEvent(&event);
  nQVZOR100_releaseSingleUseEvent(&event);
  CallbackProbe probe;
  nQVZOR100_tTimeoutCallback callback = probe.record();
  nQVZOR100_waitForSingleUseEvent(&event);
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventInterruptible(&event), 0);
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeout(&event, 0, &callback), 0);
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeoutInterruptible(&event, 5, &callback), 0);
  EXPECT_EQ(probe.calls, 0);
}

TEST_F(LayerSync, BoundedWaitRunsTheCallbackOnceInTheWaitingThread) {
  EventStorage event;
  nQVZOR100_initializeSingleUseEvent(&event);
  CallbackProbe probe;
  nQVZOR100_tTimeoutCallback callback = probe.record();
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeout(&event, 0, &callback), 1);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.thread, nQVZOR100_getThreadHandle());
}

TEST_F(LayerSync, InterruptReachesOnlyInterruptibleWaits) {
  EventStorage released;
  nQVZOR100_initializeSingleUseEvent(&released);
  nQVZOR100_releaseSingleUseEvent(&released);
  ASSERT_TRUE(sim::interruptThread(nQVZOR100_getThreadHandle()));
  // A plain wait leaves the request pending...
  nQVZOR100_waitForSingleUseEvent(&released);
  // ...for the next interruptible one, which does not run the callback.
  EventStorage event;
  nQVZOR100_initializeSingleUseEvent(&event);
  CallbackProbe probe;
  nQVZOR100_tTimeoutCallback callback = probe.record();
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeoutInterruptible(&event, 1000, &callback), -1);
  EXPECT_EQ(probe.calls, 0);
  // Taken once only.
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeoutInterruptible(&event, 0, &callback), 1);
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(LayerSync, VirtualClockMovesOnlyWhenMoved) {
  sim::useVirtualClock(5000);
  EXPECT_EQ(nQVZOR1_getMonotonicCounter(), 5000u);
  EXPECT_EQ(nQVZOR1_getMonotonicCounter(), 5000u);
  sim::setAutoAdvance(10);
  EXPECT_EQ(nQVZOR1_getMonotonicCounter(), 5000u);
  EXPECT_EQ(nQVZOR1_getMonotonicCounter(), 5010u);
  sim::setAutoAdvance(0);
  nQVZOR250_sleepTimeout(7);
  nQVZOR250_sleepTimeout(0);
  EXPECT_EQ(nQVZOR1_getMonotonicCounter(), 12020u);
  EXPECT_EQ(sim::sleepLog(), (std::vector<uint32_t>{7, 0}));

  sim::setTimerInterval(1000);
  sim::useVirtualClock(2999999);
  EXPECT_EQ(nQVZOR110_getTimerCount(), 2u);
  sim::advanceClock(1);
  EXPECT_EQ(nQVZOR110_getTimerCount(), 3u);
}

// ---- Misuse aborts -----------------------------------------------------------------------

class LayerSyncDeathTest : public LayerSync {
 protected:
  void SetUp() override {
    LayerSync::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

void holdSpinLockAnd(void (*sleepingCall)()) {
  uint64_t const lock = nQVZOR100_createSpinLock();
  uint64_t const saved = nQVZOR110_acquireSpinLockInterrupt(lock);
  sleepingCall();
  nQVZOR110_releaseSpinLockInterrupt(lock, saved);
}

TEST_F(LayerSyncDeathTest, SleepingUnderASpinLockAborts) {
  EXPECT_DEATH(holdSpinLockAnd([] { nQVZOR250_sleepTimeout(1000); }),
               "nQVZOR250_sleepTimeout: sleeping call while this thread holds a spin lock");
  EXPECT_DEATH(holdSpinLockAnd([] { nQVZOR150_acquireMutex(nQVZOR150_createMutex()); }),
               "nQVZOR150_acquireMutex: sleeping call");
  EXPECT_DEATH(holdSpinLockAnd([] {
                 EventStorage event;
                 nQVZOR100_initializeSingleUseEvent(&event);
                 nQVZOR100_releaseSingleUseEvent(&event);
                 nQVZOR100_waitForSingleUseEvent(&event);  // even one that would not block
               }),
               "nQVZOR100_waitForSingleUseEvent: sleeping call");
}

TEST_F(LayerSyncDeathTest, NestingOneLockOrHandingBackAnotherSavedStateAborts) {
  EXPECT_DEATH(
      {
        uint64_t const mutex = nQVZOR150_createMutex();
        nQVZOR150_acquireMutex(mutex);
        nQVZOR150_acquireMutex(mutex);
      },
      "mutex taken again");
  EXPECT_DEATH(
      {
        uint64_t const lock = nQVZOR100_createSpinLock();
        uint64_t const saved = nQVZOR110_acquireSpinLockInterrupt(lock);
        nQVZOR110_releaseSpinLockInterrupt(lock, saved + 1);
      },
      "saved state");
}

}  // namespace
