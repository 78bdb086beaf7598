// A lock for state that many threads read and few change: each thread reads
// under one stripe of its own, so that readers on different threads (up to
// kLockStripes of them) meet on no mutex and no cache line; a writer takes
// every stripe.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

namespace sim {

inline constexpr size_t kLockStripes = 16;

// The stripe the calling thread reads under: threads take stripes in the
// order they first ask, so up to kLockStripes threads each have their own.
inline size_t threadStripe() {
  static std::atomic<size_t> next{0};
  thread_local size_t const stripe = next.fetch_add(1, std::memory_order_relaxed) % kLockStripes;
  return stripe;
}

class StripedLock {
 public:
  struct alignas(64) Stripe {
    std::mutex mutex;
  };

  // Held alone, a stripe lets its holder read the guarded state and change
  // what belongs to that stripe alone; a reader takes threadStripe()'s.
  std::mutex& stripe(size_t index) { return stripes_[index].mutex; }

  // Every stripe, in order (what a writer holds).
  void lock() {
    for (Stripe& stripe : stripes_) stripe.mutex.lock();
  }
  void unlock() {
    for (size_t i = kLockStripes; i-- > 0;) stripes_[i].mutex.unlock();
  }

 private:
  std::array<Stripe, kLockStripes> stripes_;
};

}  // namespace sim
