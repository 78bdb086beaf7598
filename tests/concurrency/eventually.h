// Waits in tests without sleeping for a guessed time: the condition is
// re-tested until it holds or a generous real-time limit runs out.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto const end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace testing_support
