// The virtual time source: a stand-in for time_source_monotonic.cpp, linked
// into tests instead of it. Reading the clock returns virtual time; a sleep
// advances virtual time by exactly its length and returns at once, so a paced
// loop runs as fast as the machine allows while seeing the times it would see
// in real life. Tests advance the clock themselves to stand for work done
// between two clock reads.
#pragma once

#include <cstdint>

// Virtual nanoseconds since the virtual clock's epoch.
std::int64_t virtual_time_ns();
void virtual_time_set_ns(std::int64_t ns);
void virtual_time_advance_ns(std::int64_t ns);
inline void virtual_time_advance_ms(double ms) { virtual_time_advance_ns(std::int64_t(ms * 1e6)); }

// Number of sleeps since the last virtual_time_set_ns, and the total they slept.
int virtual_time_sleep_count();
std::int64_t virtual_time_slept_ns();

// The next `reads` clock reads fail with result -1 and errno `error`.
void virtual_time_fail_reads(int reads, int error);

// Called at the start of every sleep, with the time as it stands, before
// virtual time moves on: a program that needs to see what happened at each
// moment (the renderer takes in the frames sent since the last sleep) looks
// there. One at a time; nullptr removes it. Set it before the clock is used.
using virtual_time_sleep_observer = void (*)(std::int64_t now_ns, void *context);
void virtual_time_observe_sleeps(virtual_time_sleep_observer observer, void *context);
