// The re-entrant mutex, the waitable record and the semaphore with real
// threads. Waits are ordered through the layer's count of blocked waiters and
// timeouts run on the virtual clock, so nothing here sleeps for a guessed time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

  // Returns once this waiter and n - 1 others are blocked in the layer (at
  // once for n = 0).
  bool start(tWaitableRecord& record, u32 timeout, bool interruptible, uint64_t n = 1) {
    thread = std::thread([this, &record, timeout, interruptible] {
      handle = nQVZOR100_getThreadHandle();
      result = record.wait(timeout, interruptible, status);
      done = true;
    });
    return sim::waitUntilBlocked(n);
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
    ASSERT_TRUE(waiters[i].start(semaphore_.record(), kWaitForever, false, i + 1));
  for (int i = 0; i < 3; ++i) {
    semaphore_.release();
    EXPECT_TRUE(waiters[i].finishes()) << "waiter " << i;
    for (int later = i + 1; later < 3; ++later) EXPECT_FALSE(waiters[later].done.load());
    // The release was the woken waiter's unit: nothing is left over.
    EXPECT_EQ(semaphore_.count(), 0u);
  }
  for (Waiter& waiter : waiters) EXPECT_TRUE(waiter.join());
}

// A release may land after the waiter is queued and before it is parked in
// the layer; the event must keep it.
TEST_F(SemaphoreThreads, ReleaseRacingTheStartOfAWaitIsNeverLost) {
  for (int round = 0; round < 200; ++round) {
    tSemaphore semaphore(0, status_);
    Waiter waiter;
    waiter.start(semaphore.record(), kWaitForever, round % 2 == 0, 0);
    semaphore.release();
    ASSERT_TRUE(waiter.join()) << "round " << round;
    ASSERT_EQ(semaphore.count(), 0u);
  }
}

// A bounded wait runs out when the clock passes its deadline; only an
// interruptible wait is interrupted. A failed wait leaves the next release in
// the count; a plain wait takes it.
TEST_F(SemaphoreThreads, WaitsEndAtTheirDeadlineAndOnlyInterruptibleWaitsAreInterrupted) {
  sim::useVirtualClock(0);
  struct {
    u32 timeout;
    bool interruptible;
    i64 code;
    u64 line;  // of the report
  } const cases[] = {{5, false, kStatusTimeout, 186},
                     {kWaitForever, true, kStatusInterrupted, 2107},
                     {1000, true, kStatusInterrupted, 2170},
                     {kWaitForever, false, 0, 0}};
  for (auto const& c : cases) {
    SCOPED_TRACE(c.line);
    Waiter waiter;
    ASSERT_TRUE(waiter.start(semaphore_.record(), c.timeout, c.interruptible));
    if (c.code == kStatusTimeout) {
      sim::advanceClock(4999999);
      EXPECT_FALSE(waiter.done.load());
      sim::advanceClock(1);
    } else {
      ASSERT_TRUE(sim::interruptThread(waiter.handle.load()));
    }
    if (c.code != 0) waiter.expectFailure(c.code, c.line);
    semaphore_.release();
    EXPECT_EQ(semaphore_.count(), c.code != 0 ? 1u : 0u);
    EXPECT_TRUE(c.code != 0 ? semaphore_.waitWithTimeout(0, false, status_) : waiter.join());
  }
}

TEST(MutexThreads, NestedHoldsExcludeOtherThreads) {
  constexpr int kRounds = 2000;
  tStatus status;
  tMutex mutex(status);
  ASSERT_EQ(status.code, 0);
  long counter = 0;  // guarded by the mutex only
  auto work = [&] {
    for (int i = 0; i < kRounds; ++i) {
      mutex.acquire();
      mutex.acquire();
      long const seen = counter;
      EXPECT_EQ(mutex.owner(), nQVZOR100_getThreadHandle());
      counter = seen + 1;
      mutex.release();
      EXPECT_EQ(mutex.depth(), 1u);
      mutex.release();
    }
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
  EXPECT_EQ(counter, 2 * kRounds);
  // One kernel acquire and release per outermost hold.
  EXPECT_EQ(sim::mutexAcquireCount(mutex.kernelHandle()), 2u * kRounds);
  EXPECT_EQ(sim::mutexReleaseCount(mutex.kernelHandle()), 2u * kRounds);
}

TEST(MutexThreads, ReleaseByAThreadThatDoesNotHoldItChangesNothing) {
  tStatus status;
  tMutex mutex(status);
  mutex.acquire();
  u64 const me = nQVZOR100_getThreadHandle();
  std::thread([&] { mutex.release(); }).join();
  EXPECT_EQ(mutex.owner(), me);
  EXPECT_EQ(mutex.depth(), 1u);
  EXPECT_EQ(sim::mutexReleaseCount(mutex.kernelHandle()), 0u);
  mutex.release();
  EXPECT_EQ(mutex.owner(), 0u);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
