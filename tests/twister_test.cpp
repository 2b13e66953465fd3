// The twister renderer: the bar's layout and shading on the work image, the
// spin and the twist, both orientations, and the reduction onto the target.
#include "opcgd.h"
#include "twister.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using std::numbers::pi;

using image_ptr = gd_image_ptr;

struct twister_deleter {
  void operator()(twister_t d) const { twister_done(d); }
};
using twister_ptr = std::unique_ptr<twister_s, twister_deleter>;

// The show's set-up: 32x16 frame, oversampling 3, so a 96x48 work image.
struct show_twister {
  image_ptr frame{gdImageCreateTrueColor(32, 16)};
  twister_ptr t{twister_init(frame.get(), 3)};
};

int channel(int rgb, int shift) { return (rgb >> shift) & 0xff; }

bool channels_near(int got, u32 want, int tolerance) {
  for (int shift : {16, 8, 0})
    if (std::abs(channel(got, shift) - channel(int(want), shift)) > tolerance)
      return false;
  return true;
}

std::string hex(u32 v) {
  char s[16];
  std::snprintf(s, sizeof s, "%06x", unsigned(v));
  return s;
}

u32 with_value(hsv_t c, double nearness) {
  c.v = float(c.v * nearness);
  return hsv_to_rgb(&c);
}

// What a line across the bar at rotation t shows, worked out from the
// geometry rather than from corner bookkeeping: the cross-section is a square
// whose corners lie on a circle of radius 1/2 at angles t + 3pi/4 + k pi/2;
// the sine gives the position across the span, the cosine the nearness. A face
// shows when its outward normal, half way between its corners, points at the
// viewer. Faces 0-1 and 2-3 carry colour 1, faces 1-2 and 3-0 colour 0.
struct face_view {
  double lo, hi;   // edges in pixels across the span
  double qlo, qhi; // nearness at those edges
  int color;
};

std::vector<face_view> visible_faces(double t, int span) {
  std::vector<face_view> faces;
  const auto corner = [&](int k) { return t + 3 * pi / 4 + k * pi / 2; };
  for (int k = 0; k < 4; ++k) {
    if (std::cos(corner(k) + pi / 4) <= 1e-9)
      continue;
    const double e1 = (std::sin(corner(k)) + 1) / 2 * span, q1 = (std::cos(corner(k)) + 1) / 2;
    const double e2 = (std::sin(corner(k + 1)) + 1) / 2 * span, q2 = (std::cos(corner(k + 1)) + 1) / 2;
    const int color = k % 2 == 0 ? 1 : 0;
    faces.push_back(e1 < e2 ? face_view{e1, e2, q1, q2, color} : face_view{e2, e1, q2, q1, color});
  }
  return faces;
}

// Compares one line of work pixels (a row, or a column when horizontal) with
// the geometry. Pixels within a pixel and a half of an edge are not judged,
// nor the shading of a line with an edge within a hundredth of a pixel of a
// whole pixel, where the truncation may fall either way (the renderer's
// rotation carries single-precision rounding); colours get two steps of slack.
testing::AssertionResult line_shows_bar(const twister_s &d, int line, double t) {
  const int span = d.horizontal ? gdImageSY(d.work) : gdImageSX(d.work);
  const auto faces = visible_faces(t, span);
  bool settled = true;
  for (const auto &f : faces)
    for (double e : {f.lo, f.hi})
      if (std::fabs(e - std::round(e)) < 0.01)
        settled = false;

  for (int x = 0; x < span; ++x) {
    const int got = d.horizontal ? gdImageGetPixel(d.work, line, x) : gdImageGetPixel(d.work, x, line);
    bool judged = true;
    u32 want = 0;
    for (const auto &f : faces) {
      if (std::fabs(x - f.lo) < 1.5 || std::fabs(x - f.hi) < 1.5)
        judged = false;
      const double xl = std::floor(f.lo), xh = std::floor(f.hi);
      if (x >= xl && x < xh)
        want = with_value(d.color[size_t(f.color)], f.qlo + (f.qhi - f.qlo) * (x - xl) / (xh - xl));
    }
    if (!judged)
      continue;
    const bool ok = settled ? channels_near(got, want, 2) : (got == 0) == (want == 0);
    if (!ok)
      return testing::AssertionFailure() << "line " << line << " at rotation " << t << ", pixel " << x << ": got "
                                         << hex(u32(got)) << ", want " << hex(want);
  }
  return testing::AssertionSuccess();
}

// The rotation of work line `line` when the first line is at `start` and
// each work line adds twist / oversampling, folded into one half turn.
double rotation_of_line(float start, float twist, int oversampling, int line) {
  const double t = std::fmod(double(start) + line * double(twist / float(oversampling)), pi);
  return t < 0 ? t + pi : t;
}

