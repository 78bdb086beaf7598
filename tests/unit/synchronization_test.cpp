// Mutexes, the waitable record and the semaphore in one thread. The layer's
// injected failures stand in for a wait whose time ran out (bounded waits) or
// that was interrupted (interruptible waits); waits that need a second
// thread are in tests/concurrency.

#include "platform/synchronization.h"

#include <gtest/gtest.h>

#include <tuple>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"
#include "support/layerTest.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;

using testing_support::expectSite;

using Synchronization = testing_support::LayerTest;

// Only the outermost level reaches the kernel mutex, and each acquire and
// release asks the layer for the thread's handle once.
TEST_F(Synchronization, ReleaseAtDepthZeroChangesNothing) {
  tStatus status;
  tMutex mutex(status);
  u64 const handle = mutex.kernelHandle();
  mutex.release();  // would wrap the depth and leave the mutex owned for ever
  EXPECT_EQ(std::tuple(mutex.depth(), mutex.owner()), std::tuple(0u, 0u));
  sim::enableCallLog(true);
  for (int level = 0; level < 2; ++level) mutex.acquire();
  for (int level = 0; level < 2; ++level) mutex.release();
  EXPECT_EQ(sim::callCount("nQVZOR100_getThreadHandle"), 4u);
  mutex.release();
  EXPECT_EQ(mutex.depth(), 0u);
  EXPECT_EQ(std::tuple(sim::mutexAcquireCount(handle), sim::mutexReleaseCount(handle)),
            std::tuple(1u, 1u));
}

TEST_F(Synchronization, SemaphoreIsBuiltDespiteAnEarlierErrorButNotInTheUnsupportedForm) {
  u64 const before = sim::liveSpinLocks();
  tStatus status{16, kStatusBadArgument};
  {
    tSemaphore semaphore(2, status);
    EXPECT_EQ(sim::liveSpinLocks(), before + 1);
    EXPECT_EQ(semaphore.count(), 2u);
  }
  EXPECT_EQ(status.code, kStatusBadArgument);
  EXPECT_EQ(sim::liveSpinLocks(), before);

  tLongStatus unsupported;
  tSemaphore semaphore(1, 0x1234, 8, unsupported);
  expectSite(unsupported, kStatusNotSupported, "tSemaphore", 255);
  EXPECT_EQ(sim::liveSpinLocks(), before);
}

// ---- Units and test-only waits ------------------------------------------------------

TEST_F(Synchronization, ReleasesWithoutWaitersAccumulateAndOnlyWaitsWithoutAnErrorTakeThem) {
  tStatus status;
  tSemaphore semaphore(0, status);
  semaphore.release();
  semaphore.release();
  EXPECT_EQ(semaphore.count(), 2u);
  EXPECT_TRUE(semaphore.waitWithTimeout(kWaitForever, false, status));
  EXPECT_TRUE(semaphore.waitWithTimeout(0, false, status));
  tLongStatus waitStatus;
  EXPECT_FALSE(semaphore.waitWithTimeout(0, false, waitStatus));
  expectSite(waitStatus, kStatusTimeout, "synchronization", 2074);

  // An error already in the status: no wait, and the unit stays.
  semaphore.release();
  sim::enableCallLog(true);
  tStatus failed{16, kStatusNoMatch};
  EXPECT_FALSE(semaphore.waitWithTimeout(kWaitForever, true, failed));
  EXPECT_EQ(failed.code, kStatusNoMatch);
  EXPECT_EQ(semaphore.count(), 1u);
  EXPECT_TRUE(sim::callLog().empty());
}

// The layer has given up on the event (time ran out or the thread was
// interrupted), but the driver has not yet looked at its waiter: the release
// hands the unit over all the same, and it is neither lost nor counted twice.
TEST_F(Synchronization, AReleaseWhileAWaitEndsHandsTheUnitToTheWaiter) {
  struct {
    char const* import;  // made to fail, as a wait that ends without the event
    u32 timeout;
    bool interruptible;
  } const cases[] = {{"nQVZOR100_waitForSingleUseEventTimeout", 20, false},
                     {"nQVZOR100_waitForSingleUseEventInterruptible", kWaitForever, true},
                     {"nQVZOR100_waitForSingleUseEventTimeoutInterruptible", 1000, true}};
  for (auto const& c : cases) {
    tStatus status;
    tSemaphore semaphore(0, status);
    sim::setWaitEndHook([&] { semaphore.release(); });
    sim::failNthCall(c.import, 1);
    tLongStatus waitStatus;
    EXPECT_TRUE(semaphore.waitWithTimeout(c.timeout, c.interruptible, waitStatus)) << c.import;
    EXPECT_EQ(waitStatus.head.code, 0) << c.import;
    EXPECT_EQ(semaphore.count(), 0u) << c.import;
    sim::setWaitEndHook(nullptr);
  }
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
