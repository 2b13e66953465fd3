// The spectrum tap: mono mix, the two-block history and the 32 band sums,
// fed block by block by the test and then live by the real player.
#include "output_capture.h"
#include "file_contents.h"
#include "spectrum_analyzer.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::numbers::pi;

// One 8192-byte block of 2048 stereo frames from two sample functions.
template <typename Left, typename Right> std::vector<unsigned char> block(Left left, Right right) {
  std::vector<unsigned char> bytes(8192);
  for (int i = 0; i < 2048; ++i) {
    const std::int16_t l = std::int16_t(left(i)), r = std::int16_t(right(i));
    std::memcpy(&bytes[size_t(4 * i)], &l, 2);
    std::memcpy(&bytes[size_t(4 * i + 2)], &r, 2);
  }
  return bytes;
}

std::vector<float> bands() {
  std::vector<float> out;
  for (const auto &b : bins)
    out.push_back(b.load());
  return out;
}

class SpectrumTap : public testing::Test {
protected:
  void SetUp() override {
    out_cpx = fftwf_alloc_complex(SPECTRUM_HALF + 1);
    fft = fftwf_plan_dft_r2c_1d(SPECTRUM_POINTS, fdata, out_cpx, FFTW_ESTIMATE);
    offset = 0;
    std::memset(bdata, 0, sizeof bdata);
  }
  void TearDown() override {
    fftwf_destroy_plan(fft);
    fftwf_free(out_cpx);
  }

  // A tone of `periods` whole periods over the 4096 samples of two blocks.
  void play_tone(double periods, double amplitude) {
    for (int half = 0; half < 2; ++half) {
      const auto tone = [&](int i) { return amplitude * std::sin(2 * pi * periods * (2048 * half + i) / 4096.0); };
      const auto b = block(tone, tone);
      visualize(b.data(), int(b.size()));
    }
  }
};

TEST_F(SpectrumTap, TwoSilentBlocksGiveZeroInEveryBand) {
  const auto silence = block([](int) { return 0; }, [](int) { return 0; });
  visualize(silence.data(), 8192);
  visualize(silence.data(), 8192);
  for (float b : bands())
    EXPECT_EQ(b, 0.0f);
}

TEST_F(SpectrumTap, ConstantInputPutsAllItsPowerIntoBandZero) {
  const auto dc = block([](int) { return 1000; }, [](int) { return 1000; });
  visualize(dc.data(), 8192);
  visualize(dc.data(), 8192);
  const auto b = bands();
  // Mono sample 2000 / 65536, summed over 4096 samples, squared.
  const double expected = std::pow(2000.0 / 65536.0 * 4096.0, 2);
  EXPECT_NEAR(b[0], expected, expected * 1e-4);
  for (int j = 1; j < 32; ++j)
    EXPECT_LT(b[size_t(j)], expected * 1e-9) << "band " << j;
}

TEST_F(SpectrumTap, OneAndTwoPeriodsLandInBandsZeroAndOne) {
  // A sine of mono amplitude A puts (A * 4096 / 2)^2 into its index.
  const float peak = float(std::pow(16000.0 / 65536.0 * 2048.0, 2));
  play_tone(1, 8000);
  auto b = bands();
  EXPECT_NEAR(b[0], peak, peak * 1e-3f);
  for (int j = 1; j < 32; ++j)
    EXPECT_LT(b[size_t(j)], b[0] * 1e-6f) << "band " << j;

  play_tone(2, 8000);
  b = bands();
  EXPECT_NEAR(b[1], peak, peak * 1e-3f);
  for (int j = 0; j < 32; ++j) {
    if (j != 1) {
      EXPECT_LT(b[size_t(j)], b[1] * 1e-6f) << "band " << j;
    }
  }
}

TEST_F(SpectrumTap, OppositeChannelsCancel) {
  const auto noise = [](int i) { return int((i * 7919) % 20001) - 10000; };
  const auto b = block(noise, [&](int i) { return -noise(i); });
  visualize(b.data(), 8192);
  visualize(b.data(), 8192);
  for (float band : bands())
    EXPECT_EQ(band, 0.0f);
}

TEST_F(SpectrumTap, BlocksFillTheHistoryHalvesInTurn) {
  const auto first = block([](int) { return 100; }, [](int) { return 100; });
  const auto second = block([](int) { return -300; }, [](int) { return -300; });
  visualize(first.data(), 8192);
  EXPECT_EQ(offset, 2048);
  visualize(second.data(), 8192);
  EXPECT_EQ(offset, 0);
  visualize(first.data(), 8192);
  EXPECT_EQ(offset, 2048);
  const float low = 200 * 1.52587890625e-05f, high = -600 * 1.52587890625e-05f;
  for (int i = 0; i < 2048; ++i) {
    ASSERT_EQ(bdata[i], low);
    ASSERT_EQ(bdata[2048 + i], high);
    ASSERT_EQ(fdata[i], low) << "the transform sees the history as it lies";
  }
}

