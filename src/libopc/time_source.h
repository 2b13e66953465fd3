// The time source under the frame clock: the one place the show reads the
// monotonic clock and sleeps. The show links time_source_monotonic.cpp; tests
// link a virtual clock in which a sleep advances time at once, so paced loops
// run in virtual time through the same frame-clock code.
#pragma once

#include <ctime>
#include <unistd.h>

// Reads the monotonic clock; 0 on success, else the clock's error result.
int time_source_now(timespec *now);

// Sleeps for the given number of microseconds; 0 on success, else -1.
int time_source_sleep_us(useconds_t microseconds);
