// Mutexes, the waitable record and the semaphore in one thread. The layer's
// injected failures stand in for a wait whose time ran out (bounded waits) or
// that was interrupted (interruptible waits); waits that need a second
// thread are in tests/concurrency.

#include <gtest/gtest.h>

#include <tuple>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "platform/synchronization.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;

void expectSite(tLongStatus const& status, i64 code, char const* file, u64 line) {
  EXPECT_EQ(status.head.code, code);
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

class Synchronization : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::resetSyncControls();
  }
  void TearDown() override {
    sim::reset();
    sim::resetSyncControls();
  }
};

// ---- Mutexes -----------------------------------------------------------------

TEST_F(Synchronization, MutexCreationRefusedReportsMemoryFullAndKeepsNoHandle) {
  sim::failEveryCall("nQVZOR150_createMutex");
  tLongStatus status;
  tMutex mutex(status);
  expectSite(status, kStatusMemoryFull, "synchronization", 823);
  EXPECT_EQ(mutex.kernelHandle(), 0u);
  EXPECT_EQ(mutex.owner(), 0u);

  tLongStatus plainStatus;
  tKernelMutex plain;
  EXPECT_FALSE(plain.create(plainStatus));
  expectSite(plainStatus, kStatusMemoryFull, "synchronization", 823);
  EXPECT_EQ(plain.handle, 0u);
}

TEST_F(Synchronization, NestedAcquiresTakeTheKernelMutexOnce) {
  tStatus status;
  tMutex mutex(status);
  u64 const handle = mutex.kernelHandle();
  for (int i = 0; i < 3; ++i) mutex.acquire();
  EXPECT_EQ(mutex.owner(), nQVZOR100_getThreadHandle());
  EXPECT_EQ(mutex.depth(), 3u);
  for (int i = 0; i < 2; ++i) mutex.release();
  EXPECT_EQ(sim::mutexReleaseCount(handle), 0u);
  mutex.release();
  EXPECT_EQ(sim::mutexAcquireCount(handle), 1u);
  EXPECT_EQ(sim::mutexReleaseCount(handle), 1u);
  EXPECT_EQ(mutex.owner(), 0u);
  EXPECT_EQ(mutex.depth(), 0u);
}

TEST_F(Synchronization, ReleaseOfAFreeMutexIsRefused) {
  tStatus status;
  tMutex mutex(status);
  u64 const handle = mutex.kernelHandle();
  mutex.release();  // would wrap the depth and leave the mutex owned for ever
  EXPECT_EQ(mutex.depth(), 0u);
  EXPECT_EQ(mutex.owner(), 0u);
  EXPECT_EQ(sim::mutexReleaseCount(handle), 0u);
  // Still usable as before.
  mutex.acquire();
  mutex.release();
  mutex.release();
  EXPECT_EQ(sim::mutexAcquireCount(handle), 1u);
  EXPECT_EQ(sim::mutexReleaseCount(handle), 1u);
}

// ---- Semaphore construction ------------------------------------------------------

TEST_F(Synchronization, SemaphoreLockRefusedReportsMemoryFull) {
  sim::failNthCall("nQVZOR100_createSpinLock", 1);
  tLongStatus status;
  tSemaphore semaphore(0, status);
  expectSite(status, kStatusMemoryFull, "synchronization", 1919);
  EXPECT_EQ(semaphore.record().spinLockHandle(), 0u);
}

TEST_F(Synchronization, SemaphoreIsBuiltEvenWhenTheCallersStatusHoldsAnError) {
  u64 const before = sim::liveSpinLocks();
  tStatus status{16, kStatusBadArgument};
  {
    tSemaphore semaphore(2, status);
    EXPECT_EQ(sim::liveSpinLocks(), before + 1);
    EXPECT_EQ(semaphore.count(), 2u);
  }
  EXPECT_EQ(status.code, kStatusBadArgument);
  EXPECT_EQ(sim::liveSpinLocks(), before);
}

TEST_F(Synchronization, UnsupportedSemaphoreFormOnlyReportsNotSupported) {
  u64 const before = sim::liveSpinLocks();
  tLongStatus status;
  tSemaphore semaphore(1, 0x1234, 8, status);
  expectSite(status, kStatusNotSupported, "tSemaphore", 255);
  EXPECT_EQ(sim::liveSpinLocks(), before);
}

// ---- Units and test-only waits ------------------------------------------------------

