#include "credits.h"

#include "hsv.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "picture_decode.h"
#include "scene_math.h"
#include "show_timeline.h"
#include "wait_until.h"

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int FADE_FRAMES = 25, CAPTION_FRAMES = 200;
constexpr int FADE_STEP_PERCENT = 100 / FADE_FRAMES;
static_assert(FADE_FRAMES + CAPTION_FRAMES + FADE_FRAMES == CREDITS_FRAMES);

// The pan's phase, kept across credits so each continues where the last left off.
float sinpos = 4.71238899f;

struct rainbow_phases {
  float frame_a, frame_b, row_a, row_b;
};

using frame_pixels = std::array<int, MATRIX_LEDS>;

// The pan's windows already resampled, by window origin (x + y: one of the
// two travels is 0); the pan comes back to most origins within a credit.
// What is kept is libgd's average of the window as it is, alpha included,
// which does not depend on the frame it lands on: set onto the frame through
// libgd, it replaces opaque pixels and blends see-through ones over the last
// window, exactly as resampling onto the frame does.
constexpr int UNSEEN = -1;

struct pan_memory {
  std::vector<int> slot_of_origin;  // into `windows`, or UNSEEN
  std::vector<frame_pixels> windows; // one per pan step at most, reserved up front
  gd_image_ptr average;              // resampling target that stores the average unblended
};

struct pan {
  gd_image_ptr picture;
  gd_image_ptr frame;
  wall_window_s window;
  pan_memory memory;
};

void pan_step(pan *p) {
  sinpos = phase_step(sinpos, 0.07, 2 * std::numbers::pi);
  const float s = std::sin(sinpos);
  const int x = int((s + 1) * float(p->window.travel_x) * 0.5f);
  const int y = int((s + 1) * float(p->window.travel_y) * 0.5f);
  pan_memory &m = p->memory;
  int &slot = m.slot_of_origin[size_t(x + y)];
  if (slot == UNSEEN) {
    gdImageCopyResampled(m.average.get(), p->picture.get(), 0, 0, x, y, MATRIX_WIDTH, MATRIX_HEIGHT, p->window.w,
                         p->window.h);
    slot = int(m.windows.size());
    frame_pixels &window = m.windows.emplace_back();
    for (int j = 0; j < MATRIX_HEIGHT; ++j)
      for (int i = 0; i < MATRIX_WIDTH; ++i)
        window[size_t(j * MATRIX_WIDTH + i)] = m.average->tpixels[j][i];
  }
  // An opaque pixel replaces what the frame held (libgd's blending returns it
  // unchanged), so it is stored; only see-through pixels go through libgd.
  const frame_pixels &window = m.windows[size_t(slot)];
  for (int j = 0; j < MATRIX_HEIGHT; ++j)
    for (int i = 0; i < MATRIX_WIDTH; ++i) {
      const int c = window[size_t(j * MATRIX_WIDTH + i)];
      if (gdTrueColorGetAlpha(c) == gdAlphaOpaque)
        p->frame->tpixels[j][i] = c;
      else
        gdImageSetPixel(p->frame.get(), i, j, c);
    }
}

// A fade frame: the pan frame merged at `percent` over black.
void fade_frame(opc_sink s, pan *p, gdImagePtr out, wait_until_t clock, int percent) {
  pan_step(p);
  gdImageFilledRectangle(out, 0, 0, MATRIX_WIDTH - 1, MATRIX_HEIGHT - 1, 0);
  gdImageCopyMerge(out, p->frame.get(), 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT, percent);
  wait_until_timeout(clock);
  opc_put_gd_image_32x16z(s, out);
}

// Caption letters (pure black) glow in the row's hue; the rest shows the
// pan frame at a quarter brightness.
void caption_frame(gdImagePtr out, gdImagePtr caption, gdImagePtr pan_frame, rainbow_phases *phases) {
  phases->frame_a = phase_wrap(phases->frame_a, 1.0 / 36, 1.0);
  phases->frame_b = phase_wrap(phases->frame_b, 1.0 / 36, 1.0);
  phases->row_a = phases->frame_a;
  phases->row_b = phases->frame_b;
  hsv_t hsv{0.0f, 1.0f, 1.0f};
  for (int k = 0; k < MATRIX_HEIGHT; ++k) {
    phases->row_a = phase_wrap(phases->row_a, 1.0 / 36, 1.0);
    phases->row_b = phase_wrap(phases->row_b, -1.0 / 12, 1.0);
    hsv.h = std::sin(phases->row_b) + 0.5f * std::sin(phases->row_a);
    for (int l = 0; l < MATRIX_WIDTH; ++l) {
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
  rainbow_phases phases{};
  const wait_until_ptr clock(wait_until_init());
  pan p{};
  p.picture = DECODE_PNG_OR_FAIL(picture_png, picture_size);
  const gd_image_ptr caption = DECODE_PNG_OR_FAIL(caption_png, caption_size);
  p.frame.reset(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const gd_image_ptr out(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));

  p.window = wall_window_fit(gdImageSX(p.picture), gdImageSY(p.picture));
  if (p.window.whole) { // nothing to pan
    opc_put_gd_image_32x16z(s, p.picture.get());
    return;
  }
  p.memory.slot_of_origin.assign(size_t(p.window.travel_x + p.window.travel_y + 1), UNSEEN);
  p.memory.windows.reserve(2 * FADE_FRAMES + CAPTION_FRAMES); // no allocation while the frames run
  p.memory.average.reset(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  gdImageAlphaBlending(p.memory.average.get(), 0);
  wait_until_ms(clock.get(), 40);

  for (int percent = 0; percent < 100; percent += FADE_STEP_PERCENT)
    fade_frame(s, &p, out.get(), clock.get(), percent);
  for (int i = 0; i < CAPTION_FRAMES; ++i) {
    pan_step(&p);
    caption_frame(out.get(), caption.get(), p.frame.get(), &phases);
    gdImageCopyMerge(out.get(), p.frame.get(), 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT, i <= 99 ? 100 - i : i - 100);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, out.get());
  }
  for (int percent = 100; percent > 0; percent -= FADE_STEP_PERCENT)
    fade_frame(s, &p, out.get(), clock.get(), percent);
}
