// The ellipses renderer: ring colours on the work image, enough rings to
// cover it from any centre, and the reduction onto the target.
#include "opcgd.h"
#include "ellipses.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using image_ptr = gd_image_ptr;

struct ellipses_deleter {
  void operator()(ellipses_t d) const { ellipses_done(d); }
};
using ellipses_ptr = std::unique_ptr<ellipses_s, ellipses_deleter>;

constexpr int kWhite = 0x00ffffff;
constexpr int kOld = 0x00ff00ff; // what the target held before

// The show's set-up: 32x16 frame, oversampling 8, so a 256x128 work image.
struct show_ellipses {
  image_ptr frame{gdImageCreateTrueColor(32, 16)};
  ellipses_ptr e{ellipses_init(frame.get(), 8)};
  show_ellipses() { gdImageFilledRectangle(frame.get(), 0, 0, 31, 15, kOld); }
};

// The colour at distance `distance` from the centre along the middle row (or
// middle column) of the rings, from the ring sizes alone: ring s reaches
// (s x size) / 2 pixels each way, the smallest ring that reaches a pixel
// decides its colour, odd rings are color1, and the rings go on far enough.
int ring_colour(int distance, int size, int color1, int color2) {
  int s = 1;
  while ((s * size) / 2 < distance)
    ++s;
  return s % 2 ? color1 : color2;
}

// Checks the work image along the row and the column through the centre.
testing::AssertionResult rings_through_centre(const ellipses_s &d) {
  for (int x = 0; x < gdImageSX(d.work); ++x) {
    const int want = ring_colour(std::abs(x - d.x), d.xsize, d.color1, d.color2);
    if (gdImageGetPixel(d.work, x, d.y) != want)
      return testing::AssertionFailure() << "row " << d.y << ", column " << x;
  }
  for (int y = 0; y < gdImageSY(d.work); ++y) {
    const int want = ring_colour(std::abs(y - d.y), d.ysize, d.color1, d.color2);
    if (gdImageGetPixel(d.work, d.x, y) != want)
      return testing::AssertionFailure() << "column " << d.x << ", row " << y;
  }
  return testing::AssertionSuccess();
}

// The target must hold exactly what the library's area averaging makes of
// the work image.
testing::AssertionResult target_is_reduced_work(const ellipses_s &d) {
  image_ptr reference(gdImageCreateTrueColor(gdImageSX(d.im), gdImageSY(d.im)));
  gdImageCopyResampled(reference.get(), d.work, 0, 0, 0, 0, gdImageSX(d.im), gdImageSY(d.im), gdImageSX(d.work),
                       gdImageSY(d.work));
  for (int y = 0; y < gdImageSY(d.im); ++y)
    for (int x = 0; x < gdImageSX(d.im); ++x)
      if (gdImageGetPixel(d.im, x, y) != gdImageGetPixel(reference.get(), x, y))
        return testing::AssertionFailure() << "target pixel " << x << "," << y;
  return testing::AssertionSuccess();
}

TEST(EllipsesRings, TwelveRingsOfTheShowsFirstFrame) {
  // Centre (128, 64), steps 32 by 40: reach 128 by 64, 384 / 32 = 12 rings.
  show_ellipses s;
  ASSERT_EQ(gdImageSX(s.e->work), 256);
  ASSERT_EQ(gdImageSY(s.e->work), 128);
  ellipses_set_calc(s.e.get(), 128, 64, 32, 40, kWhite, 0);
  EXPECT_TRUE(rings_through_centre(*s.e));
  // Band edges along the middle row, every 16 columns.
  EXPECT_EQ(gdImageGetPixel(s.e->work, 128 + 16, 64), kWhite);
  EXPECT_EQ(gdImageGetPixel(s.e->work, 128 + 17, 64), 0);
  EXPECT_EQ(gdImageGetPixel(s.e->work, 128 - 33, 64), kWhite);
  EXPECT_EQ(gdImageGetPixel(s.e->work, 0, 64), 0); // ring 8
  EXPECT_TRUE(target_is_reduced_work(*s.e));
}

