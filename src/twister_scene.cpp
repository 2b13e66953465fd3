#include "twister_scene.h"

#include "matrix_wiring.h"
#include "opcgd.h"
#include "scene_math.h"
#include "show_timeline.h"
#include "twister.h"
#include "wait_until.h"

namespace {

struct bar_state {
  hsv_t colour[2] = {{0.0f, 1.0f, 1.0f}, {1.0f / 3.0f, 1.0f, 1.0f}};
  float twist = 0.0f;
  int direction = 1;
  int horizontal = 0;
};

void pump(bar_state *bar) {
  bar->twist = phase_add(bar->twist, bar->direction * 0.002);
  if (double(bar->twist) >= 0.2)
    bar->direction = -1;
  if (bar->twist <= 0.0f)
    bar->direction = +1;
}

void hue_step(bar_state *bar) {
  for (hsv_t &c : bar->colour) {
    c.h = phase_wrap(c.h, 1.0 / 120, 1.0);
  }
}

// What changes for the frame after frame `n`, by hundreds of frames.
void update(bar_state *bar, int n) {
  switch (n / 100) {
  case 0: bar->twist = phase_add(bar->twist, 0.0005); break;
  case 1: break;
  case 2: bar->twist = phase_add(bar->twist, -0.0005); break;
  case 3:
  case 4: pump(bar); break;
  case 5:
  case 6:
    hue_step(bar);
    pump(bar);
    break;
  case 7:
  case 8:
  case 9:
  case 10:
    bar->horizontal = 1;
    hue_step(bar);
    pump(bar);
    break;
  default: break; // from frame 1100 only the spin goes on
  }
}

} // namespace

void twister(opc_sink s, alsaplay_t alsa, int end_ms) {
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const twister_ptr bar_renderer(twister_init(frame.get(), 3));
  const wait_until_ptr clock(wait_until_init());
  wait_until_ms(clock.get(), 40);

  bar_state bar;
  for (int n = 0; alsaplay_pos_time(alsa) < end_ms; ++n) {
    twister_set_twist(bar_renderer.get(), bar.horizontal, bar.twist);
    twister_set_colors(bar_renderer.get(), &bar.colour[0], &bar.colour[1]);
    twister_calc(bar_renderer.get());
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
    update(&bar, n);
  }

  gdImageFilledRectangle(frame.get(), 0, 0, MATRIX_WIDTH - 1, MATRIX_HEIGHT - 1, 0);
  for (int i = 0; i < TWISTER_FRAMES_AFTER_CUE; ++i) {
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }
}
