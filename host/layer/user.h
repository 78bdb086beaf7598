// Test controls of the layer's user memory: which ranges are a caller's user
// space, what the ioctl buffer copies did, and the user maps that stand for
// a caller's memory-map requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// ---- User ranges --------------------------------------------------------
// Only memory registered here (or a thread's call memory, below) is user
// memory: a copy whose user side is not wholly inside one range, or whose
// kernel side touches one, fails with -51009 and copies nothing. Ranges may
// not overlap.
void addUserRange(void const* start, uint64_t size);
void removeUserRange(void const* start);  // dies when no range starts there

// A range for the life of a scope.
class UserRange {
 public:
  UserRange(void const* start, uint64_t size) : start_(start) { addUserRange(start, size); }
  ~UserRange() { removeUserRange(start_); }
  UserRange(UserRange const&) = delete;
  UserRange& operator=(UserRange const&) = delete;

 private:
  void const* start_;
};

// The memory of the call the calling thread is making, as a kernel sees the
// caller's own address space during its system call: while the scope lasts,
// this thread's copies take the range as user memory (like a registered
// range) and other threads' copies do not see it. No lock and no
// allocation; scopes nest up to eight deep. A null start or a size of 0
// adds nothing.
class CallMemory {
 public:
  CallMemory(void const* start, uint64_t size);
  ~CallMemory();
  CallMemory(CallMemory const&) = delete;
  CallMemory& operator=(CallMemory const&) = delete;

 private:
  bool added_;
};

// ---- Copies ---------------------------------------------------------------
struct UserCopy {
  enum Direction { kInbound, kOutbound };
  Direction direction;
  uintptr_t user;
  uintptr_t kernel;
  uint32_t count;
  int32_t result;
};
// The newest copy calls, in order (the oldest go past the layer's record limit).
std::vector<UserCopy> userCopies();
size_t userCopyCount();  // how many userCopies() would hand back
void clearUserCopies();

// ---- User maps --------------------------------------------------------------
// The handle the layer would give the map-memory callback; never 0.
uint64_t createUserMap(uint64_t size, uint32_t accessMode, uint64_t virtualAddress);
void destroyUserMap(uint64_t map);  // dies on an unknown map
uint64_t liveUserMaps();

struct UserMapping {
  enum Kind { kPageList, kPhysical };
  Kind kind;
  uint64_t pageList = 0;
  uint64_t firstPage = 0;
  uint64_t pageCount = 0;
  uint64_t physicalAddress = 0;
  uint64_t size = 0;
  uint32_t cached = 0;
};
std::vector<UserMapping> userMappings(uint64_t map);  // what was mapped into it, in order

}  // namespace sim
