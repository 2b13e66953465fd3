// The frame clock in virtual time: deadlines, lateness and resynchronisation.
#include "output_capture.h"
#include "virtual_time.h"
#include "wait_until.h"

#include <cerrno>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int64_t MS = 1'000'000;

class FrameClock : public testing::Test {
protected:
  // Half-way through a second, so that 40 ms periods carry into the seconds.
  void SetUp() override { virtual_time_set_ns(7'500 * MS); }
  void TearDown() override { wait_until_done(clock); }
  wait_until_t clock = wait_until_init();
};

TEST_F(FrameClock, NewClockIsZeroed) {
  EXPECT_EQ(clock->then.tv_sec, 0);
  EXPECT_EQ(clock->then.tv_nsec, 0);
  EXPECT_EQ(clock->ms, 0);
}

TEST_F(FrameClock, FirstFrameTwoPeriodsAfterStartThenOnePeriodApart) {
  const std::int64_t start = virtual_time_ns();
  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  std::vector<std::int64_t> sent;
  for (int frame = 0; frame < 30; ++frame) {
    virtual_time_advance_ns(10 * MS); // drawing the frame
    ASSERT_EQ(wait_until_timeout(clock), 0);
    sent.push_back(virtual_time_ns() - start);
  }
  for (size_t i = 0; i < sent.size(); ++i)
    EXPECT_EQ(sent[i], std::int64_t(80 + 40 * i) * MS) << "frame " << i;
  EXPECT_LT(clock->then.tv_nsec, 1'000'000'000);
}

TEST_F(FrameClock, LongPeriodMovesTheDeadlineByExactlyItsLength) {
  const std::int64_t start = virtual_time_ns();
  ASSERT_EQ(wait_until_ms(clock, 1500), 0);
  for (int frame = 0; frame < 4; ++frame) {
    ASSERT_EQ(wait_until_timeout(clock), 0);
    EXPECT_EQ(virtual_time_ns() - start, (3000 + 1500 * frame) * MS);
    EXPECT_EQ(std::int64_t(clock->then.tv_sec) * 1000 * MS + clock->then.tv_nsec, virtual_time_ns());
  }
}

TEST_F(FrameClock, OverrunIsReportedInWholeMillisecondsAndTheClockStartsAfresh) {
  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  const std::int64_t deadline = virtual_time_ns() + 80 * MS;
  virtual_time_advance_ns(85'300'000); // 5.3 ms past the first deadline, same second
  stdout_capture out;
  EXPECT_EQ(wait_until_timeout(clock), 1);
  EXPECT_EQ(out.text(), "5 ms too late\n");
  EXPECT_EQ(virtual_time_sleep_count(), 0) << "a late frame goes out at once";

  const std::int64_t late_moment = virtual_time_ns();
  EXPECT_EQ(late_moment - deadline, 5'300'000);
  ASSERT_EQ(wait_until_timeout(clock), 0);
  EXPECT_EQ(virtual_time_ns() - late_moment, 80 * MS) << "two periods after the resynchronisation";
  ASSERT_EQ(wait_until_timeout(clock), 0);
  EXPECT_EQ(virtual_time_ns() - late_moment, 120 * MS);
}

TEST_F(FrameClock, DeadlineMetWithinAMillisecondCountsAsLate) {
  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  virtual_time_advance_ns(79'400'000); // 0.6 ms before the deadline: delay 0
  stdout_capture out;
  EXPECT_EQ(wait_until_timeout(clock), 1);
  EXPECT_EQ(out.text(), "0 ms too late\n");
}

TEST_F(FrameClock, ClockReadFailuresAreReturnedAndLeaveTheDeadlineAlone) {
  virtual_time_fail_reads(1, EINVAL);
  EXPECT_EQ(wait_until_ms(clock, 40), -1);

  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  const timespec before = clock->then;
  virtual_time_fail_reads(1, EINVAL);
  EXPECT_EQ(wait_until_timeout(clock), -1);
  EXPECT_EQ(clock->then.tv_sec, before.tv_sec);
  EXPECT_EQ(clock->then.tv_nsec, before.tv_nsec);
  EXPECT_EQ(virtual_time_sleep_count(), 0);
}

TEST_F(FrameClock, RestartingTheSequenceCountsFromThePresent) {
  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  ASSERT_EQ(wait_until_timeout(clock), 0);
  virtual_time_advance_ns(15 * MS);
  const std::int64_t restart = virtual_time_ns();
  ASSERT_EQ(wait_until_ms(clock, 40), 0);
  ASSERT_EQ(wait_until_timeout(clock), 0);
  EXPECT_EQ(virtual_time_ns() - restart, 80 * MS);
}

// Scenes hold their clocks in wait_until_ptr and never call wait_until_done
// themselves; the sanitizer build's leak and double-free checks watch this.
TEST(FrameClockOwner, OwnedClockPacesAndIsReleasedOnceDoneAcceptsNull) {
  wait_until_done(nullptr); // like every x_done
  virtual_time_set_ns(7'500 * MS);
  wait_until_ptr clock(wait_until_init());
  ASSERT_EQ(wait_until_ms(clock.get(), 40), 0);
  EXPECT_EQ(wait_until_timeout(clock.get()), 0);
  EXPECT_EQ(virtual_time_ns(), 7'580 * MS) << "the owner's clock is the plain one";
  clock.reset();
}

} // namespace
