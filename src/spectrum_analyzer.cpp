#include "spectrum_analyzer.h"

#include "matrix_wiring.h"
#include "opcgd.h"
#include "picture_decode.h"
#include "scene_math.h"
#include "wait_until.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>

fftwf_plan fft = nullptr;
float fdata[SPECTRUM_POINTS];
float bdata[SPECTRUM_POINTS];
int offset = 0;
fftwf_complex *out_cpx = nullptr;
std::array<std::atomic<float>, SPECTRUM_BANDS> bins{};

// The last limit lies beyond every index, so the last band takes all the rest.
const int binidx[SPECTRUM_BANDS] = {0,   1,   2,   3,   4,   5,   7,   9,   11,   13,   16,   19,   23,   31,   39,   47,
                                    63,  79,  95,  127, 159, 191, 255, 319, 383, 511, 639, 767, 1023, 1279, 1535, 65536};

void visualize(const unsigned char *block, int size) {
  if (size != ALSAPLAY_BLOCK_BYTES)
    std::printf("visualize: illegal size: %d\n", size);

  // Frames the block really holds; a short block is completed with silence
  // rather than read past its end.
  const int frames = std::clamp(size, 0, ALSAPLAY_BLOCK_BYTES) / 4;
  for (int i = 0; i < SPECTRUM_HALF; ++i) {
    int sum = 0;
    if (i < frames) {
      std::int16_t left, right;
      std::memcpy(&left, block + 4 * i, 2);
      std::memcpy(&right, block + 4 * i + 2, 2);
      sum = int(left) + int(right);
    }
    bdata[offset + i] = float(sum) * 1.52587890625e-05f;
  }
  if (offset + SPECTRUM_HALF < SPECTRUM_POINTS)
    offset += SPECTRUM_HALF;
  else
    offset -= SPECTRUM_HALF;

  // No reordering and no window: after a block in the lower half the newer
  // half comes first, a circular shift by half the length, which changes the
  // sign of every odd bin and none of the powers.
  std::memcpy(fdata, bdata, sizeof fdata);
  fftwf_execute(fft);

  for (auto &band : bins)
    band.store(0.0f, std::memory_order_relaxed);
  int j = 0;
  for (int k = 0; k < SPECTRUM_HALF; ++k) {
    const float power = out_cpx[k][0] * out_cpx[k][0] + out_cpx[k][1] * out_cpx[k][1];
    bins[size_t(j)].store(bins[size_t(j)].load(std::memory_order_relaxed) + power, std::memory_order_relaxed);
    if (k > binidx[j])
      ++j;
  }
}

namespace {

// One bar per column of the wall.
static_assert(SPECTRUM_BANDS == MATRIX_WIDTH);
constexpr int RED_ROWS = 3; // the top rows of a full-height bar

// The transform first, then the tap that uses it.
void spectrum_start(alsaplay_t alsa) {
  out_cpx = fftwf_alloc_complex(SPECTRUM_HALF + 1);
  fft = fftwf_plan_dft_r2c_1d(SPECTRUM_POINTS, fdata, out_cpx, FFTW_ESTIMATE);
  alsaplay_set_tap(alsa, visualize);
}

// The tap goes before the plan and its output: alsaplay_set_tap returns
// only when no call of the tap is running any more.
void spectrum_stop(alsaplay_t alsa) {
  alsaplay_set_tap(alsa, nullptr);
  fftwf_destroy_plan(fft);
  fftwf_free(out_cpx);
  fft = nullptr;
  out_cpx = nullptr;
}

// Bar i rises from the bottom by the logarithm of its band's power; rows
// dim towards the top of the bar, and the top three rows are red.
void draw_bars(gdImagePtr overlay) {
  for (int i = 0; i < SPECTRUM_BANDS; ++i) {
    const float level = std::min(std::log(100.0f * bins[size_t(i)].load(std::memory_order_relaxed)), 1000.0f);
    if (!(level >= 0.0f))
      continue; // silence (minus infinity) or a faint band draws nothing
    const int t = int(level);
    for (int k = 0; k <= t && k < MATRIX_HEIGHT; ++k) {
      const int brightness = std::min<int>(int(isqrt(u32(t * (t + 3 - k)))), 15);
      const int colour = k < MATRIX_HEIGHT - RED_ROWS ? brightness * 4096 : brightness * 1048576;
      if (colour != 0)
        gdImageSetPixel(overlay, i, MATRIX_HEIGHT - 1 - k, colour);
    }
  }
}

// The bars' weight over the picture: 1, 2, ..., 100, 99, ..., 1, 0, again.
int next_weight(int *count) {
  int n = *count + 1, weight;
  if (n > 199) {
    n = 0;
    weight = 0;
  } else if (n <= 99) {
    weight = n;
  } else {
    weight = 199 - *count;
  }
  *count = n;
  return weight;
}

} // namespace

void image_sinus_analyzer(opc_sink s, alsaplay_t alsa, int end_ms, const unsigned char *png, int png_size) {
  const wait_until_ptr clock(wait_until_init());
  spectrum_start(alsa);
  const gd_image_ptr pic = DECODE_PNG_OR_FAIL(png, png_size);
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const gd_image_ptr overlay(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));

  const wall_window_s window = wall_window_fit(gdImageSX(pic), gdImageSY(pic));
  if (window.whole) { // shown once
    opc_put_gd_image_32x16z(s, pic.get());
  } else {
    wait_until_ms(clock.get(), 40);
    float phase = 4.71238899230957f;
    int count = 0;
    while (alsaplay_pos_time(alsa) < end_ms) {
      phase = phase_step(phase, 0.033, 2 * std::numbers::pi);
      const float sine = std::sin(phase);
      const int x = int((1 + sine) * float(window.travel_x) * 0.5f);
      const int y = int((1 + sine) * float(window.travel_y) * 0.5f);
      gdImageCopyResampled(frame.get(), pic.get(), 0, 0, x, y, MATRIX_WIDTH, MATRIX_HEIGHT, window.w, window.h);
      gdImageCopy(overlay.get(), frame.get(), 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT);
      draw_bars(overlay.get());
      gdImageCopyMerge(frame.get(), overlay.get(), 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT, next_weight(&count));
      wait_until_timeout(clock.get());
      opc_put_gd_image_32x16z(s, frame.get());
    }
  }
  spectrum_stop(alsa);
}