TEST(EllipsesRings, RingsReachTheFartherEdgeWhereverTheCentreIs) {
  // Reaches 128 (centre), 192 (centre at 64) and 200 (centre at 200) across;
  // counting from the nearer edge would leave the far side without rings.
  struct centre {
    int x, y, xsize, ysize;
  };
  for (const auto [x, y, xsize, ysize] : {centre{128, 64, 16, 16}, centre{64, 64, 16, 16}, centre{200, 64, 16, 16},
                                          centre{64, 64, 24, 10}, centre{200, 10, 30, 20},
                                          // taller than wide: the count follows the rows
                                          centre{128, 20, 64, 8}, centre{128, 110, 64, 6}}) {
    show_ellipses s;
    ellipses_set_calc(s.e.get(), x, y, xsize, ysize, 0x00123456, 0x00fedcba);
    EXPECT_TRUE(rings_through_centre(*s.e)) << "centre " << x << "," << y << ", steps " << xsize << "x" << ysize;
  }
}

TEST(EllipsesRings, InnermostRingIsAlwaysTheFirstColour) {
  // Even and odd ring counts alike (12 and 7 rings here, among others).
  struct centre {
    int x, y, xsize, ysize;
  };
  for (const auto [x, y, xsize, ysize] :
       {centre{128, 64, 32, 40}, centre{128, 64, 54, 54}, centre{10, 100, 24, 40}, centre{255, 0, 40, 24}}) {
    show_ellipses s;
    ellipses_set_calc(s.e.get(), x, y, xsize, ysize, 0x00ff8000, 0x000080ff);
    EXPECT_EQ(gdImageGetPixel(s.e->work, x, y), 0x00ff8000) << "centre " << x << "," << y;
  }
}

TEST(EllipsesRings, RingStepsBeyondThreeReachesLeaveTheSecondColourEverywhere) {
  // 3 x 128 / 1000 = 0 rings: the target turns uniformly into color2. With
  // black, the work image's transparent colour, as color2 the old target
  // content still must not show through.
  for (const int background : {0x00336699, 0}) {
    show_ellipses s;
    ellipses_set_calc(s.e.get(), 128, 64, 1000, 1000, kWhite, background);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 32; ++x)
        ASSERT_EQ(gdImageGetPixel(s.frame.get(), x, y), background) << x << "," << y;
  }
}

TEST(EllipsesReduction, EveryTargetPixelIsRewrittenFromTheWorkImage) {
  show_ellipses s;
  ellipses_set_calc(s.e.get(), 90, 40, 26, 34, kWhite, 0);
  EXPECT_TRUE(target_is_reduced_work(*s.e));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      EXPECT_NE(gdImageGetPixel(s.frame.get(), x, y), kOld) << x << "," << y;
  // A block wholly inside the innermost ring is that ring's colour, one wholly
  // inside ring 2 (from 14 to 26 columns right of the centre) is black.
  EXPECT_EQ(gdImageGetPixel(s.frame.get(), 11, 5), kWhite); // work 88..95, 40..47
  EXPECT_EQ(gdImageGetPixel(s.frame.get(), 13, 5), 0);      // work 104..111, 40..47
}

TEST(EllipsesSetters, StoreWithoutDrawingAndCalcDrawsWhatTheyStored) {
  show_ellipses s;
  ellipses_setpos(s.e.get(), 70, 30);
  ellipses_setsize(s.e.get(), 20, 28);
  ellipses_setcolor(s.e.get(), 0x00ff0000, 0x000000ff);
  EXPECT_EQ(gdImageGetPixel(s.frame.get(), 0, 0), kOld);
  EXPECT_EQ(gdImageGetPixel(s.frame.get(), 16, 8), kOld);

  ellipses_calc(s.e.get());
  EXPECT_TRUE(rings_through_centre(*s.e));
  EXPECT_TRUE(target_is_reduced_work(*s.e));
}

TEST(EllipsesMisuseDeathTest, DrawingBeforeTheRingStepsAreSetIsCaught) {
  show_ellipses s;
  EXPECT_DEATH(ellipses_calc(s.e.get()), "ring steps must be positive");
  ellipses_setsize(s.e.get(), 16, 0);
  EXPECT_DEATH(ellipses_calc(s.e.get()), "ring steps must be positive");
}

} // namespace
