// Each scene's cost per frame: drawing and sending, in virtual time (the
// frame clock's waits cost nothing), to a loopback server. The figure to read
// is the time per item: one item is one frame.
#include "assets.h"
#include "greetings.h"
#include "image_linear.h"
#include "logo.h"
#include "present.h"
#include "scene_harness.h"
#include "title_zoom.h"

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
  for (auto _ : state)
    scene(h);
  state.SetItemsProcessed(state.iterations() * frames);
}

void BM_PresentScene(benchmark::State &state) {
  run_scene(state, 60, [](scene_harness &h) { present_draw(h.sink); });
}
BENCHMARK(BM_PresentScene)->Unit(benchmark::kMillisecond);

void BM_LogoScene(benchmark::State &state) {
  run_scene(state, 249, [](scene_harness &h) { logo_draw(h.sink); });
}
BENCHMARK(BM_LogoScene)->Unit(benchmark::kMillisecond);

// Fade-in and fade-out only (the cue has passed): 48 frames.
void BM_PanoramaFades(benchmark::State &state) {
  harness().play_until(30000);
  run_scene(state, 48, [](scene_harness &h) {
    image_linear(h.sink, h.alsa, 28500, PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
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

} // namespace
