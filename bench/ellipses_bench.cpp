// One ellipses frame as the ellipses scene draws it once tinted: the rings on
// a 32x16 frame at oversampling 8 (256x128 work pixels), breathing as in the
// show, then the rainbow multiplied in.
#include "ellipses.h"
#include "hsv.h"
#include "opcgd.h"
#include "scene_math.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {

void BM_EllipsesFrame(benchmark::State &state) {
  gdImagePtr frame = gdImageCreateTrueColor(32, 16);
  gdImagePtr colours = gdImageCreateTrueColor(32, 16);
  for (int x = 0; x < 32; ++x)
    for (int y = 0; y < 16; ++y) {
      const hsv_t c{float(std::fmod((x + y) / 90.0, 1.0)), 1.0f, 1.0f};
      gdImageSetPixel(colours, x, y, int(hsv_to_rgb(&c)));
    }
  ellipses_t e = ellipses_init(frame, 8);
  float a = 0.0f, b = 0.0f;
  for (auto _ : state) {
    const int xsize = int(32.0f + 8.0f * std::sin(a));
    const int ysize = int(32.0f + 8.0f * std::cos(b));
    ellipses_set_calc(e, 128, 64, xsize, ysize, 0x00FFFFFF, 0);
    gdImageCopyMultiply(frame, colours, 0, 0, 0, 0, 32, 16);
    benchmark::DoNotOptimize(frame->tpixels[0][0]);
    a = phase_step(a, 0.11, 2 * std::numbers::pi);
    b = phase_step(b, 0.09, 2 * std::numbers::pi);
  }
  ellipses_done(e);
  gdImageDestroy(colours);
  gdImageDestroy(frame);
}
BENCHMARK(BM_EllipsesFrame);

} // namespace
