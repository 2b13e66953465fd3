// The frame clock on the real monotonic clock paces frames 40 ms apart.
#include "wait_until.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

TEST(FrameClockRealTime, FramesArePacedOnTheMonotonicClock) {
  using clock_type = std::chrono::steady_clock;
  const wait_until_t clock = wait_until_init();
  const auto start = clock_type::now();
  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  std::vector<clock_type::time_point> sent;
  for (int frame = 0; frame < 10; ++frame) {
    wait_until_timeout(clock);
    sent.push_back(clock_type::now());
  }
  wait_until_done(clock);

  using std::chrono::milliseconds;
  EXPECT_GE(sent[0] - start, milliseconds(79));
  for (size_t i = 1; i < sent.size(); ++i)
    EXPECT_GE(sent[i] - sent[i - 1], milliseconds(30)) << "frame " << i;
  // Deadlines do not drift with the time spent between waits.
  EXPECT_GE(sent.back() - start, milliseconds(80 + 9 * 40 - 1));
  EXPECT_LT(sent.back() - start, milliseconds(80 + 9 * 40 + 200));
}

} // namespace
