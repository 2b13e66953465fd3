// Waiting in a test for something another thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

// Tests `condition` every `interval` until it holds (true) or `limit` has
// passed (false; the last test comes after the limit).
template <typename Condition>
bool poll_until(Condition condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds interval = std::chrono::milliseconds(2)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until)
      return condition();
    std::this_thread::sleep_for(interval);
  }
  return true;
}
