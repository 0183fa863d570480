// Polls a condition until it holds or a deadline passes: the tests' way of
// waiting for something to happen instead of sleeping a fixed time.
#pragma once

#include <chrono>
#include <thread>

namespace vexo::test {

// Whether ready() held before timeout passed; it is asked every pollEvery.
template <typename Ready>
bool WaitFor(Ready&& ready, std::chrono::milliseconds timeout,
             std::chrono::milliseconds pollEvery = std::chrono::milliseconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pollEvery);
  }
  return true;
}

}  // namespace vexo::test
