#include "ellipses_scene.h"

#include "ellipses.h"
#include "hsv.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "scene_math.h"
#include "wait_until.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace {

constexpr int TINT_FROM = 200, WANDER_FROM = 400;

// One axis of the wandering centre: a step towards the target, or, once
// there and wandering, a new target drawn from rand() (the centre stays put
// on that frame).
void wander(int *centre, int *target, int frame, int span, int low) {
  if (*centre < *target)
    ++*centre;
  else if (*centre > *target)
    --*centre;
  else if (frame >= WANDER_FROM)
    *target = std::rand() % span + low;
}

// Pixel (x, y) gets hue base + (x + y) / 90, added step by step down each
// column from the column's start.
void fill_rainbow(gdImagePtr colours, float base_hue) {
  hsv_t hsv{0.0f, 1.0f, 1.0f};
  float column_hue = base_hue;
  for (int x = 0; x < MATRIX_WIDTH; ++x) {
    hsv.h = column_hue;
    for (int y = 0; y < MATRIX_HEIGHT; ++y) {
      gdImageSetPixel(colours, x, y, int(hsv_to_rgb(&hsv)));
      hsv.h = phase_step(hsv.h, 1.0 / 90, 1.0);
    }
    column_hue = phase_step(column_hue, 1.0 / 90, 1.0);
  }
}

} // namespace

void ellipses(opc_sink s, alsaplay_t alsa, int end_ms) {
  const wait_until_ptr clock(wait_until_init());
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const ellipses_ptr rings(ellipses_init(frame.get(), 8));
  const gd_image_ptr colours(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  wait_until_ms(clock.get(), 40);

  int x = 128, y = 64, target_x = 128, target_y = 64;
  float a = 0.0f, b = 0.0f, base_hue = 0.0f;
  for (int n = 0; alsaplay_pos_time(alsa) < end_ms; ++n) {
    wander(&x, &target_x, n, 128, 64); // the horizontal target draws first
    wander(&y, &target_y, n, 64, 32);
    const int xsize = int(32.0f + 8.0f * std::sin(a));
    const int ysize = int(32.0f + 8.0f * std::cos(b));
    ellipses_set_calc(rings.get(), x, y, xsize, ysize, 0x00FFFFFF, 0);
    if (n >= TINT_FROM) {
      fill_rainbow(colours.get(), base_hue);
      gdImageCopyMultiply(frame.get(), colours.get(), 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT);
    }
    base_hue = phase_step(base_hue, 1.0 / 180, 1.0);
    // A float never equals 2 pi: wrapping at it or only past it is the same.
    a = phase_step(a, 0.11, 2 * std::numbers::pi);
    b = phase_step(b, 0.09, 2 * std::numbers::pi);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }
}
