// One twister frame as the twister scene draws it: a 32x16 frame, oversampling
// 3 (96x48 work pixels), twist and colours handed over before each frame.
#include "twister.h"

#include <benchmark/benchmark.h>

namespace {

void BM_TwisterFrame(benchmark::State &state) {
  const int horizontal = int(state.range(0));
  gdImagePtr frame = gdImageCreateTrueColor(32, 16);
  twister_t t = twister_init(frame, 3);
  hsv_t color0{0.0f, 1.0f, 1.0f}, color1{1.0f / 3.0f, 1.0f, 1.0f};
  // Half way up the pump, colours cycling, as in the scene's later phases.
  const float twist = 0.1f;
  for (auto _ : state) {
    twister_set_twist(t, horizontal, twist);
    twister_set_colors(t, &color0, &color1);
    twister_calc(t);
    benchmark::DoNotOptimize(frame->tpixels[0][0]);
    color0.h = float(color0.h + 1.0 / 120);
    if (color0.h >= 1.0f)
      color0.h = float(color0.h - 1.0);
    color1.h = float(color1.h + 1.0 / 120);
    if (color1.h >= 1.0f)
      color1.h = float(color1.h - 1.0);
  }
  twister_done(t);
  gdImageDestroy(frame);
}
BENCHMARK(BM_TwisterFrame)->ArgName("horizontal")->Arg(0)->Arg(1);

} // namespace
