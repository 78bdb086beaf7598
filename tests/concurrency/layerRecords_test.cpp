// The layer's records while many threads copy, allocate and add and remove
// user ranges at once: every thread's copies kept in its own order, the
// range checks still exact, the allocation counts still whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/stripedLock.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace {

constexpr uint32_t kCopiesPerThread = 64;

// Each round: a copy of 1..16 bytes from its own range, one from outside
// every range, a block allocated and freed.
struct Worker {
  uint8_t user[16] = {}, kernel[16] = {}, stray[4] = {};

  void run(std::latch& start) {
    start.arrive_and_wait();
    sim::UserRange range(user, sizeof user);
    for (uint32_t i = 0; i < kCopiesPerThread; ++i) {
      (void)nQVZOR100_replicateInboundIOControlBuffer(kernel, user, 1 + i % sizeof user);
      (void)nQVZOR100_replicateInboundIOControlBuffer(kernel, stray, sizeof stray);
      nQVZOR100_free(nQVZOR100_malloc(8 + i));
    }
  }
};

TEST(LayerRecords, ThreadsAtOnceKeepTheirOwnOrderAndEveryCount) {
  // Fewer threads than stripes, and more, so that some share one.
  for (size_t threads : {size_t{1}, size_t{8}, sim::kLockStripes + 5}) {
    SCOPED_TRACE(threads);
    sim::reset();
    uint64_t const liveBefore = sim::liveAllocations();
    uint64_t const totalBefore = sim::totalAllocations();
    std::vector<Worker> workers(threads);
    std::latch start(static_cast<std::ptrdiff_t>(threads));
    std::vector<std::thread> running;
    for (Worker& worker : workers) running.emplace_back(&Worker::run, &worker, std::ref(start));
    for (std::thread& thread : running) thread.join();

    // A copy made after the others returned comes last.
    uint8_t last[2] = {}, kernel[2] = {};
    sim::UserRange range(last, sizeof last);
    ASSERT_EQ(nQVZOR100_replicateInboundIOControlBuffer(kernel, last, sizeof last), 0);
    std::vector<sim::UserCopy> const copies = sim::userCopies();
    ASSERT_EQ(copies.size(), 2 * threads * kCopiesPerThread + 1);
    EXPECT_EQ(sim::userCopyCount(), copies.size());
    EXPECT_EQ(copies.back().user, reinterpret_cast<uintptr_t>(last));
    for (Worker const& worker : workers) {
      std::vector<std::pair<uint32_t, int32_t>> seen, expected;
      for (sim::UserCopy const& copy : copies)
        if (copy.kernel == reinterpret_cast<uintptr_t>(worker.kernel))
          seen.emplace_back(copy.count, copy.result);
      for (uint32_t i = 0; i < kCopiesPerThread; ++i) {
        expected.emplace_back(1 + i % sizeof worker.user, 0);
        expected.emplace_back(sizeof worker.stray, -51009);
      }
      EXPECT_EQ(seen, expected);
    }
    EXPECT_EQ(sim::liveAllocations(), liveBefore);
    EXPECT_EQ(sim::totalAllocations(), totalBefore + threads * kCopiesPerThread);
  }
}

}  // namespace
