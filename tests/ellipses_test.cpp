// The ellipses renderer: ring colours on the work image, enough rings to
// cover it from any centre, and the reduction onto the target.
#include "opcgd.h"
#include "block_average.h"
#include "ellipses.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

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

// A copy of a true-colour image pixel for pixel (gdImageCopy would skip the
// work image's transparent black).
image_ptr copy_of(gdImagePtr im) {
  image_ptr copy(gdImageCreateTrueColor(gdImageSX(im), gdImageSY(im)));
  for (int y = 0; y < gdImageSY(im); ++y)
    for (int x = 0; x < gdImageSX(im); ++x)
      copy->tpixels[y][x] = im->tpixels[y][x];
  return copy;
}

testing::AssertionResult same_pixels(gdImagePtr a, gdImagePtr b) {
  for (int y = 0; y < gdImageSY(a); ++y)
    for (int x = 0; x < gdImageSX(a); ++x)
      if (gdImageGetPixel(a, x, y) != gdImageGetPixel(b, x, y))
        return testing::AssertionFailure() << "pixel " << x << "," << y << ": " << std::hex << gdImageGetPixel(a, x, y)
                                           << " instead of " << gdImageGetPixel(b, x, y);
  return testing::AssertionSuccess();
}

// The pattern by its definition: clear with color2, then every ring from the
// largest down with the fast ellipse, each over the larger ones.
void paint_rings(gdImagePtr work, const ellipses_s &d, int steps) {
  gdImageFilledRectangle(work, 0, 0, gdImageSX(work) - 1, gdImageSY(work) - 1, d.color2);
  for (int s = steps; s >= 1; --s)
    gdImageFilledEllipseFast(work, d.x, d.y, s * d.xsize, s * d.ysize, s % 2 ? d.color1 : d.color2);
}

int ring_count(const ellipses_s &d) {
  const int w = gdImageSX(d.work), h = gdImageSY(d.work);
  int startx = w - d.x, starty = h - d.y;
  if (w / 2 > startx)
    startx = w - startx;
  if (h / 2 > starty)
    starty = h - starty;
  return startx * d.ysize > starty * d.xsize ? (3 * startx) / d.xsize : (3 * starty) / d.ysize;
}

TEST(EllipsesRings, WorkImageIsTheRingsPaintedLargestFirst) {
  struct rings {
    int x, y, xsize, ysize, color1, color2;
  };
  const int half_clear = 0x40336699; // blended over what the work image held
  const rings cases[] = {
      {128, 64, 32, 40, kWhite, 0}, {128, 64, 24, 24, kWhite, 0}, {64, 95, 40, 24, kWhite, 0},
      {191, 32, 33, 27, 0x00ff8000, 0x000080ff}, {0, 0, 7, 3, kWhite, 0},  {255, 127, 3, 9, kWhite, 0},
      {-40, 64, 30, 30, kWhite, 0},  {300, -20, 25, 35, kWhite, 0},  {128, 64, 1, 1, kWhite, 0},
      {128, 64, 500, 2, kWhite, 0},  {90, 40, 26, 34, 0x40a01020, 0}, {90, 40, 26, 34, kWhite, half_clear},
  };
  for (const rings &r : cases) {
    show_ellipses s;
    ellipses_set_calc(s.e.get(), 128, 64, 32, 40, 0x00010203, 0x00fffefd); // an older pattern beneath
    const image_ptr expected = copy_of(s.e->work);
    const image_ptr expected_frame = copy_of(s.frame.get()); // translucent rings blend over it
    ellipses_set_calc(s.e.get(), r.x, r.y, r.xsize, r.ysize, r.color1, r.color2);
    paint_rings(expected.get(), *s.e, ring_count(*s.e));
    gdImageCopyResampled(expected_frame.get(), expected.get(), 0, 0, 0, 0, 32, 16, 256, 128);
    EXPECT_TRUE(same_pixels(s.e->work, expected.get()))
        << "centre " << r.x << "," << r.y << ", steps " << r.xsize << "x" << r.ysize;
    EXPECT_TRUE(same_pixels(s.frame.get(), expected_frame.get()))
        << "centre " << r.x << "," << r.y << ", steps " << r.xsize << "x" << r.ysize;
  }
}

// The block reduction against libgd's own whole-image averaging, on work
// images that vary from call to call so that remembered blocks come back.
class BlockAverage : public testing::Test {
protected:
  std::mt19937 random{20240607};

