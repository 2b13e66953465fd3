#include "spectrum_analyzer.h"

#include "audio/alsaplay.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

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
