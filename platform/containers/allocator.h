// The two allocators behind the containers. The library containers (qvhtl)
// take blocks straight from the kernel services layer, with no header in
// front; the platform's own containers go through the platform allocator and
// its 16-byte header. Neither throws: the library allocator reports in a
// status, the platform allocator answers null.
#pragma once

#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/status.h"
#include "platform/statusCodes.h"

namespace qvhtl {

using nQVWENDS100::tStatus;
using qvrm7_driver::u64;

// An element count or size sum too large for any block.
inline constexpr qvrm7_driver::nQVWEND000::StatusSite kCountTooLargeSite{"Allocator", 32};

// The size rule every container shares: the failure of a count that cannot
// be represented, before any memory is asked for.
inline void setSizeOverflow(tStatus& status) {
  qvrm7_driver::nQVWEND000::setStatus(status, qvrm7_driver::nQVWEND000::kStatusMemoryFull,
                                      kCountTooLargeSite);
}

template <class Char>
struct CharTraits {
  static u64 length(Char const* text) {
    if (text == nullptr) return 0;
    u64 n = 0;
    while (text[n] != Char()) ++n;
    return n;
  }
  // Either range may lie in the other: strings append and assign from their
  // own buffers.
  static void move(Char* destination, Char const* source, u64 count) {
    if (count != 0) qvrm7_driver::nQVWEND000::moveMemory(destination, source, count * sizeof(Char));
  }
  static int compare(Char const* a, Char const* b, u64 count) {
    for (u64 i = 0; i < count; ++i) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
  }
};

namespace wend {

template <class T>
struct Allocator {
  using value_type = T;
  // A block of more elements than this has no size in 64 bits.
  static constexpr u64 kMaxCount = ~u64(0) / sizeof(T);

  // Null with the status set when the count is too large, the status
  // already holds an error, or the layer has no memory.
  static T* allocate(u64 count, tStatus& status) {
    if (count > kMaxCount) {
      setSizeOverflow(status);
      return nullptr;
    }
    if (status.isFatal()) return nullptr;
    void* block = nQVZOR100_malloc(count * sizeof(T));
    if (block == nullptr) {
      // The layer had no block: reported as the platform allocator does.
      qvrm7_driver::nQVWEND000::setStatus(status, qvrm7_driver::nQVWEND000::kStatusMemoryFull,
                                          qvrm7_driver::nQVWEND000::kAllocationFailedSite);
      return nullptr;
    }
    return static_cast<T*>(block);
  }

  static void deallocate(T* block) {
    if (block != nullptr) nQVZOR100_free(block);
  }
};

}  // namespace wend
}  // namespace qvhtl

namespace qvrm7_driver::nQVWEND000 {

// The platform allocator as the platform's containers see it: null on
// failure, which the container only flags.
template <class T>
struct tAllocator {
  using value_type = T;
  static T* allocate(u64 count) {
    if (count > ~u64(0) / sizeof(T)) return nullptr;
    return static_cast<T*>(operatorNew(count * sizeof(T)));
  }
  static void deallocate(T* block) { operatorDelete(block); }
};

}  // namespace qvrm7_driver::nQVWEND000
