// One frame of each piece of the render path as the show uses it: the image
// zoom over the greetings-sized canvas, the normalisation, a fade frame and the
// send of a 32x16 frame to a loopback server. The frame clock runs on the
// virtual time source, so no benchmark waits.
#include "fades.h"
#include "image_zoom.h"
#include "loopback_opc_server.h"
#include "opcgd.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

namespace {

using image_ptr = gd_image_ptr;

// Coloured blocks on black, like text labels on the greetings canvas.
image_ptr canvas_picture(int w, int h) {
  image_ptr im(gdImageCreateTrueColor(w, h));
  std::uint32_t state = 99;
  for (int i = 0; i < 400; ++i) {
    state = state * 1664525u + 1013904223u;
    const int x = int(state % unsigned(w)), y = int((state >> 12) % unsigned(h));
    gdImageFilledRectangle(im.get(), x, y, x + 60, y + 12, int(state >> 8 & 0xffffff));
  }
  return im;
}

void BM_ImageZoomCalc(benchmark::State &state) {
  const float zoom = float(state.range(0)) / 10.0f;
  auto canvas = canvas_picture(2048, 1024);
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  const image_zoom_t d = image_zoom_init(frame.get(), canvas.get());
  int cx = 1024;
  for (auto _ : state) {
    image_zoom_calc(d, cx, 512, zoom);
    cx = cx == 1024 ? 1031 : 1024; // a moving window, as in a flight
    benchmark::DoNotOptimize(frame->tpixels[0][0]);
  }
  image_zoom_done(d);
}
BENCHMARK(BM_ImageZoomCalc)->Arg(13)->Arg(25)->Arg(160)->Arg(640)->ArgName("zoom_x10");

void BM_ImageNormalize(benchmark::State &state) {
  auto source = canvas_picture(32, 16);
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  for (auto _ : state) {
    gdImageCopy(frame.get(), source.get(), 0, 0, 0, 0, 32, 16);
    image_normalize(frame.get());
    benchmark::DoNotOptimize(frame->tpixels[0][0]);
  }
}
BENCHMARK(BM_ImageNormalize);

// One server and one sink for the whole run: the sink table never shrinks.
opc_sink loopback_sink() {
  static loopback_opc_server server;
  static const opc_sink sink = [] {
    server.set_keeping(false);
    return opc_new_sink(server.hostport().c_str());
  }();
  return sink;
}

// A fade of two steps is exactly one frame: build the work image, draw the
// level, send it (the wait is virtual).
void BM_FadeFrame(benchmark::State &state) {
  const opc_sink sink = loopback_sink();
  auto picture = canvas_picture(32, 16);
  for (auto _ : state)
    fade_out(sink, picture.get(), 2, 40);
}
BENCHMARK(BM_FadeFrame);

void BM_PutImage32x16(benchmark::State &state) {
  const opc_sink sink = loopback_sink();
  auto frame = canvas_picture(32, 16);
  for (auto _ : state)
    benchmark::DoNotOptimize(opc_put_gd_image_32x16z(sink, frame.get()));
}
BENCHMARK(BM_PutImage32x16);

} // namespace