// The band sums of a mixed signal against a plain discrete Fourier transform,
// summed over the index ranges of each band.
TEST_F(SpectrumTap, BandsSumThePowerOfTheirIndexRanges) {
  const int first_index[33] = {0,   2,   3,   4,   5,   6,   7,   9,    11,   13,   15,   18,   21,   25,   33,   41,  49,
                               65,  81,  97,  129, 161, 193, 257, 321,  385,  513,  641,  769,  1025, 1281, 1537, 2048};
  std::vector<double> samples(4096);
  for (int half = 0; half < 2; ++half) {
    const auto mix = [&](int i) {
      const double t = 2048 * half + i;
      return 3000 * std::sin(2 * pi * 3 * t / 4096) + 2000 * std::sin(2 * pi * 70.5 * t / 4096) +
             1500 * std::cos(2 * pi * 900 * t / 4096) + 800 * std::sin(2 * pi * 1700 * t / 4096);
    };
    const auto b = block(mix, [&](int i) { return mix(i) / 2; });
    visualize(b.data(), 8192);
    for (int i = 0; i < 2048; ++i) {
      std::int16_t l, r;
      std::memcpy(&l, &b[size_t(4 * i)], 2);
      std::memcpy(&r, &b[size_t(4 * i + 2)], 2);
      samples[size_t(2048 * half + i)] = (l + r) / 65536.0;
    }
  }
  const auto got = bands();
  for (int band = 0; band < 32; ++band) {
    double expected = 0;
    for (int k = first_index[band]; k < first_index[band + 1]; ++k) {
      double re = 0, im = 0;
      for (int n = 0; n < 4096; ++n) {
        re += samples[size_t(n)] * std::cos(2 * pi * k * n / 4096);
        im -= samples[size_t(n)] * std::sin(2 * pi * k * n / 4096);
      }
      expected += re * re + im * im;
    }
    EXPECT_NEAR(got[size_t(band)], expected, 1e-3 * expected + 1e-2) << "band " << band;
  }
}

TEST_F(SpectrumTap, ShortBlockIsReportedAndNotReadPastItsEnd) {
  auto bytes = std::make_unique<unsigned char[]>(100);
  for (int i = 0; i < 100; i += 2) {
    const std::int16_t v = 1000;
    std::memcpy(&bytes[size_t(i)], &v, 2);
  }
  std::string text;
  {
    stdout_capture out;
    visualize(bytes.get(), 100);
    text = out.text();
  }
  EXPECT_EQ(text, "visualize: illegal size: 100\n");
  for (int i = 0; i < 25; ++i)
    EXPECT_EQ(bdata[i], 2000 * 1.52587890625e-05f);
  for (int i = 25; i < 2048; ++i)
    ASSERT_EQ(bdata[i], 0.0f) << "the rest of the block counts as silence";
}

} // namespace

// The analyser reads the bands on its own thread while the player's thread
// writes them, with no lock: each read sees some block's value of a band.
TEST_F(SpectrumTap, BandsReadWhileTheRealPlayerFeedsTheTapFollowTheMusic) {
  const std::vector<unsigned char> bytes = file_bytes(std::string(TEST_STREAMS) + "/stereo_3s.ogg");
  OggVorbis_File vf{};
  const alsaplay_t alsa = alsaplay_init(&vf);
  ASSERT_EQ(ov_load_data(bytes.data(), bytes.size(), &vf), 0);
  alsaplay_setup(alsa, &vf);
  for (auto &b : bins)
    b.store(0.0f);
  alsaplay_set_tap(alsa, visualize);
  alsaplay_start(alsa);
  std::vector<float> first, last;
  int changes = 0;
  while (alsaplay_pos_time(alsa) < 2000) {
    const auto now = bands();
    if (!last.empty() && now != last)
      ++changes;
    if (first.empty() && now[0] != 0.0f)
      first = now;
    last = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  alsaplay_set_tap(alsa, nullptr);
  alsaplay_done(alsa);
  EXPECT_FALSE(first.empty()) << "the tap never filled the bands";
  EXPECT_GT(changes, 10) << "about 21 blocks a second reach the bands";
  EXPECT_GT(*std::max_element(last.begin(), last.end()), 0.0f);
}
