// The stand-in's ioctl buffer copies and user memory maps.
#include "host/layer/user.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "host/layer/control.h"
#include "host/layer/lockedState.h"
#include "host/layer/stripedLock.h"
#include "platform/kernelServices.h"

namespace sim {

namespace {

constexpr int32_t kBadUserAddress = -51009;

struct UserMap {
  uint64_t size;
  uint32_t accessMode;
  uint64_t virtualAddress;
  std::vector<UserMapping> mappings;
};

// A copy and when it was made, so that the stripes' records merge in order.
struct TimedCopy {
  uint64_t time;
  UserCopy copy;
};

// A clock that every core reads alike: the time stamp counter where there is
// one (a few cycles; the system clock's read costs several times a copy).
uint64_t copyTime() {
#if defined(__x86_64__)
  return __rdtsc();
#else
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

// Every copy reads the ranges and appends to a record, from many threads at
// once; ranges change only when a test adds or removes one. So the ranges are
// read under the copying thread's stripe of rangeLock and changed under all
// of them, and each stripe keeps the copies made under it (the oldest first,
// the newest kRecordLimit or more of its own).
struct State {
  StripedLock rangeLock;
  std::map<uintptr_t, uint64_t> ranges;  // start -> size
  // A line of its own each: neighbours' appends must not meet.
  struct alignas(64) Copies {
    std::vector<TimedCopy> records;
  };
  std::array<Copies, kLockStripes> copies;
  std::mutex mutex;  // the maps
  std::map<uint64_t, UserMap> maps;
  uint64_t nextMap = 0x5000;
};

State& state() {
  static State* s = new State();  // never destroyed: imports may run at exit
  return *s;
}

// The calling thread's call memory, innermost last.
struct CallRanges {
  static constexpr unsigned kDepth = 8;
  uintptr_t start[kDepth];
  uint64_t size[kDepth];
  unsigned count = 0;
};
thread_local CallRanges tCallRanges;

bool inside(uintptr_t start, uint64_t size, uintptr_t rangeStart, uint64_t rangeSize) {
  uint64_t const offset = start - rangeStart;
  return start >= rangeStart && offset <= rangeSize && size <= rangeSize - offset;
}

bool touches(uintptr_t start, uint64_t size, uintptr_t rangeStart, uint64_t rangeSize) {
  return start < rangeStart ? rangeStart - start < size : start - rangeStart < rangeSize;
}

bool insideCallMemory(uintptr_t start, uint64_t size) {
  CallRanges const& call = tCallRanges;
  for (unsigned i = 0; i < call.count; ++i)
    if (inside(start, size, call.start[i], call.size[i])) return true;
  return false;
}

bool touchesCallMemory(uintptr_t start, uint64_t size) {
  CallRanges const& call = tCallRanges;
  for (unsigned i = 0; i < call.count; ++i)
    if (size != 0 && touches(start, size, call.start[i], call.size[i])) return true;
  return false;
}

[[noreturn]] void die(char const* what, uint64_t value) {
  std::fprintf(stderr, "layer: %s (0x%llx)\n", what, static_cast<unsigned long long>(value));
  std::abort();
}

// Callers hold a stripe of the range lock.
bool insideOneRange(State const& s, uintptr_t start, uint64_t size) {
  auto after = s.ranges.upper_bound(start);
  if (after == s.ranges.begin()) return false;
  auto const& [rangeStart, rangeSize] = *std::prev(after);
  return inside(start, size, rangeStart, rangeSize);
}

bool touchesAnyRange(State const& s, uintptr_t start, uint64_t size) {
  if (size == 0) return false;
  auto after = s.ranges.upper_bound(start);
  if (after != s.ranges.end() && after->first - start < size) return true;
  if (after == s.ranges.begin()) return false;
  auto const& [rangeStart, rangeSize] = *std::prev(after);
  return touches(start, size, rangeStart, rangeSize);
}

int32_t copy(UserCopy::Direction direction, void* destination, void const* source, uint32_t count,
             char const* import) {
  bool const inbound = direction == UserCopy::kInbound;
  auto const user = reinterpret_cast<uintptr_t>(inbound ? source : destination);
  auto const kernel = reinterpret_cast<uintptr_t>(inbound ? destination : source);
  int32_t result = 0;
  if (detail::enterImport(import)) result = detail::failureCode(import);
  State& s = state();
  size_t const stripe = threadStripe();
  std::lock_guard lock(s.rangeLock.stripe(stripe));
  if (result == 0 && count != 0 &&
      (!(insideCallMemory(user, count) || insideOneRange(s, user, count)) || kernel == 0 ||
       touchesCallMemory(kernel, count) || touchesAnyRange(s, kernel, count)))
    result = kBadUserAddress;
  if (result == 0 && count != 0) std::memcpy(destination, source, count);
  std::vector<TimedCopy>& copies = s.copies[stripe].records;
  copies.push_back({copyTime(), UserCopy{direction, user, kernel, count, result}});
  keepNewest(copies);
  return result;
}

UserMap& findMap(State& s, uint64_t map) {
  auto found = s.maps.find(map);
  if (found == s.maps.end()) die("no such user map", map);
  return found->second;
}

// A mapping into a caller's area, recorded for the test; 0 or the injected
// failure.
int32_t recordMapping(char const* import, uint64_t map, UserMapping const& mapping) {
  if (detail::enterImport(import)) return detail::failureCode(import);
  State& s = state();
  std::lock_guard lock(s.mutex);
  std::vector<UserMapping>& mappings = findMap(s, map).mappings;
  mappings.push_back(mapping);
  keepNewest(mappings);
  return 0;
}

}  // namespace

void addUserRange(void const* start, uint64_t size) {
  auto const address = reinterpret_cast<uintptr_t>(start);
  if (address == 0 || size == 0 || address + size < address) die("bad user range", address);
  State& s = state();
  std::lock_guard lock(s.rangeLock);
  if (touchesAnyRange(s, address, size)) die("user range overlaps another", address);
  s.ranges.emplace(address, size);
}

void removeUserRange(void const* start) {
  auto const address = reinterpret_cast<uintptr_t>(start);
  State& s = state();
  std::lock_guard lock(s.rangeLock);
  if (s.ranges.erase(address) == 0) die("no user range starts at this address", address);
}

CallMemory::CallMemory(void const* start, uint64_t size) : added_(start != nullptr && size != 0) {
  if (!added_) return;
  CallRanges& call = tCallRanges;
  if (call.count == CallRanges::kDepth) die("call memory nested too deep", call.count);
  call.start[call.count] = reinterpret_cast<uintptr_t>(start);
  call.size[call.count] = size;
  ++call.count;
}

CallMemory::~CallMemory() {
  if (added_) --tCallRanges.count;
}

// The stripes' records merged by time (a stripe's own order kept on a tie),
// the newest twice kRecordLimit at most: each stripe holds at least its own
// newest kRecordLimit, so the newest kRecordLimit of all are there.
std::vector<UserCopy> userCopies() {
  std::vector<TimedCopy> merged;
  {
    State& s = state();
    std::lock_guard lock(s.rangeLock);
    for (State::Copies const& copies : s.copies)
      merged.insert(merged.end(), copies.records.begin(), copies.records.end());
  }
  std::stable_sort(merged.begin(), merged.end(),
                   [](TimedCopy const& x, TimedCopy const& y) { return x.time < y.time; });
  size_t const first = merged.size() > 2 * kRecordLimit ? merged.size() - 2 * kRecordLimit : 0;
  std::vector<UserCopy> copies;
  copies.reserve(merged.size() - first);
  for (size_t i = first; i < merged.size(); ++i) copies.push_back(merged[i].copy);
  return copies;
}

size_t userCopyCount() {
  State& s = state();
  std::lock_guard lock(s.rangeLock);
  size_t count = 0;
  for (State::Copies const& copies : s.copies) count += copies.records.size();
  return std::min(count, 2 * kRecordLimit);
}

void clearUserCopies() {
  State& s = state();
  std::lock_guard lock(s.rangeLock);
  for (State::Copies& copies : s.copies) copies.records.clear();
}

uint64_t createUserMap(uint64_t size, uint32_t accessMode, uint64_t virtualAddress) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  uint64_t const handle = s.nextMap++;
  s.maps.emplace(handle, UserMap{size, accessMode, virtualAddress, {}});
  return handle;
}

void destroyUserMap(uint64_t map) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (s.maps.erase(map) == 0) die("destroying no such user map", map);
}

