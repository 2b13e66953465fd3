#include "virtual_time.h"

#include "time_source.h"

#include <atomic>
#include <cerrno>

namespace {

// The clock starts well away from zero and half-way through a second, so that
// the carry from nanoseconds into seconds is exercised from the first period.
constexpr std::int64_t START_NS = 1000'500'000'000;

std::atomic<std::int64_t> now_ns{START_NS};
std::atomic<int> sleeps{0};
std::atomic<std::int64_t> slept_ns{0};
std::atomic<int> failing_reads{0};
std::atomic<int> failing_errno{0};
virtual_time_sleep_observer sleep_observer = nullptr;
void *sleep_observer_context = nullptr;

} // namespace

std::int64_t virtual_time_ns() { return now_ns; }

void virtual_time_set_ns(std::int64_t ns) {
  now_ns = ns;
  sleeps = 0;
  slept_ns = 0;
}

void virtual_time_advance_ns(std::int64_t ns) { now_ns += ns; }

int virtual_time_sleep_count() { return sleeps; }

std::int64_t virtual_time_slept_ns() { return slept_ns; }

void virtual_time_fail_reads(int reads, int error) {
  failing_errno = error;
  failing_reads = reads;
}

int time_source_now(timespec *now) {
  if (failing_reads > 0) {
    --failing_reads;
    errno = failing_errno;
    return -1;
  }
  const std::int64_t ns = now_ns;
  now->tv_sec = time_t(ns / 1'000'000'000);
  now->tv_nsec = long(ns % 1'000'000'000);
  return 0;
}

void virtual_time_observe_sleeps(virtual_time_sleep_observer observer, void *context) {
  sleep_observer = observer;
  sleep_observer_context = context;
}

int time_source_sleep_us(useconds_t microseconds) {
  if (sleep_observer)
    sleep_observer(now_ns, sleep_observer_context);
  ++sleeps;
  slept_ns += std::int64_t(microseconds) * 1000;
  now_ns += std::int64_t(microseconds) * 1000;
  return 0;
}
