// Each service of the layer keeps its records in one state object guarded by
// its own mutex; the test controls read them through this.
#pragma once

#include <mutex>

namespace sim {

template <class State, class Read>
auto readLocked(State& state, Read read) {
  std::lock_guard lock(state.mutex);
  return read(state);
}

}  // namespace sim