TEST(TwisterFrame, AtRestOnlyTheSecondColourFaceShowsEvenlyLit) {
  // Rotation 0: the colour-0 face is edge-on and the colour-1 face spans
  // 0.146 to 0.854 of the 96 columns, both its corners at nearness
  // (cos(pi/4) + 1) / 2.
  const double nearness = (std::cos(pi / 4) + 1) / 2;
  const int x0 = int((1 - std::sqrt(0.5)) / 2 * 96), x2 = int((1 + std::sqrt(0.5)) / 2 * 96);
  ASSERT_EQ(x0, 14);
  ASSERT_EQ(x2, 81);

  // The start colours (green on this face), then colours handed over.
  for (const hsv_t face : {hsv_t{1.0f / 3.0f, 1.0f, 1.0f}, hsv_t{0.1f, 0.9f, 0.9f}}) {
    show_twister s;
    ASSERT_EQ(gdImageSX(s.t->work), 96);
    ASSERT_EQ(gdImageSY(s.t->work), 48);
    if (face.h != 1.0f / 3.0f) {
      const hsv_t other{0.6f, 0.5f, 0.8f};
      twister_set_colors(s.t.get(), &other, &face);
    }
    twister_calc(s.t.get());

    const u32 lit = with_value(face, nearness);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 96; ++x) {
        const u32 want = x >= x0 && x < x2 ? lit : 0;
        ASSERT_EQ(u32(gdImageGetPixel(s.t->work, x, y)), want) << "column " << x << ", row " << y;
      }
  }
}

TEST(TwisterFrame, AtAnEighthTurnBothFacesMeetBrightestInTheMiddle) {
  // Rotation pi/4: corners at 0, 48 and 96; colour 0 (red) on the left face
  // rising from nearness 0.5 to 1, colour 1 (green) on the right face falling
  // from 1 towards 0.5.
  show_twister s;
  s.t->start = float(pi / 4);
  twister_calc(s.t.get());

  for (int y = 0; y < 48; ++y) {
    int previous_red = 0, previous_green = 256;
    for (int x = 0; x < 96; ++x) {
      const int c = gdImageGetPixel(s.t->work, x, y);
      SCOPED_TRACE("column " + std::to_string(x) + ", row " + std::to_string(y));
      if (x < 48) {
        ASSERT_EQ(c & 0x00ffff, 0);
        EXPECT_NEAR(channel(c, 16), (0.5 + x / 96.0) * 255, 1.0);
        EXPECT_GT(channel(c, 16), previous_red);
        previous_red = channel(c, 16);
      } else {
        ASSERT_EQ(c & 0xff00ff, 0);
        EXPECT_NEAR(channel(c, 8), (1.0 - (x - 48) / 96.0) * 255, 1.0);
        EXPECT_LT(channel(c, 8), previous_green);
        previous_green = channel(c, 8);
      }
    }
    EXPECT_EQ(channel(gdImageGetPixel(s.t->work, 48, y), 8), 255);
  }
}

TEST(TwisterFrame, AnyRotationShowsTheFacesTheGeometryPredicts) {
  const hsv_t c0{0.75f, 0.8f, 1.0f}, c1{0.15f, 1.0f, 0.9f};
  for (const float start : {0.3f, 1.0f, 1.5607964f, 1.5707964f, 1.77f, 2.5f, 3.0f, 3.1315928f}) {
    show_twister s;
    twister_set_colors(s.t.get(), &c0, &c1);
    s.t->start = start;
    twister_calc(s.t.get());
    for (int y = 0; y < 48; ++y)
      ASSERT_TRUE(line_shows_bar(*s.t, y, start));
  }
}

TEST(TwisterSpin, StartAdvancesByStepAndWrapsOnceAtPi) {
  show_twister s;
  twister_t t = s.t.get();

  twister_calc(t);
  EXPECT_FLOAT_EQ(t->start, 0.1f);

  t->start = 3.0f;
  twister_calc(t);
  EXPECT_FLOAT_EQ(t->start, 3.1f);
  twister_calc(t); // 3.2 passes pi
  EXPECT_NEAR(t->start, 3.2 - pi, 1e-6);

  t->start = 3.0f; // wrapped once only, even if still past pi
  t->step = 4.0f;
  twister_calc(t);
  EXPECT_NEAR(t->start, 7.0 - pi, 1e-6);
}

