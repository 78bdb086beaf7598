// Each service of the layer keeps its records in one state object guarded by
// its own mutex (the records every request touches by a striped lock, see
// stripedLock.h); the test controls read them through this.
#pragma once

#include <cstddef>
#include <iterator>
#include <mutex>
#include <optional>
#include <type_traits>

#include "host/layer/control.h"

namespace sim {

// Once a record list holds twice its limit, all but the newest `limit`
// entries go (see kRecordLimit).
template <class Records>
void keepNewest(Records& records, size_t limit = kRecordLimit) {
  if (records.size() < 2 * limit) return;
  records.erase(records.begin(),
                std::next(records.begin(), static_cast<std::ptrdiff_t>(records.size() - limit)));
}

template <class State, class Read>
auto readLocked(State& state, Read read) {
  std::lock_guard lock(state.mutex);
  return read(state);
}

// A copy of what read takes from the record that key names in the state's
// records map, made under the lock; none when no record has the key.
template <class State, class Key, class Read>
auto findLocked(State& state, Key const& key, Read read)
    -> std::optional<std::decay_t<decltype(read(state.records.begin()->second))>> {
  std::lock_guard lock(state.mutex);
  auto found = state.records.find(key);
  if (found == state.records.end()) return std::nullopt;
  return read(found->second);
}

}  // namespace sim
