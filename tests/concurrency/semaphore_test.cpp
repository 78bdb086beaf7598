// The waitable record and the semaphore with real threads. Waits are ordered
// through the layer's count of blocked waiters and timeouts run on the
// virtual clock, so nothing here sleeps for a guessed time.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "concurrency/eventually.h"
#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "platform/synchronization.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;
using testing_support::eventually;

class SemaphoreThreads : public ::testing::Test {
 protected:
  void SetUp() override { sim::resetSyncControls(); }
  void TearDown() override { sim::resetSyncControls(); }
};

// One waiting thread and what its wait came back with.
struct Waiter {
  std::thread thread;
  std::atomic<bool> done{false};
  std::atomic<bool> result{false};
  std::atomic<uint64_t> handle{0};
  tLongStatus status;

  void start(tWaitableRecord& record, u32 timeout, bool interruptible) {
    thread = std::thread([this, &record, timeout, interruptible] {
      handle = nQVZOR100_getThreadHandle();
      result = record.wait(timeout, interruptible, status);
      done = true;
    });
  }
  bool join() {
    thread.join();
    return result.load();
  }
};

// ---- Order and wake-up ------------------------------------------------------------

TEST_F(SemaphoreThreads, ReleaseWakesTheOldestWaiterFirst) {
  tStatus status;
  tSemaphore semaphore(0, status);
  Waiter waiters[3];
  for (int i = 0; i < 3; ++i) {
    waiters[i].start(semaphore.record(), kWaitForever, false);
    ASSERT_TRUE(sim::waitUntilBlocked(i + 1));
  }
  for (int i = 0; i < 3; ++i) {
    semaphore.release();
    EXPECT_TRUE(eventually([&] { return waiters[i].done.load(); })) << "waiter " << i;
    for (int later = i + 1; later < 3; ++later) EXPECT_FALSE(waiters[later].done.load());
    // The release was the woken waiter's unit: nothing is left over.
    EXPECT_EQ(semaphore.count(), 0u);
  }
  for (Waiter& waiter : waiters) EXPECT_TRUE(waiter.join());
}

TEST_F(SemaphoreThreads, RecordWithoutAutoConsumeWakesEveryWaiterAndStaysSignalled) {
  tStatus status;
  tWaitableRecord record;
  record.initialize(0, 0);
  ASSERT_TRUE(record.createLock(status));
  Waiter waiters[2];
  for (int i = 0; i < 2; ++i) {
    waiters[i].start(record, kWaitForever, false);
    ASSERT_TRUE(sim::waitUntilBlocked(i + 1));
  }
  record.lock();
  record.setCountLocked(1);
  record.wakeAllLocked();
  EXPECT_FALSE(record.hasWaitersLocked());
  record.unlock();
  for (Waiter& waiter : waiters) EXPECT_TRUE(waiter.join());
  EXPECT_EQ(record.count(), 1u);
  EXPECT_TRUE(record.wait(0, false, status));
  EXPECT_EQ(record.count(), 1u);
  record.destroyLock();
}

// A release may land after the waiter is queued and before it is parked in
// the layer; the event must keep it.
TEST_F(SemaphoreThreads, ReleaseRacingTheStartOfAWaitIsNeverLost) {
  for (int round = 0; round < 200; ++round) {
    tStatus status;
    tSemaphore semaphore(0, status);
    Waiter waiter;
    waiter.start(semaphore.record(), kWaitForever, round % 2 == 0);
    semaphore.release();
    ASSERT_TRUE(waiter.join()) << "round " << round;
    ASSERT_EQ(semaphore.count(), 0u);
  }
}

// ---- Bounded waits on the virtual clock -------------------------------------------

TEST_F(SemaphoreThreads, BoundedWaitRunsOutWhenTheClockPassesItsDeadline) {
  sim::useVirtualClock(0);
  tStatus status;
  tSemaphore semaphore(0, status);
  Waiter waiter;
  waiter.start(semaphore.record(), 5, false);
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  sim::advanceClock(4999999);
  EXPECT_FALSE(waiter.done.load());
  sim::advanceClock(1);
  EXPECT_FALSE(waiter.join());
  EXPECT_EQ(waiter.status.head.code, kStatusTimeout);
  EXPECT_STREQ(waiter.status.file, "synchronization");
  EXPECT_EQ(waiter.status.line, 186u);
  EXPECT_EQ(semaphore.count(), 0u);
  semaphore.release();  // kept: no waiter is left queued
  EXPECT_EQ(semaphore.count(), 1u);
}

