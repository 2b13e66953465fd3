#include "image_linear.h"

#include "fades.h"
#include "opcgd.h"
#include "picture_decode.h"
#include "show_timeline.h"
#include "wait_until.h"

namespace {

constexpr int W = 32, H = 16;

} // namespace

void image_linear(opc_sink s, alsaplay_t alsa, int end_ms, const unsigned char *png, int png_size) {
  const wait_until_t clock = wait_until_init();
  const gdImagePtr picture = DECODE_PNG_OR_FAIL(png, png_size);
  const gdImagePtr frame = gdImageCreateTrueColor(W, H);
  const int pw = gdImageSX(picture), ph = gdImageSY(picture);

  const auto release = [&] {
    gdImageDestroy(picture);
    gdImageDestroy(frame);
    wait_until_done(clock);
  };

  int window_w, window_h, travel_x, travel_y;
  float speed;
  if (ph * W == H * pw) { // the wall's own shape: nothing to scroll
    opc_put_gd_image_32x16z(s, picture);
    release();
    return;
  } else if (ph * W < H * pw) { // wide
    window_w = ph * W / H;
    window_h = ph;
    travel_x = pw - window_w;
    travel_y = 0;
    speed = float(4.0 * H / W / ph);
  } else { // tall
    window_w = pw;
    window_h = pw * H / W;
    travel_x = 0;
    travel_y = ph - window_h;
    speed = float(4.0 * W / H / pw);
  }

  gdImageCopyResampled(frame, picture, 0, 0, 0, 0, W, H, window_w, window_h);
  fade_in(s, frame, 25, 40);
  wait_until_ms(clock, 40);

  float p = 0.0f;
  int direction = 1;
  while (alsaplay_pos_time(alsa) < end_ms) {
    p = p + float(direction) * speed;
    if (p >= 2.0f) {
      // At the far end the wall keeps the last frame. The position is still
      // tested once per frame tick, sleeping in between rather than spinning.
      direction = 0;
      wait_until_timeout(clock);
      continue;
    }
    const int x = int(float(travel_x) * p * 0.5f);
    const int y = int(float(travel_y) * p * 0.5f);
    gdImageCopyResampled(frame, picture, 0, 0, x, y, W, H, window_w, window_h);
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, frame);
  }

  fade_out(s, frame, PANORAMA_FRAMES_AFTER_CUE + 1, 40); // N steps send N - 1 frames
  release();
}