  // Work pixels drawn from `colours`, in runs so that blocks repeat.
  void scribble(gdImagePtr work, const std::vector<int> &colours) {
    std::uniform_int_distribution<std::size_t> pick(0, colours.size() - 1);
    std::uniform_int_distribution<int> run(1, 12);
    for (int y = 0; y < gdImageSY(work); ++y)
      for (int x = 0; x < gdImageSX(work);) {
        const int c = colours[pick(random)];
        for (int n = run(random); n > 0 && x < gdImageSX(work); --n, ++x)
          work->tpixels[y][x] = c;
      }
  }

  // Reduces `work` onto a target that held `old`, and onto a copy through
  // gdImageCopyResampled; both must agree.
  testing::AssertionResult reduces_as_libgd(gdImagePtr work, int tw, int th, bool true_colour = true, int old = 0x00402010) {
    image_ptr target(true_colour ? gdImageCreateTrueColor(tw, th) : gdImageCreate(tw, th));
    image_ptr expected(true_colour ? gdImageCreateTrueColor(tw, th) : gdImageCreate(tw, th));
    for (gdImagePtr im : {target.get(), expected.get()}) {
      const int c = true_colour ? old : gdImageColorAllocate(im, 64, 32, 16);
      gdImageFilledRectangle(im, 0, 0, tw - 1, th - 1, c);
    }
    block_average_reduce(target.get(), work);
    gdImageCopyResampled(expected.get(), work, 0, 0, 0, 0, tw, th, gdImageSX(work), gdImageSY(work));
    return same_pixels(target.get(), expected.get());
  }
};

TEST_F(BlockAverage, TwoOpaqueColoursAtTheShowsOversampling) {
  image_ptr work(gdImageCreateTrueColor(256, 128));
  gdImageColorTransparent(work.get(), 0); // as the renderers' work images
  for (int round = 0; round < 12; ++round) {
    scribble(work.get(), round % 3 ? std::vector<int>{kWhite, 0} : std::vector<int>{0x00ff8000, 0x000080ff});
    ASSERT_TRUE(reduces_as_libgd(work.get(), 32, 16)) << "round " << round;
  }
}

TEST_F(BlockAverage, EveryChannelValueOfAUniformBlock) {
  image_ptr work(gdImageCreateTrueColor(256 * 4, 4));
  for (int v = 0; v < 256; ++v)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        work->tpixels[y][4 * v + x] = gdTrueColorAlpha(v, 255 - v, (v * 7) & 255, 0);
  EXPECT_TRUE(reduces_as_libgd(work.get(), 256, 1));
}

TEST_F(BlockAverage, ThreeColoursAndTranslucentPixelsGoToLibgdAsTheyCome) {
  // Translucent blocks blend over the target's old pixels, so they cannot be remembered.
  image_ptr work(gdImageCreateTrueColor(96, 48));
  for (int round = 0; round < 4; ++round) {
    scribble(work.get(), {kWhite, 0, 0x00336699, 0x40ff0000, 0x7f00ff00});
    ASSERT_TRUE(reduces_as_libgd(work.get(), 32, 16)) << "round " << round;
  }
}

TEST_F(BlockAverage, OtherSizesAndPaletteTargetsAreLibgdsWholeCall) {
  image_ptr uneven(gdImageCreateTrueColor(100, 50)); // not a whole multiple of 32x16
  scribble(uneven.get(), {kWhite, 0});
  EXPECT_TRUE(reduces_as_libgd(uneven.get(), 32, 16));
  image_ptr large(gdImageCreateTrueColor(288, 144)); // blocks of 9 x 9
  scribble(large.get(), {kWhite, 0});
  EXPECT_TRUE(reduces_as_libgd(large.get(), 32, 16));
  image_ptr work(gdImageCreateTrueColor(256, 128));
  scribble(work.get(), {kWhite, 0});
  EXPECT_TRUE(reduces_as_libgd(work.get(), 32, 16, false));
}

TEST_F(BlockAverage, MoreDistinctBlocksThanItRemembers) {
  // Random pixels make nearly every block new: 40 x 512 blocks fill the
  // memory (8,192 slots) several times over.
  image_ptr work(gdImageCreateTrueColor(256, 128));
  std::bernoulli_distribution white(0.5);
  for (int round = 0; round < 40; ++round) {
    for (int y = 0; y < 128; ++y)
      for (int x = 0; x < 256; ++x)
        work->tpixels[y][x] = white(random) ? kWhite : 0x00204080;
    ASSERT_TRUE(reduces_as_libgd(work.get(), 32, 16)) << "round " << round;
  }
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