uint64_t liveUserMaps() {
  return readLocked(state(), [&](State& s) { return s.maps.size(); });
}

std::vector<UserMapping> userMappings(uint64_t map) {
  return readLocked(state(), [&](State& s) { return findMap(s, map).mappings; });
}

}  // namespace sim

extern "C" {

int32_t nQVZOR100_replicateInboundIOControlBuffer(void* kernelDestination, void const* userSource,
                                                  uint32_t count) {
  return sim::copy(sim::UserCopy::kInbound, kernelDestination, userSource, count,
                   "nQVZOR100_replicateInboundIOControlBuffer");
}

int32_t nQVZOR100_replicateOutboundIOControlBuffer(void* userDestination, void const* kernelSource,
                                                   uint32_t count) {
  return sim::copy(sim::UserCopy::kOutbound, userDestination, kernelSource, count,
                   "nQVZOR100_replicateOutboundIOControlBuffer");
}

uint64_t nQVZOR220_tUserMemMap_getSize(uint64_t userMap) {
  sim::detail::enterImport("nQVZOR220_tUserMemMap_getSize");
  return sim::readLocked(sim::state(),
                         [&](sim::State& s) { return sim::findMap(s, userMap).size; });
}

uint32_t nQVZOR220_tUserMemMap_getAccessMode(uint64_t userMap) {
  sim::detail::enterImport("nQVZOR220_tUserMemMap_getAccessMode");
  return sim::readLocked(sim::state(),
                         [&](sim::State& s) { return sim::findMap(s, userMap).accessMode; });
}

uint64_t nQVZOR220_tUserMemMap_getVirtualAddress(uint64_t userMap) {
  sim::detail::enterImport("nQVZOR220_tUserMemMap_getVirtualAddress");
  return sim::readLocked(sim::state(),
                         [&](sim::State& s) { return sim::findMap(s, userMap).virtualAddress; });
}

int32_t nQVZOR220_tUserMemMap_mapPageList(uint64_t userMap, uint64_t pageList, uint64_t firstPage,
                                          uint64_t pageCount) {
  sim::UserMapping mapping{sim::UserMapping::kPageList};
  mapping.pageList = pageList;
  mapping.firstPage = firstPage;
  mapping.pageCount = pageCount;
  return sim::recordMapping("nQVZOR220_tUserMemMap_mapPageList", userMap, mapping);
}

int32_t nQVZOR2280_tUserMemMap_mapPhysicalAddress(uint64_t userMap, uint64_t physicalAddress,
                                                  uint64_t size, uint32_t cached) {
  sim::UserMapping mapping{sim::UserMapping::kPhysical};
  mapping.physicalAddress = physicalAddress;
  mapping.size = size;
  mapping.cached = cached;
  return sim::recordMapping("nQVZOR2280_tUserMemMap_mapPhysicalAddress", userMap, mapping);
}

}  // extern "C"