TEST(TwisterTwist, EveryRowTurnsByTheTwistPerTargetRow) {
  struct twisted {
    float start, twist;
  };
  // Twists forwards and backwards, and ones that cross the half turn several
  // times per row.
  for (const auto [start, twist] : {twisted{0.0f, 0.05f}, twisted{2.9f, 0.7f}, twisted{0.2f, -1.3f},
                                    twisted{1.0f, 9.0f}, twisted{0.4f, -31.0f}}) {
    show_twister s;
    twister_set_twist(s.t.get(), 0, twist);
    s.t->start = start;
    twister_calc(s.t.get());
    for (int y = 0; y < 48; ++y)
      ASSERT_TRUE(line_shows_bar(*s.t, y, rotation_of_line(start, twist, 3, y))) << "twist " << twist;
  }
}

TEST(TwisterTwist, ANegativeSpinStillDrawsEveryRowCorrectly) {
  // start below 0 is left as it is between frames; every row, the first one
  // included, is still drawn at its rotation folded into 0 to pi.
  show_twister s;
  s.t->start = 0.05f;
  s.t->step = -0.1f;
  twister_calc(s.t.get());
  EXPECT_FLOAT_EQ(s.t->start, -0.05f);
  twister_calc(s.t.get());
  EXPECT_FLOAT_EQ(s.t->start, -0.15f);
  for (int y = 0; y < 48; ++y)
    ASSERT_TRUE(line_shows_bar(*s.t, y, pi - 0.05));
}

TEST(TwisterTwist, AnEnormousTwistStillFinishesTheFrameWithAWholeBar) {
  // Whatever the rotation, the bar covers at least the middle 0.146 to 0.854
  // of the span with lit faces.
  show_twister s;
  twister_set_twist(s.t.get(), 0, 3.0e9f);
  twister_calc(s.t.get());
  for (int y = 0; y < 48; ++y)
    for (int x = 15; x <= 80; ++x)
      ASSERT_NE(gdImageGetPixel(s.t->work, x, y), 0) << "column " << x << ", row " << y;
}

TEST(TwisterHorizontal, CrossSectionRunsDownTheColumnsAndTheBarAlongThem) {
  show_twister s;
  twister_set_twist(s.t.get(), 1, 0.0f);
  twister_calc(s.t.get());

  // The span is the 48 work rows: 0.146 x 48 = 7.03 and 0.854 x 48 = 40.97.
  const u32 lit = with_value(s.t->color[1], (std::cos(pi / 4) + 1) / 2);
  for (int x = 0; x < 96; ++x)
    for (int y = 0; y < 48; ++y) {
      const u32 want = y >= 7 && y < 40 ? lit : 0;
      ASSERT_EQ(u32(gdImageGetPixel(s.t->work, x, y)), want) << "column " << x << ", row " << y;
    }

  // The twist is per target column: three work columns per target column.
  show_twister h;
  twister_set_twist(h.t.get(), 1, 0.6f);
  h.t->start = 0.4f;
  twister_calc(h.t.get());
  for (int x = 0; x < 96; ++x)
    ASSERT_TRUE(line_shows_bar(*h.t, x, rotation_of_line(0.4f, 0.6f, 3, x)));
}

TEST(TwisterReduction, TargetBecomesTheBlockAverageOfTheWorkImage) {
  show_twister s;
  gdImageFilledRectangle(s.frame.get(), 0, 0, 31, 15, 0x00ff00ff); // old content
  twister_set_twist(s.t.get(), 0, 0.08f);
  s.t->start = 0.5f;
  twister_calc(s.t.get());

  image_ptr reference(gdImageCreateTrueColor(32, 16));
  gdImageCopyResampled(reference.get(), s.t->work, 0, 0, 0, 0, 32, 16, 96, 48);
  for (int ty = 0; ty < 16; ++ty)
    for (int tx = 0; tx < 32; ++tx) {
      const int got = gdImageGetPixel(s.frame.get(), tx, ty);
      EXPECT_EQ(got, gdImageGetPixel(reference.get(), tx, ty)) << tx << "," << ty;
      for (int shift : {16, 8, 0}) {
        int sum = 0;
        for (int y = 3 * ty; y < 3 * ty + 3; ++y)
          for (int x = 3 * tx; x < 3 * tx + 3; ++x)
            sum += channel(gdImageGetPixel(s.t->work, x, y), shift);
        EXPECT_NEAR(channel(got, shift), sum / 9.0, 1.0) << tx << "," << ty << " shift " << shift;
      }
    }

  // At rest the outer work columns are black (the work image's transparent
  // colour), and the target shows black there, not its old content.
  gdImageFilledRectangle(s.frame.get(), 0, 0, 31, 15, 0x00ff00ff);
  twister_set_twist(s.t.get(), 0, 0.0f);
  s.t->start = 0.0f;
  twister_calc(s.t.get());
  for (int ty = 0; ty < 16; ++ty)
    for (int tx : {0, 1, 2, 3, 28, 29, 30, 31})
      EXPECT_EQ(gdImageGetPixel(s.frame.get(), tx, ty), 0) << tx << "," << ty;
}

} // namespace
