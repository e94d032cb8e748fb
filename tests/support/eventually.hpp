// eventually(): waits in tests for a condition with a deadline, never with a bare sleep.
#pragma once

#include <chrono>
#include <thread>

namespace voduzazi::testing {

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace voduzazi::testing
