// Each scene's cost per frame: drawing and sending, in virtual time (the
// frame clock's waits cost nothing), to a loopback server. The figure to read
// is the time per item: one item is one frame.
#include "assets.h"
#include "credits.h"
#include "ellipses_scene.h"
#include "greetings.h"
#include "image_linear.h"
#include "logo.h"
#include "into_the_blue.h"
#include "present.h"
#include "scene_harness.h"
#include "show_timeline.h"
#include "spectrum_analyzer.h"
#include "thank_slide.h"
#include "title_zoom.h"
#include "twister_scene.h"
#include "virtual_time.h"

#include <benchmark/benchmark.h>

namespace {

// One harness (and one sink) for the whole run: the sink table never shrinks.
scene_harness &harness() {
  static scene_harness h;
  static const bool quiet = [] {
    h.server.set_keeping(false);
    return true;
  }();
  (void)quiet;
  return h;
}

image_zoom_t shared_zoom() {
  static const image_zoom_t zoom = vorn_zoom_init();
  return zoom;
}

template <typename Scene> void run_scene(benchmark::State &state, long frames, Scene scene) {
  scene_harness &h = harness();
  shared_zoom();
  h.play_until(0);
  for (auto _ : state)
    scene(h);
  state.SetItemsProcessed(state.iterations() * frames);
}

void BM_PresentScene(benchmark::State &state) {
  run_scene(state, PRESENT_FRAMES, [](scene_harness &h) { present_draw(h.sink); });
}
BENCHMARK(BM_PresentScene)->Unit(benchmark::kMillisecond);

void BM_LogoScene(benchmark::State &state) {
  run_scene(state, LOGO_FRAMES, [](scene_harness &h) { logo_draw(h.sink); });
}
BENCHMARK(BM_LogoScene)->Unit(benchmark::kMillisecond);

// Fade-in and fade-out only (the cue has passed).
void BM_PanoramaFades(benchmark::State &state) {
  harness().play_until(show_cue_ms("panorama") + 1500);
  run_scene(state, 24 + PANORAMA_FRAMES_AFTER_CUE, [](scene_harness &h) {
    image_linear(h.sink, h.alsa, show_cue_ms("panorama"), PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
  });
}
BENCHMARK(BM_PanoramaFades)->Unit(benchmark::kMillisecond);

void BM_GreetingsPan(benchmark::State &state) {
  run_scene(state, 112, [](scene_harness &h) { linear(h.sink, 1, shared_zoom()); });
}
BENCHMARK(BM_GreetingsPan)->Unit(benchmark::kMillisecond);

void BM_GreetingsJump(benchmark::State &state) {
  run_scene(state, 61, [](scene_harness &h) { jump(h.sink, 2, shared_zoom()); });
}
BENCHMARK(BM_GreetingsJump)->Unit(benchmark::kMillisecond);

void BM_GreetingsJumpOut(benchmark::State &state) {
  run_scene(state, 75, [](scene_harness &h) { jump_out(h.sink, 75, shared_zoom()); });
}
BENCHMARK(BM_GreetingsJumpOut)->Unit(benchmark::kMillisecond);

// Audio-timed scenes run for `frames` frames from wherever the position stands.
template <typename Scene> void run_for_frames(benchmark::State &state, long frames, Scene scene) {
  run_scene(state, frames, [&](scene_harness &h) {
    if (alsaplay_pos_time(h.alsa) + frames * 40 + 1000 > alsaplay_total_time(h.alsa)) {
      h.restart_player();
      h.play_until(0);
    }
    const int now = alsaplay_pos_time(h.alsa);
    scene(h, now + int(frames) * 40);
  });
}

void BM_EllipsesScene(benchmark::State &state) {
  run_for_frames(state, 250, [](scene_harness &h, int end) { ellipses(h.sink, h.alsa, end); });
}
BENCHMARK(BM_EllipsesScene)->Unit(benchmark::kMillisecond);

void BM_IntoTheBlueScene(benchmark::State &state) {
  run_scene(state, 24 + 660 + 24, [](scene_harness &h) { into_the_blue(h.sink, h.alsa, 0); });
}
BENCHMARK(BM_IntoTheBlueScene)->Unit(benchmark::kMillisecond);

void BM_TwisterScene(benchmark::State &state) {
  run_for_frames(state, 250, [](scene_harness &h, int end) { twister(h.sink, h.alsa, end); });
}
BENCHMARK(BM_TwisterScene)->Unit(benchmark::kMillisecond);

void BM_AnalyserScene(benchmark::State &state) {
  run_for_frames(state, 250, [](scene_harness &h, int end) {
    image_sinus_analyzer(h.sink, h.alsa, end, PNG_VORN_SCENE_DRINK, int(PNG_VORN_SCENE_DRINK_SIZE));
  });
}
BENCHMARK(BM_AnalyserScene)->Unit(benchmark::kMillisecond);

void BM_CreditsScene(benchmark::State &state) {
  run_scene(state, CREDITS_FRAMES, [](scene_harness &h) {
    credits(h.sink, PNG_CREDITS_GFX_GFX, int(PNG_CREDITS_GFX_GFX_SIZE), PNG_CREDITS_TXT_GFX,
            int(PNG_CREDITS_TXT_GFX_SIZE));
  });
}
BENCHMARK(BM_CreditsScene)->Unit(benchmark::kMillisecond);

void BM_ThankSlide(benchmark::State &state) {
  run_scene(state, THANK_YOU_FRAMES, [](scene_harness &h) { thank_slide(h.sink); });
}
BENCHMARK(BM_ThankSlide)->Unit(benchmark::kMillisecond);

} // namespace
