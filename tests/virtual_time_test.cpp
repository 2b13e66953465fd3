// The virtual time source stands in for the monotonic clock: sleeps return at
// once and move virtual time on by exactly their length.
#include "time_source.h"
#include "virtual_time.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

TEST(VirtualTimeSource, SleepAdvancesVirtualTimeExactly) {
  virtual_time_set_ns(5'999'990'000);
  ASSERT_EQ(time_source_sleep_us(40000), 0);
  timespec now{};
  ASSERT_EQ(time_source_now(&now), 0);
  EXPECT_EQ(now.tv_sec, 6);
  EXPECT_EQ(now.tv_nsec, 39'990'000);
  EXPECT_EQ(virtual_time_sleep_count(), 1);
  EXPECT_EQ(virtual_time_slept_ns(), 40'000'000);
}

TEST(VirtualTimeSource, InjectedClockFailuresComeBackAsTheReadResult) {
  virtual_time_set_ns(1'000'000'000);
  virtual_time_fail_reads(1, EINVAL);
  timespec now{};
  EXPECT_EQ(time_source_now(&now), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(time_source_now(&now), 0);
  EXPECT_EQ(now.tv_sec, 1);
}

} // namespace
