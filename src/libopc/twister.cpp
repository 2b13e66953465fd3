#include "twister.h"

#include "render_work.h"
#include "scene_math.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace {

// Halving and quartering are exact: the corner angles round the same way in every build.
constexpr double kPi = std::numbers::pi;
constexpr double kHalfPi = kPi / 2;
constexpr double kQuarterPi = kPi / 4;

// Rotations never get this far in use; if a caller's twist or spin does, one
// exact remainder keeps the half-turn loops below short (a float far enough
// out no longer changes when pi is added, and the loop would never end).
constexpr double kFarRotation = 1024.0;

// Adjusts `la` by half turns until start + la lies in 0 to pi, the range in
// which draw_row picks the visible faces correctly. Half a turn brings every
// face onto the one opposite, which carries the same colour, so the picture
// does not change. Sums are formed in single precision and compared in double.
float into_half_turn(float start, float la) {
  const double rotation = double(start + la);
  if (std::fabs(rotation) > kFarRotation)
    la = float(std::fmod(rotation, kPi) - double(start));
  while (double(start + la) >= kPi)
    la = phase_add(la, -kPi);
  while (double(start + la) < 0.0)
    la = phase_add(la, kPi);
  return la;
}

u32 shaded(const hsv_t &color, float nearness) {
  hsv_t c = color;
  c.v = c.v * nearness;
  return hsv_to_rgb(&c);
}

// One line of work pixels across the bar at the given rotation (0 to pi):
// the four corners of the cross-section seen from the front, then the two
// visible faces left to right, each shaded linearly between its corners.
void draw_row(twister_t d, int row, int sizex, float rotation) {
  float p[4]; // position across the span, 0 to 1
  float q[4]; // nearness to the viewer, 0 to 1
  for (int i = 0; i < 4; ++i) {
    const float angle = float(double(rotation) + i * kHalfPi + kPi - kQuarterPi);
    p[i] = float((std::sin(angle) + 1.0) / 2.0);
    q[i] = float((std::cos(angle) + 1.0) / 2.0);
  }

  // Up to a quarter turn the visible corners are 1, 2, 3, after it 0, 1, 2.
  // Faces 0-1 and 2-3 carry color[1], faces 1-2 and 3-0 color[0].
  const bool early = p[0] >= p[1];
  const int a = early ? 1 : 0;
  const hsv_t &first = d->color[early ? 0 : 1];
  const hsv_t &second = d->color[early ? 1 : 0];

  const float span = float(sizex);
  const int x0 = int(p[a] * span);
  const int x1 = int(p[a + 1] * span);
  const int x2 = int(p[a + 2] * span);
  const float c0bas = q[a];
  const float c1bas = q[a + 1];
  // A face without width draws no pixel; its step is not needed (and would
  // divide by zero).
  const float c0step = x1 > x0 ? (q[a + 1] - q[a]) / float(x1 - x0) : 0.0f;
  const float c1step = x2 > x1 ? (q[a + 2] - q[a + 1]) / float(x2 - x1) : 0.0f;

  for (int x = 0; x < sizex; ++x) {
    u32 rgb = 0; // the background, left and right of the bar
    if (x >= x0) {
      if (x < x1)
        rgb = shaded(first, float(x - x0) * c0step + c0bas);
      else if (x < x2)
        rgb = shaded(second, float(x - x1) * c1step + c1bas);
    }
    if (d->horizontal)
      gdImageSetPixel(d->work, row, x, int(rgb));
    else
      gdImageSetPixel(d->work, x, row, int(rgb));
  }
}

} // namespace

twister_t twister_init(gdImagePtr im, int oversampling) {
  auto d = static_cast<twister_t>(render_record(sizeof(twister_s)));
  const gdImagePtr work = render_work_image(im, oversampling, "twister");

  *d = twister_s{im, work, 0, 0.0f, 0.1f, 0.0f, {{{0.0f, 1.0f, 1.0f}, {1.0f / 3.0f, 1.0f, 1.0f}}}};
  return d;
}

void twister_done(twister_t d) {
  if (!d)
    return;
  gdImageDestroy(d->work);
  std::free(d);
}

void twister_set_colors(twister_t d, const hsv_t *color0, const hsv_t *color1) {
  assert(color0 && color1 && "twister_set_colors: both colours are needed");
  d->color[0] = *color0;
  d->color[1] = *color1;
}

void twister_set_twist(twister_t d, int horizontal, float twist) {
  assert(std::isfinite(twist) && "twister_set_twist: twist must be finite");
  d->horizontal = horizontal;
  d->twist = twist;
}

void twister_calc(twister_t d) {
  const int w = gdImageSX(d->work);
  const int h = gdImageSY(d->work);
  // The oversampling is taken from the widths in either orientation, so the
  // twist stays per target row, or per target column when horizontal.
  const int oversampling = w / gdImageSX(d->im);
  const int sizex = d->horizontal ? h : w; // across the bar
  const int sizey = d->horizontal ? w : h; // along it

  const float row_twist = d->twist / float(oversampling);
  float la = 0.0f;
  for (int row = 0; row < sizey; ++row) {
    // Brought into range before drawing rather than after advancing, so that
    // the first row is covered too when a negative spin has left `start`
    // below 0; for a start within 0 to pi the rows come out the same.
    la = into_half_turn(d->start, la);
    draw_row(d, row, sizex, d->start + la);
    la = la + row_twist;
  }

  // A negative step is left unwrapped here; the rows above cope with it.
  d->start = phase_step(d->start, d->step, kPi);

  // Area averaging smooths the face edges; the work image is opaque, so every
  // target pixel is replaced.
  gdImageCopyResampled(d->im, d->work, 0, 0, 0, 0, gdImageSX(d->im), gdImageSY(d->im), w, h);
}
