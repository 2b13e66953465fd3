#include "time_source.h"

int time_source_now(timespec *now) { return clock_gettime(CLOCK_MONOTONIC, now); }

int time_source_sleep_us(useconds_t microseconds) { return usleep(microseconds); }
