// Thread slots claimed by many threads at once.
#include "platform/debugPrint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>
#include <vector>

#include "host/layer/control.h"

using namespace qvrm7_driver::qvsdbg;

namespace {

TEST(ThreadSlotClaims, SeventeenthThreadGetsNoSlotUntilOneIsFreed) {
  sim::reset();
  constexpr int kThreads = 17;
  std::latch tried(kThreads);
  std::vector<tThreadSlot*> claimed(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      claimed[i] = acquireThreadSlot();
      tried.arrive_and_wait();  // every claim stays held until all threads have tried
      releaseThreadSlot(claimed[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::count(claimed.begin(), claimed.end(), nullptr), 1);

  tThreadSlot* again = acquireThreadSlot();  // every slot was given back
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->depth, 1u);
  releaseThreadSlot(again);
}

}  // namespace
