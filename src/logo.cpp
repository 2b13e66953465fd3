#include "logo.h"

#include "assets.h"
#include "hsv.h"
#include "opcgd.h"
#include "scene_math.h"
#include "show_timeline.h"
#include "wait_until.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace {

constexpr int DRAWING_FRAMES = 199, HOLD_FRAMES = 25, COLLAPSE_FRAMES = 25;
static_assert(DRAWING_FRAMES + HOLD_FRAMES + COLLAPSE_FRAMES == LOGO_FRAMES);
constexpr int GLOW_STEPS = 23; // a pixel is redrawn on this many frames, brighter each time

// Entry n of the drawing script: a pixel 32 * y + x, or -1 for a pause. The
// script is little-endian 16-bit values, read byte by byte so the host's
// order does not matter.
int script_entry(int n) {
  const unsigned char *at = LOGO_DRAW + 2 * n;
  return std::int16_t(std::uint16_t(at[0] | at[1] << 8));
}

int script_length() { return int(LOGO_DRAW_SIZE / 2); }

} // namespace

void logo_draw(opc_sink s) {
  const gdImagePtr logo = gdImageCreateTrueColor(32, 16);
  const gdImagePtr frame = gdImageCreateTrueColor(32, 16);
  hsv_t hsv{0.0f, 1.0f, 0.0f};
  const wait_until_t clock = wait_until_init();
  wait_until_ms(clock, 40);
  gdImageFilledRectangle(logo, 0, 0, 31, 15, 0);

  for (int i = 0; i < DRAWING_FRAMES; ++i) {
    // Hues past 1.0 are left as they are: the conversion wraps them.
    hsv.h = phase_add(float(i) / 175.0f, -0.08);
    if (hsv.h < 0)
      hsv.h += 1.0f;
    for (int j = 1; j <= GLOW_STEPS; ++j) {
      const int n = i - j;
      if (n < 0)
        break;
      if (n < script_length() && script_entry(n) >= 0) {
        const int p = script_entry(n);
        hsv.v = float(j) / 24.0f;
        gdImageSetPixel(logo, p & 31, p >> 5, int(hsv_to_rgb(&hsv)));
      }
    }
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, logo);
  }

  for (int i = 0; i < HOLD_FRAMES; ++i) {
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, logo);
  }

  float t = 0.0f;
  for (int i = 0; i < COLLAPSE_FRAMES; ++i, t = phase_add(t, 0.04)) {
    const int q = int(15.0f * std::cos(float(double(t) * std::numbers::pi / 2)));
    gdImageFilledRectangle(frame, 0, 0, 31, 15, 0);
    gdImageCopyResampled(frame, logo, 0, 15 - q, 0, 0, 32, q + 1, 32, 16);
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, frame);
  }

  gdImageDestroy(frame);
  gdImageDestroy(logo);
  wait_until_done(clock);
}
