// The waitable record and the semaphore with real threads. Waits are ordered
// through the layer's count of blocked waiters and timeouts run on the
// virtual clock, so nothing here sleeps for a guessed time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "platform/synchronization.h"
#include "support/expectSite.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;

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
  bool startBlocked(tWaitableRecord& record, u32 timeout, bool interruptible, uint64_t n = 1) {
    start(record, timeout, interruptible);
    return sim::waitUntilBlocked(n);  // this waiter and n - 1 others
  }
  // Polls: a waiter that is never woken fails the test instead of hanging it.
  bool finishes() {
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (; !done.load(); std::this_thread::yield())
      if (std::chrono::steady_clock::now() >= end) return false;
    return true;
  }
  bool join() {
    thread.join();
    return result.load();
  }
  void expectFailure(i64 code, u64 line) {
    EXPECT_FALSE(join());
    testing_support::expectSite(status, code, "synchronization", line);
  }
};

class SemaphoreThreads : public ::testing::Test {
 protected:
  void SetUp() override { sim::resetSyncControls(); }
  void TearDown() override { sim::resetSyncControls(); }
  tStatus status_;
  tSemaphore semaphore_{0, status_};
};

TEST_F(SemaphoreThreads, ReleaseWakesTheOldestWaiterFirst) {
  Waiter waiters[3];
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(waiters[i].startBlocked(semaphore_.record(), kWaitForever, false, i + 1));
  for (int i = 0; i < 3; ++i) {
    semaphore_.release();
    EXPECT_TRUE(waiters[i].finishes()) << "waiter " << i;
    for (int later = i + 1; later < 3; ++later) EXPECT_FALSE(waiters[later].done.load());
    // The release was the woken waiter's unit: nothing is left over.
    EXPECT_EQ(semaphore_.count(), 0u);
  }
  for (Waiter& waiter : waiters) EXPECT_TRUE(waiter.join());
}

TEST_F(SemaphoreThreads, RecordWithoutAutoConsumeWakesEveryWaiterAndStaysSignalled) {
  tWaitableRecord record;
  record.initialize(0, 0);
  ASSERT_TRUE(record.createLock(status_));
  Waiter waiters[2];
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(waiters[i].startBlocked(record, kWaitForever, false, i + 1));
  record.lock();
  record.setCountLocked(1);
  record.wakeAllLocked();
  EXPECT_FALSE(record.hasWaitersLocked());
  record.unlock();
  for (Waiter& waiter : waiters) ASSERT_TRUE(waiter.finishes());
  for (Waiter& waiter : waiters) EXPECT_TRUE(waiter.join());
  EXPECT_TRUE(record.wait(0, false, status_));
  EXPECT_EQ(record.count(), 1u);
  record.destroyLock();
}

// A release may land after the waiter is queued and before it is parked in
// the layer; the event must keep it.
TEST_F(SemaphoreThreads, ReleaseRacingTheStartOfAWaitIsNeverLost) {
  for (int round = 0; round < 200; ++round) {
    tSemaphore semaphore(0, status_);
    Waiter waiter;
    waiter.start(semaphore.record(), kWaitForever, round % 2 == 0);
    semaphore.release();
    ASSERT_TRUE(waiter.join()) << "round " << round;
    ASSERT_EQ(semaphore.count(), 0u);
  }
}

TEST_F(SemaphoreThreads, BoundedWaitRunsOutWhenTheClockPassesItsDeadline) {
  sim::useVirtualClock(0);
  Waiter waiter;
  ASSERT_TRUE(waiter.startBlocked(semaphore_.record(), 5, false));
  sim::advanceClock(4999999);
  EXPECT_FALSE(waiter.done.load());
  sim::advanceClock(1);
  waiter.expectFailure(kStatusTimeout, 186);
  EXPECT_EQ(semaphore_.count(), 0u);
  semaphore_.release();  // kept: no waiter is left queued
  EXPECT_EQ(semaphore_.count(), 1u);
}

// An interruptible wait fails and leaves the count; a plain one is not
// interrupted and takes the unit.
TEST_F(SemaphoreThreads, OnlyInterruptibleWaitsAreInterrupted) {
  sim::useVirtualClock(0);  // a bounded wait's deadline cannot pass meanwhile
  struct {
    u32 timeout;
    bool interruptible;
    u64 line;  // of the report
  } const cases[] = {{kWaitForever, true, 2107}, {1000, true, 2170}, {kWaitForever, false, 0}};
  for (auto const& c : cases) {
    SCOPED_TRACE(c.line);
    Waiter waiter;
    ASSERT_TRUE(waiter.startBlocked(semaphore_.record(), c.timeout, c.interruptible));
    ASSERT_TRUE(sim::interruptThread(waiter.handle.load()));
    if (c.interruptible) waiter.expectFailure(kStatusInterrupted, c.line);
    semaphore_.release();
    EXPECT_EQ(semaphore_.count(), c.interruptible ? 1u : 0u);
    if (c.interruptible) {
      EXPECT_TRUE(semaphore_.waitWithTimeout(0, false, status_));
    } else {
      EXPECT_TRUE(waiter.join());
      EXPECT_EQ(waiter.status.head.code, 0);
    }
  }
}

// Releases race real-time bounded waits, their timeouts and interruptions;
// every release must end up either taken by a wait or left in the count.
TEST_F(SemaphoreThreads, UnitsAreConservedUnderContention) {
  constexpr int kReleasesPerThread = 400;
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::atomic<uint64_t> interruptibleHandle{0};
  auto waitLoop = [&](u32 timeout, bool interruptible) {
    if (interruptible) interruptibleHandle = nQVZOR100_getThreadHandle();
    while (!stop.load()) {
      tStatus waitStatus;
      if (semaphore_.waitWithTimeout(timeout, interruptible, waitStatus)) {
        taken.fetch_add(1);
      } else {
        EXPECT_TRUE(waitStatus.code == kStatusTimeout || waitStatus.code == kStatusInterrupted)
            << waitStatus.code;
      }
    }
  };
  std::vector<std::thread> waiters;
  waiters.emplace_back(waitLoop, 1, false);
  waiters.emplace_back(waitLoop, 1, true);
  waiters.emplace_back(waitLoop, 0, false);
  auto releaseLoop = [&] {
    for (int i = 0; i < kReleasesPerThread; ++i) {
      semaphore_.release();
      uint64_t const handle = interruptibleHandle.load();
      if (i % 16 == 0 && handle != 0) (void)sim::interruptThread(handle);
    }
  };
  std::thread releaser(releaseLoop);
  releaseLoop();
  releaser.join();
  stop = true;
  // Bounded waits end by themselves, so every waiter comes back.
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(taken.load() + static_cast<int>(semaphore_.count()), 2 * kReleasesPerThread);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
