// The layer's records while many threads copy, allocate and add and remove
// user ranges at once: every thread's copies kept in its own order, the
// range checks still exact, the allocation counts still whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/stripedLock.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace {

constexpr uint32_t kCopiesPerThread = 64;

struct Worker {
  uint8_t user[16] = {};
  uint8_t kernel[16] = {};
  int32_t strayResult = 0;
};

// Each thread: its own range added, one copy of 1..16 bytes a round
// (a bad one, from outside every range, after each), a block allocated and
// freed, the range removed.
void work(Worker& worker, std::latch& start) {
  start.arrive_and_wait();
  sim::UserRange range(worker.user, sizeof worker.user);
  uint8_t stray[4] = {};
  for (uint32_t i = 0; i < kCopiesPerThread; ++i) {
    uint32_t const count = 1 + i % sizeof worker.user;
    if (nQVZOR100_replicateInboundIOControlBuffer(worker.kernel, worker.user, count) != 0) return;
    worker.strayResult |=
        nQVZOR100_replicateInboundIOControlBuffer(worker.kernel, stray, sizeof stray);
    nQVZOR100_free(nQVZOR100_malloc(8 + i));
  }
}

TEST(LayerRecords, ThreadsAtOnceKeepTheirOwnOrderAndEveryCount) {
  // Fewer threads than stripes, and more, so that some share one.
  for (size_t threads : {size_t{1}, size_t{2}, size_t{8}, sim::kLockStripes + 5}) {
    SCOPED_TRACE(threads);
    sim::reset();
    uint64_t const liveBefore = sim::liveAllocations();
    uint64_t const totalBefore = sim::totalAllocations();
    std::vector<Worker> workers(threads);
    std::latch start(static_cast<std::ptrdiff_t>(threads));
    std::vector<std::thread> running;
    for (Worker& worker : workers) running.emplace_back(work, std::ref(worker), std::ref(start));
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
      EXPECT_EQ(worker.strayResult, -51009);
      uint32_t seen = 0;
      for (sim::UserCopy const& copy : copies) {
        if (copy.kernel != reinterpret_cast<uintptr_t>(worker.kernel)) continue;
        uint32_t const round = seen / 2;
        if (seen++ % 2 == 1) {
          EXPECT_EQ(copy.result, -51009);
          continue;
        }
        EXPECT_EQ(copy.user, reinterpret_cast<uintptr_t>(worker.user));
        EXPECT_EQ(copy.count, 1 + round % sizeof worker.user) << "copy " << round;
        EXPECT_EQ(copy.result, 0);
      }
      EXPECT_EQ(seen, 2 * kCopiesPerThread);
    }
    EXPECT_EQ(sim::liveAllocations(), liveBefore);
    EXPECT_EQ(sim::totalAllocations(), totalBefore + threads * kCopiesPerThread);

    sim::clearUserCopies();
    EXPECT_EQ(sim::userCopyCount(), 0u);
  }
}

}  // namespace
