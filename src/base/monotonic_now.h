// The real monotonic clock, for time that must pass in real time even where
// a test runs the show's frame clocks in virtual time: the OPC client's
// connect and send deadlines, the player's position after a lost device, the
// simulator's receive times. The frame clock reads the time source instead
// (time_source.h), which tests replace.
#pragma once

#include <ctime>

inline long long monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1'000'000'000 + now.tv_nsec;
}

inline long long monotonic_ms() { return monotonic_ns() / 1'000'000; }
