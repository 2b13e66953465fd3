// The shipped time source reads the monotonic clock and really sleeps.
#include "time_source.h"

#include <gtest/gtest.h>

namespace {

long long ns_of(const timespec &t) { return (long long)t.tv_sec * 1000000000 + t.tv_nsec; }

TEST(MonotonicTimeSource, SleepLastsAtLeastItsLengthOnTheMonotonicClock) {
  timespec before{}, after{};
  ASSERT_EQ(time_source_now(&before), 0);
  ASSERT_EQ(time_source_sleep_us(20000), 0);
  ASSERT_EQ(time_source_now(&after), 0);
  EXPECT_GE(ns_of(after) - ns_of(before), 20'000'000);
  EXPECT_LT(before.tv_nsec, 1000000000);
  EXPECT_LT(after.tv_nsec, 1000000000);
}

} // namespace
