#include "fades.h"

#include "fatal.h"
#include "hsv.h"
#include "opcgd.h"
#include "wait_until.h"

#include <algorithm>

void fader(opc_sink s, gdImagePtr im, int period_ms, int first, int end, int step) {
  const int w = gdImageSX(im), h = gdImageSY(im);
  const gd_image_ptr work(allocated_or_exit(gdImageCreateTrueColor(w, h)));
  const wait_until_ptr clock(wait_until_init());
  wait_until_ms(clock.get(), period_ms);
  const int divisor = std::max(first, end);

  for (int level = first; level != end;) {
    // The frame is drawn before the wait, so only the send follows the deadline.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int c = gdImageGetTrueColorPixel(im, x, y);
        gdImageSetPixel(work.get(), x, y,
                        gdTrueColor(gdTrueColorGetRed(c) * level / divisor, gdTrueColorGetGreen(c) * level / divisor,
                                    gdTrueColorGetBlue(c) * level / divisor));
      }
    wait_until_timeout(clock.get());
    level += step;
    opc_put_gd_image_32x16z(s, work.get());
  }
}

void fade_in(opc_sink s, gdImagePtr im, int steps, int period_ms) { fader(s, im, period_ms, 0, steps - 1, 1); }

void fade_out(opc_sink s, gdImagePtr im, int steps, int period_ms) { fader(s, im, period_ms, steps - 1, 0, -1); }

void image_normalize(gdImagePtr im) {
  const int w = gdImageSX(im), h = gdImageSY(im);
  if (h == 0)
    return;
  hsv_t hsv;
  float peak = 0.0f;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      rgb_to_hsv(&hsv, u32(gdImageGetPixel(im, x, y)));
      peak = std::max(peak, hsv.v);
    }

  const float scale = 1.0f / peak;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      rgb_to_hsv(&hsv, u32(gdImageGetPixel(im, x, y)));
      if (hsv.v > 0.01f) {
        hsv.v *= scale;
        gdImageSetPixel(im, x, y, int(hsv_to_rgb(&hsv)));
      }
    }
}

