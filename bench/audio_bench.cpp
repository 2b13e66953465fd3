// The audio thread's work per block: decoding 8192 bytes with the integer
// decoder from memory, and one call of the spectrum tap; and decoding a whole
// stream, reported as a multiple of real time.
#include "file_contents.h"
#include "spectrum_analyzer.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> stream_bytes() { return file_bytes(std::string(TEST_STREAMS) + "/stereo_3s.ogg"); }

// Fills one block as the audio thread does, starting over at the end.
void decode_block(OggVorbis_File *vf, char *block) {
  for (int left = 8192; left > 0;) {
    const long n = ov_read(vf, block + (8192 - left), left, nullptr);
    if (n <= 0) {
      ov_raw_seek(vf, 0);
      continue;
    }
    left -= int(n);
  }
}

void BM_DecodeBlock(benchmark::State &state) {
  auto bytes = stream_bytes();
  OggVorbis_File vf{};
  if (ov_load_data(bytes.data(), bytes.size(), &vf) != 0) {
    state.SkipWithError("test stream did not open");
    return;
  }
  char block[8192];
  for (auto _ : state) {
    decode_block(&vf, block);
    benchmark::DoNotOptimize(block[0]);
  }
  ov_clear(&vf);
}
BENCHMARK(BM_DecodeBlock);

void BM_SpectrumTap(benchmark::State &state) {
  auto bytes = stream_bytes();
  OggVorbis_File vf{};
  ov_load_data(bytes.data(), bytes.size(), &vf);
  unsigned char block[8192];
  decode_block(&vf, reinterpret_cast<char *>(block));
  ov_clear(&vf);
  out_cpx = fftwf_alloc_complex(SPECTRUM_HALF + 1);
  fft = fftwf_plan_dft_r2c_1d(SPECTRUM_POINTS, fdata, out_cpx, FFTW_ESTIMATE);
  for (auto _ : state) {
    visualize(block, 8192);
    benchmark::DoNotOptimize(bins[5].load());
  }
  fftwf_destroy_plan(fft);
  fftwf_free(out_cpx);
}
BENCHMARK(BM_SpectrumTap);

// The counter "x_real_time" says how many times faster than playback the
// whole stream decodes.
void BM_DecodeWholeStream(benchmark::State &state) {
  auto bytes = stream_bytes();
  char block[8192];
  double seconds_of_sound = 0;
  for (auto _ : state) {
    OggVorbis_File vf{};
    ov_load_data(bytes.data(), bytes.size(), &vf);
    seconds_of_sound = double(ov_pcm_total(&vf, -1)) / 44100.0;
    while (ov_read(&vf, block, sizeof block, nullptr) > 0) {
    }
    ov_clear(&vf);
  }
  state.counters["x_real_time"] =
      benchmark::Counter(seconds_of_sound * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeWholeStream)->Unit(benchmark::kMillisecond);

} // namespace
