// Phases stepped as the scenes step them, and the wall-shaped window over
// pictures of every shape.
#include "scene_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr double TURN = 2 * std::numbers::pi;

// float(2 pi) = 6.2831854820251465 lies above 2 pi; the float before it below.
TEST(PhaseStep, TheRoundedSumDecidesTheWrap) {
  const float below = std::nextafter(float(TURN), 0.0f);
  // Both sums stay below 2 pi in double precision. The first rounds down to
  // `below` and stays; the second rounds up to float(2 pi) and so wraps, to
  // float(2 pi) - 2 pi rounded to single precision.
  EXPECT_EQ(phase_step(below, 1e-7, TURN), below);
  EXPECT_EQ(phase_step(below, 2.8e-7, TURN), 1.74845553e-7f);
}

TEST(PhaseStep, ComesRoundOnceAndLeavesAValueBelowZero) {
  EXPECT_EQ(phase_step(0.5f, 3.0, 1.0), 2.5f);
  EXPECT_EQ(phase_step(0.25f, -0.5, 1.0), -0.25f);
}

TEST(PhaseWrap, EndsInsideThePeriodFromEitherSide) {
  EXPECT_EQ(phase_wrap(0.25f, 2.5, 1.0), 0.75f);
  EXPECT_EQ(phase_wrap(0.5f, -2.25, 1.0), 0.25f);
  // -1/12 rounds to -0.0833333358f; one added in double precision gives
  // 0.9166666642, which rounds to 0.9166666865f.
  EXPECT_EQ(phase_wrap(0.0f, -1.0 / 12, 1.0), 0.9166666865348816f);
}

void expect_window(int picture_w, int picture_h, wall_window_s expected) {
  const wall_window_s got = wall_window_fit(picture_w, picture_h);
  EXPECT_EQ(got.w, expected.w) << picture_w << "x" << picture_h;
  EXPECT_EQ(got.h, expected.h) << picture_w << "x" << picture_h;
  EXPECT_EQ(got.travel_x, expected.travel_x) << picture_w << "x" << picture_h;
  EXPECT_EQ(got.travel_y, expected.travel_y) << picture_w << "x" << picture_h;
  EXPECT_EQ(got.whole, expected.whole) << picture_w << "x" << picture_h;
}

TEST(WallWindow, SpansTheShortSideAndTravelsAlongTheLongOne) {
  expect_window(3392, 232, {464, 232, 2928, 0, false}); // the panorama
  expect_window(119, 305, {119, 59, 0, 246, false});    // the analyser's can: 59.5 rows truncated
  expect_window(180, 297, {180, 90, 0, 207, false});    // the first credit
  expect_window(65, 32, {64, 32, 1, 0, false});
  expect_window(64, 33, {64, 32, 0, 1, false});
  expect_window(63, 32, {63, 31, 0, 1, false}); // narrower than 2:1 is tall
}

TEST(WallWindow, APictureOfTheWallsShapeIsWhole) {
  expect_window(64, 32, {64, 32, 0, 0, true});
  expect_window(32, 16, {32, 16, 0, 0, true});
}

} // namespace
