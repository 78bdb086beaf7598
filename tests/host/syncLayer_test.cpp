// Self-tests of the stand-in layer's events and of its misuse checks: the
// driver's own tests rely on these behaving as a kernel would.

#include <gtest/gtest.h>

#include <cstdint>

#include "host/layer/syncControl.h"
#include "platform/kernelServices.h"

namespace {

struct alignas(8) Event {
  unsigned char bytes[kQVZORSingleUseEventSize];
  Event() { nQVZOR100_initializeSingleUseEvent(bytes); }
};

struct CallbackProbe {
  int calls = 0;
  uint64_t thread = 0;
  nQVZOR100_tTimeoutCallback callback{&CallbackProbe::run, this};

  static void run(void* context) {
    auto* probe = static_cast<CallbackProbe*>(context);
    ++probe->calls;
    probe->thread = nQVZOR100_getThreadHandle();
  }
};

class LayerSync : public ::testing::Test {
 protected:
  void SetUp() override { sim::resetSyncControls(); }
  void TearDown() override { sim::resetSyncControls(); }
};

TEST_F(LayerSync, ReleaseBeforeWaitLatchesForEveryKindOfWait) {
  Event event;
  nQVZOR100_releaseSingleUseEvent(event.bytes);
  CallbackProbe probe;
  nQVZOR100_waitForSingleUseEvent(event.bytes);
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventInterruptible(event.bytes), 0);
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeout(event.bytes, 0, &probe.callback), 0);
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeoutInterruptible(event.bytes, 5, &probe.callback),
            0);
  EXPECT_EQ(probe.calls, 0);
}

TEST_F(LayerSync, BoundedWaitRunsTheCallbackOnceInTheWaitingThread) {
  Event event;
  CallbackProbe probe;
  EXPECT_EQ(nQVZOR100_waitForSingleUseEventTimeout(event.bytes, 0, &probe.callback), 1);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.thread, nQVZOR100_getThreadHandle());
  nQVZOR100_releaseSingleUseEvent(event.bytes);  // runs nothing more
  EXPECT_EQ(probe.calls, 1);
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
                 Event event;
                 nQVZOR100_releaseSingleUseEvent(event.bytes);
                 nQVZOR100_waitForSingleUseEvent(event.bytes);  // even one that would not block
               }),
               "nQVZOR100_waitForSingleUseEvent: sleeping call");
}

TEST_F(LayerSyncDeathTest, NestingOneLockOrHandingBackAnotherSavedStateAborts) {
  uint64_t const mutex = nQVZOR150_createMutex();
  EXPECT_DEATH(
      {
        nQVZOR150_acquireMutex(mutex);
        nQVZOR150_acquireMutex(mutex);
      },
      "mutex taken again");
  uint64_t const lock = nQVZOR100_createSpinLock();
  EXPECT_DEATH(
      nQVZOR110_releaseSpinLockInterrupt(lock, nQVZOR110_acquireSpinLockInterrupt(lock) + 1),
      "saved state");
  nQVZOR150_destroyMutex(mutex);
  nQVZOR100_destroySpinLock(lock);
}

}  // namespace
