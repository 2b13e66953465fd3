#include "image_linear.h"

#include "fades.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "picture_decode.h"
#include "scene_math.h"
#include "show_timeline.h"
#include "wait_until.h"

void image_linear(opc_sink s, alsaplay_t alsa, int end_ms, const unsigned char *png, int png_size) {
  const wait_until_ptr clock(wait_until_init());
  const gd_image_ptr picture = DECODE_PNG_OR_FAIL(png, png_size);
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));

  const wall_window_s window = wall_window_fit(gdImageSX(picture), gdImageSY(picture));
  if (window.whole) { // nothing to scroll
    opc_put_gd_image_32x16z(s, picture.get());
    return;
  }
  // The window spans a wide picture's height, a tall one's width.
  const bool wide = window.travel_x > 0;
  const float speed = wide ? float(4.0 * MATRIX_HEIGHT / MATRIX_WIDTH / window.h)
                           : float(4.0 * MATRIX_WIDTH / MATRIX_HEIGHT / window.w);

  gdImageCopyResampled(frame.get(), picture.get(), 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT, window.w, window.h);
  fade_in(s, frame.get(), 25, 40);
  wait_until_ms(clock.get(), 40);

  float p = 0.0f;
  int direction = 1;
  while (alsaplay_pos_time(alsa) < end_ms) {
    p = p + float(direction) * speed;
    if (p >= 2.0f) {
      // At the far end the wall keeps the last frame. The position is still
      // tested once per frame tick, sleeping in between rather than spinning.
      direction = 0;
      wait_until_timeout(clock.get());
      continue;
    }
    const int x = int(float(window.travel_x) * p * 0.5f);
    const int y = int(float(window.travel_y) * p * 0.5f);
    gdImageCopyResampled(frame.get(), picture.get(), 0, 0, x, y, MATRIX_WIDTH, MATRIX_HEIGHT, window.w, window.h);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }

  fade_out(s, frame.get(), PANORAMA_FRAMES_AFTER_CUE + 1, 40); // N steps send N - 1 frames
}
