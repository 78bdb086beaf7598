// The re-entrant mutex between real threads.

#include <gtest/gtest.h>

#include <thread>

#include "host/layer/syncControl.h"
#include "platform/synchronization.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

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
  EXPECT_EQ(mutex.owner(), 0u);
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
