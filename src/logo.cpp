#include "logo.h"

#include "assets.h"
#include "hsv.h"
#include "matrix_wiring.h"
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

// Entry n of the drawing script: a pixel MATRIX_WIDTH * y + x, or -1 for a
// pause. The script is little-endian 16-bit values, read byte by byte so the
// host's order does not matter.
int script_entry(int n) {
  const unsigned char *at = LOGO_DRAW + 2 * n;
  return std::int16_t(std::uint16_t(at[0] | at[1] << 8));
}

int script_length() { return int(LOGO_DRAW_SIZE / 2); }

} // namespace

void logo_draw(opc_sink s) {
  const gd_image_ptr logo(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  hsv_t hsv{0.0f, 1.0f, 0.0f};
  const wait_until_ptr clock(wait_until_init());
  wait_until_ms(clock.get(), 40);
  gdImageFilledRectangle(logo.get(), 0, 0, MATRIX_WIDTH - 1, MATRIX_HEIGHT - 1, 0);

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
        gdImageSetPixel(logo.get(), p % MATRIX_WIDTH, p / MATRIX_WIDTH, int(hsv_to_rgb(&hsv)));
      }
    }
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, logo.get());
  }

  for (int i = 0; i < HOLD_FRAMES; ++i) {
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, logo.get());
  }

  float t = 0.0f;
  for (int i = 0; i < COLLAPSE_FRAMES; ++i, t = phase_add(t, 0.04)) {
    // The logo squeezed onto the bottom q + 1 rows.
    const int bottom = MATRIX_HEIGHT - 1;
    const int q = int(float(bottom) * std::cos(float(double(t) * std::numbers::pi / 2)));
    gdImageFilledRectangle(frame.get(), 0, 0, MATRIX_WIDTH - 1, bottom, 0);
    gdImageCopyResampled(frame.get(), logo.get(), 0, bottom - q, 0, 0, MATRIX_WIDTH, q + 1, MATRIX_WIDTH,
                         MATRIX_HEIGHT);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }
}
