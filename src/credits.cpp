#include "credits.h"

#include "hsv.h"
#include "opcgd.h"
#include "picture_decode.h"
#include "wait_until.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr int W = 32, H = 16;
constexpr int FADE_FRAMES = 25, CAPTION_FRAMES = 200;

// The pan's phase, kept across credits so each continues where the last left off.
float sinpos = 4.71238899f;

struct rainbow_phases {
  float frame_a, frame_b, row_a, row_b;
};

// Phase arithmetic: added in double precision, stored in single precision,
// kept in [0, 1).
float wrap_add(float phase, double step) {
  phase = float(double(phase) + step);
  while (phase >= 1.0f)
    phase = float(double(phase) - 1.0);
  while (phase < 0.0f)
    phase = float(double(phase) + 1.0);
  return phase;
}

struct pan {
  gdImagePtr picture;
  gdImagePtr frame;
  int window_w, window_h, travel_x, travel_y;
};

void pan_step(pan *p) {
  sinpos = float(double(sinpos) + 0.07);
  if (double(sinpos) >= TWO_PI)
    sinpos = float(double(sinpos) - TWO_PI);
  const float s = std::sin(sinpos);
  const int x = int((s + 1) * float(p->travel_x) * 0.5f);
  const int y = int((s + 1) * float(p->travel_y) * 0.5f);
  gdImageCopyResampled(p->frame, p->picture, 0, 0, x, y, W, H, p->window_w, p->window_h);
}

// A fade frame: the pan frame merged at `percent` over black.
void fade_frame(opc_sink s, pan *p, gdImagePtr out, wait_until_t clock, int percent) {
  pan_step(p);
  gdImageFilledRectangle(out, 0, 0, W - 1, H - 1, 0);
  gdImageCopyMerge(out, p->frame, 0, 0, 0, 0, W, H, percent);
  wait_until_timeout(clock);
  opc_put_gd_image_32x16z(s, out);
}

// Caption letters (pure black) glow in the row's hue; the rest shows the
// pan frame at a quarter brightness.
void caption_frame(gdImagePtr out, gdImagePtr caption, gdImagePtr pan_frame, rainbow_phases *phases) {
  phases->frame_a = wrap_add(phases->frame_a, 1.0 / 36);
  phases->frame_b = wrap_add(phases->frame_b, 1.0 / 36);
  phases->row_a = phases->frame_a;
  phases->row_b = phases->frame_b;
  hsv_t hsv{0.0f, 1.0f, 1.0f};
  for (int k = 0; k < H; ++k) {
    phases->row_a = wrap_add(phases->row_a, 1.0 / 36);
    phases->row_b = wrap_add(phases->row_b, -1.0 / 12);
    hsv.h = std::sin(phases->row_b) + 0.5f * std::sin(phases->row_a);
    for (int l = 0; l < W; ++l) {
      // Outside a smaller caption there is no lettering colour: it reads as
      // black, whatever the caption's first palette entry is.
      const int c = gdImageBoundsSafe(caption, l, k) ? gdImageGetPixel(caption, l, k) : -1;
      const bool letter =
          c < 0 || (gdImageRed(caption, c) == 0 && gdImageGreen(caption, c) == 0 && gdImageBlue(caption, c) == 0);
      const int colour = letter ? int(hsv_to_rgb(&hsv)) : (gdImageGetPixel(pan_frame, l, k) & 0xFCFCFC) >> 2;
      gdImageSetPixel(out, l, k, colour);
    }
  }
}

} // namespace

void credits(opc_sink s, const unsigned char *picture_png, int picture_size, const unsigned char *caption_png,
             int caption_size) {
  auto *phases = static_cast<rainbow_phases *>(std::calloc(1, sizeof(rainbow_phases)));
  const wait_until_t clock = wait_until_init();
  pan p{};
  p.picture = DECODE_PNG_OR_FAIL(picture_png, picture_size);
  const gdImagePtr caption = DECODE_PNG_OR_FAIL(caption_png, caption_size);
  p.frame = gdImageCreateTrueColor(W, H);
  const gdImagePtr out = gdImageCreateTrueColor(W, H);

  const auto release = [&] {
    gdImageDestroy(p.picture);
    gdImageDestroy(caption);
    gdImageDestroy(p.frame);
    gdImageDestroy(out);
    wait_until_done(clock);
    std::free(phases);
  };

  const int pw = gdImageSX(p.picture), ph = gdImageSY(p.picture);
  if (ph * W == H * pw) { // the wall's own shape: nothing to pan
    opc_put_gd_image_32x16z(s, p.picture);
    release();
    return;
  }
  if (ph * W < H * pw) {
    p.window_w = ph * W / H;
    p.window_h = ph;
    p.travel_x = pw - p.window_w;
  } else {
    p.window_w = pw;
    p.window_h = H * pw / W;
    p.travel_y = ph - p.window_h;
  }
  wait_until_ms(clock, 40);

  for (int percent = 0; percent < 100; percent += 4)
    fade_frame(s, &p, out, clock, percent);
  for (int i = 0; i < CAPTION_FRAMES; ++i) {
    pan_step(&p);
    caption_frame(out, caption, p.frame, phases);
    gdImageCopyMerge(out, p.frame, 0, 0, 0, 0, W, H, i <= 99 ? 100 - i : i - 100);
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, out);
  }
  for (int percent = 100; percent > 0; percent -= 4)
    fade_frame(s, &p, out, clock, percent);
  release();
}