TEST_F(Synchronization, ReleasesWithoutWaitersAccumulateAndWaitsTakeThem) {
  tStatus status;
  tSemaphore semaphore(0, status);
  semaphore.release();
  semaphore.release();
  EXPECT_EQ(semaphore.count(), 2u);
  EXPECT_TRUE(semaphore.waitWithTimeout(kWaitForever, false, status));
  EXPECT_EQ(semaphore.count(), 1u);
  EXPECT_TRUE(semaphore.waitWithTimeout(0, false, status));
  EXPECT_EQ(semaphore.count(), 0u);
  EXPECT_EQ(status.code, 0);
}

TEST_F(Synchronization, TestOnlyWaitOnAnUnsignalledSemaphoreTimesOut) {
  tStatus status;
  tSemaphore semaphore(0, status);
  tLongStatus waitStatus;
  EXPECT_FALSE(semaphore.waitWithTimeout(0, false, waitStatus));
  expectSite(waitStatus, kStatusTimeout, "synchronization", 2074);
  EXPECT_EQ(semaphore.count(), 0u);
}

TEST_F(Synchronization, WaitWithAnErrorAlreadyInTheStatusChangesNothing) {
  tStatus status;
  tSemaphore semaphore(1, status);
  sim::enableCallLog(true);
  tStatus failed{16, kStatusNoMatch};
  EXPECT_FALSE(semaphore.waitWithTimeout(kWaitForever, true, failed));
  EXPECT_EQ(failed.code, kStatusNoMatch);
  EXPECT_EQ(semaphore.count(), 1u);
  EXPECT_TRUE(sim::callLog().empty());
}

// ---- Waits that end without their event -----------------------------------------------

TEST_F(Synchronization, BoundedWaitThatRunsOutReportsTimeoutAndLeavesNoWaiter) {
  tStatus status;
  tSemaphore semaphore(0, status);
  sim::failNthCall("nQVZOR100_waitForSingleUseEventTimeout", 1);
  tLongStatus waitStatus;
  EXPECT_FALSE(semaphore.waitWithTimeout(50, false, waitStatus));
  expectSite(waitStatus, kStatusTimeout, "synchronization", 186);
  // No waiter is left queued: the next release is kept as a unit.
  semaphore.release();
  EXPECT_EQ(semaphore.count(), 1u);
}

// (injected import, timeout, line of the report)
using InterruptCase = std::tuple<char const*, u32, u64>;
class InterruptedWait : public Synchronization, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptedWait, ReportsInterruptionAndLeavesNoWaiter) {
  auto const [import, timeout, line] = GetParam();
  tStatus status;
  tSemaphore semaphore(0, status);
  sim::failNthCall(import, 1);
  tLongStatus waitStatus;
  EXPECT_FALSE(semaphore.waitWithTimeout(timeout, true, waitStatus));
  expectSite(waitStatus, kStatusInterrupted, "synchronization", line);
  semaphore.release();
  EXPECT_EQ(semaphore.count(), 1u);
}

// A release that lands after the layer gave up on the event, but before the
// driver looked at its waiter, hands the unit over all the same: the wait
// succeeds and the unit is neither lost nor counted twice.
TEST_P(InterruptedWait, ReleaseJustBeforeTheInterruptionIsReportedWins) {
  auto const [import, timeout, line] = GetParam();
  tStatus status;
  tSemaphore semaphore(0, status);
  sim::setWaitEndHook([&] { semaphore.release(); });
  sim::failNthCall(import, 1);
  tLongStatus waitStatus;
  EXPECT_TRUE(semaphore.waitWithTimeout(timeout, true, waitStatus));
  EXPECT_EQ(waitStatus.head.code, 0);
  EXPECT_EQ(semaphore.count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    WaitKinds, InterruptedWait,
    ::testing::Values(
        InterruptCase{"nQVZOR100_waitForSingleUseEventInterruptible", kWaitForever, 2107},
        InterruptCase{"nQVZOR100_waitForSingleUseEventTimeoutInterruptible", 1000, 2170}));

TEST_F(Synchronization, ReleaseAfterTheTimeRanOutButBeforeTheAbortWins) {
  tStatus status;
  tSemaphore semaphore(0, status);
  sim::setWaitEndHook([&] { semaphore.release(); });
  sim::failNthCall("nQVZOR100_waitForSingleUseEventTimeout", 1);
  tLongStatus waitStatus;
  EXPECT_TRUE(semaphore.waitWithTimeout(20, false, waitStatus));
  EXPECT_EQ(waitStatus.head.code, 0);
  EXPECT_EQ(semaphore.count(), 0u);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