TEST_F(SemaphoreThreads, ReleaseBeforeTheDeadlineWins) {
  sim::useVirtualClock(0);
  tStatus status;
  tSemaphore semaphore(0, status);
  Waiter waiter;
  waiter.start(semaphore.record(), 5, true);
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  semaphore.release();
  sim::advanceClock(10000000);
  EXPECT_TRUE(waiter.join());
  EXPECT_EQ(waiter.status.head.code, 0);
  EXPECT_EQ(semaphore.count(), 0u);
}

// ---- Interruption -------------------------------------------------------------------

// (timeout, line of the report)
class InterruptedWaitThreads : public SemaphoreThreads,
                               public ::testing::WithParamInterface<std::pair<u32, u64>> {};

TEST_P(InterruptedWaitThreads, FailsAndLeavesTheCount) {
  auto const [timeout, line] = GetParam();
  sim::useVirtualClock(0);  // a bounded wait's deadline cannot pass meanwhile
  tStatus status;
  tSemaphore semaphore(0, status);
  Waiter waiter;
  waiter.start(semaphore.record(), timeout, true);
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  ASSERT_TRUE(sim::interruptThread(waiter.handle.load()));
  EXPECT_FALSE(waiter.join());
  EXPECT_EQ(waiter.status.head.code, kStatusInterrupted);
  EXPECT_STREQ(waiter.status.file, "synchronization");
  EXPECT_EQ(waiter.status.line, line);
  semaphore.release();
  EXPECT_EQ(semaphore.count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(WaitKinds, InterruptedWaitThreads,
                         ::testing::Values(std::make_pair(kWaitForever, u64{2107}),
                                           std::make_pair(u32{1000}, u64{2170})));

TEST_F(SemaphoreThreads, PlainWaitIsNotInterrupted) {
  tStatus status;
  tSemaphore semaphore(0, status);
  Waiter waiter;
  waiter.start(semaphore.record(), kWaitForever, false);
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  ASSERT_TRUE(sim::interruptThread(waiter.handle.load()));
  semaphore.release();
  EXPECT_TRUE(waiter.join());
  EXPECT_EQ(waiter.status.head.code, 0);
}

TEST_F(SemaphoreThreads, InterruptionAfterTheReleaseStillTakesTheUnit) {
  tStatus status;
  tSemaphore semaphore(0, status);
  Waiter waiter;
  waiter.start(semaphore.record(), kWaitForever, true);
  ASSERT_TRUE(sim::waitUntilBlocked(1));
  semaphore.release();
  (void)sim::interruptThread(waiter.handle.load());  // the thread may be gone already
  EXPECT_TRUE(waiter.join());
  EXPECT_EQ(waiter.status.head.code, 0);
  EXPECT_EQ(semaphore.count(), 0u);
}

// ---- Every unit is accounted for --------------------------------------------------------

// Releases race real-time bounded waits, their timeouts and interruptions;
// every release must end up either taken by a wait or left in the count.
TEST_F(SemaphoreThreads, UnitsAreConservedUnderContention) {
  constexpr int kReleasesPerThread = 400;
  tStatus status;
  tSemaphore semaphore(0, status);
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::atomic<uint64_t> interruptibleHandle{0};

  auto waitLoop = [&](u32 timeout, bool interruptible) {
    if (interruptible) interruptibleHandle = nQVZOR100_getThreadHandle();
    while (!stop.load()) {
      tStatus waitStatus;
      if (semaphore.waitWithTimeout(timeout, interruptible, waitStatus)) {
        taken.fetch_add(1);
      } else {
        EXPECT_TRUE(waitStatus.code == kStatusTimeout || waitStatus.code == kStatusInterrupted)
            << waitStatus.code;
      }
    }
  };
  std::vector<std::thread> threads;
  threads.emplace_back(waitLoop, 1, false);
  threads.emplace_back(waitLoop, 1, true);
  threads.emplace_back(waitLoop, 0, false);
  std::vector<std::thread> releasers;
  for (int r = 0; r < 2; ++r) {
    releasers.emplace_back([&] {
      for (int i = 0; i < kReleasesPerThread; ++i) {
        semaphore.release();
        if (i % 16 == 0 && interruptibleHandle.load() != 0) (void)sim::interruptThread(interruptibleHandle.load());
      }
    });
  }
  for (std::thread& releaser : releasers) releaser.join();
  stop = true;
  // Bounded waits end by themselves; a last release frees nobody unbounded.
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(taken.load() + static_cast<int>(semaphore.count()), 2 * kReleasesPerThread);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
