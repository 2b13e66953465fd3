#include "into_the_blue.h"

#include "assets.h"
#include "fades.h"
#include "image_zoom.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "picture_decode.h"
#include "scene_math.h"
#include "wait_until.h"

#include <cmath>
#include <numbers>

namespace {

constexpr int DRIFT_FRAMES = 530, SWING_FRAMES = 130;

float next_angle(float angle) { return phase_step(angle, 0.1, 2 * std::numbers::pi); }

// A step on one axis, turned round at the bounds; the turn shows from the
// next frame, so the centre may pass a bound by a pixel.
void bounce(int position, int *step, int low, int high) {
  if (position >= high && *step > 0)
    *step = -*step;
  if (position < low && *step < 0)
    *step = -*step;
}

} // namespace

void into_the_blue(opc_sink s, alsaplay_t alsa, int end_ms) {
  const wait_until_ptr clock(wait_until_init());
  const gd_image_ptr picture = DECODE_PNG_OR_FAIL(INTO_THE_BLUE, int(INTO_THE_BLUE_SIZE));
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const image_zoom_ptr zoom(image_zoom_init(frame.get(), picture.get()));
  const int pw = gdImageSX(picture), ph = gdImageSY(picture);

  int x = pw / 2 - 10, y = ph / 2, dx = 1, dy = 1;
  image_zoom_calc(zoom.get(), x, y, 2.1f);
  fade_in(s, frame.get(), 25, 40);
  wait_until_ms(clock.get(), 40);

  float angle = 0.1f;
  float sine = std::sin(angle);
  for (int i = 0; i < DRIFT_FRAMES; ++i) {
    if (i > 0) {
      angle = next_angle(angle);
      sine = std::sin(angle);
    }
    const float z = float(double(sine) + 1.0 + 1.1);
    x += dx;
    y += dy;
    bounce(x, &dx, MATRIX_WIDTH, pw - MATRIX_WIDTH);
    bounce(y, &dy, MATRIX_HEIGHT, ph - MATRIX_HEIGHT);
    image_zoom_calc(zoom.get(), x, y, z);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }

  angle = phase_add(angle, 0.9);
  for (int i = 0; i < SWING_FRAMES; ++i) {
    angle = next_angle(angle);
    const float z = float(1.1 + (double(std::sin(angle)) + 1.0) * 3.0);
    image_zoom_calc(zoom.get(), x, y, z);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }

  while (alsaplay_pos_time(alsa) < end_ms - 1000) {
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }
  fade_out(s, frame.get(), 25, 40);
}
