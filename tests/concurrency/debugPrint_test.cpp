// Thread slots claimed by many threads at once.
#include "platform/debugPrint.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "host/layer/control.h"

using namespace qvrm7_driver::qvsdbg;

namespace {

TEST(ThreadSlotClaims, SeventeenthThreadGetsNoSlotUntilOneIsFreed) {
  sim::reset();
  constexpr int kThreads = 17;
  std::mutex mutex;
  std::condition_variable changed;
  int tried = 0;
  bool done = false;
  std::vector<tThreadSlot*> claimed(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      claimed[i] = acquireThreadSlot();
      std::unique_lock lock(mutex);
      ++tried;
      changed.notify_all();
      // Every claim stays held until all threads have tried.
      changed.wait(lock, [&] { return done; });
      lock.unlock();
      releaseThreadSlot(claimed[i]);
    });
  }
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return tried == kThreads; });
    done = true;
    changed.notify_all();
  }
  for (std::thread& thread : threads) thread.join();

  int without = 0;
  for (tThreadSlot* slot : claimed) without += slot == nullptr ? 1 : 0;
  EXPECT_EQ(without, 1);

  // Every slot was given back.
  tThreadSlot* again = acquireThreadSlot();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->depth, 1u);
  releaseThreadSlot(again);
}

}  // namespace
