// The soundtrack: the synthesizer's building blocks, the score's timing, and
// the embedded stream as the show plays it (decoded with the integer decoder
// only; the encoder lives in its own program).
#include "assets.h"
#include "drums.h"
#include "dsp.h"
#include "dynamics.h"
#include "envelope.h"
#include "filter.h"
#include "loudness.h"
#include "mixer.h"
#include "oscillator.h"
#include "prng.h"
#include "score.h"
#include "sequence.h"
#include "show_timeline.h"
#include "tremor_in_ram.h"
#include "voice.h"

#include <fftw3.h>
#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using std::numbers::pi;
constexpr double RATE = 44100.0;

// Amplitude of the component at `hz` (a whole number of periods over the
// signal gives the exact value for a sinusoid).
double amplitude_at(const std::vector<double> &x, double hz, size_t from = 0) {
  double re = 0.0, im = 0.0;
  for (size_t n = from; n < x.size(); ++n) {
    const double w = 2.0 * pi * hz * double(n - from) / RATE;
    re += x[n] * std::cos(w);
    im -= x[n] * std::sin(w);
  }
  return 2.0 * std::hypot(re, im) / double(x.size() - from);
}

std::vector<double> generate(size_t n, const std::function<double(size_t)> &f) {
  std::vector<double> x(n);
  for (size_t i = 0; i < n; ++i)
    x[i] = f(i);
  return x;
}

double mean(const std::vector<double> &x, size_t from = 0) {
  double s = 0.0;
  for (size_t i = from; i < x.size(); ++i)
    s += x[i];
  return s / double(x.size() - from);
}

double energy(const std::vector<double> &x, size_t from, size_t to) {
  double s = 0.0;
  for (size_t i = from; i < to && i < x.size(); ++i)
    s += x[i] * x[i];
  return s;
}

std::vector<double> sine(double hz, double amplitude, size_t n) {
  return generate(n, [&](size_t i) { return amplitude * std::sin(2.0 * pi * hz * double(i) / RATE); });
}

// ---- oscillators ----------------------------------------------------------

TEST(SynthOscillator, SawHarmonicsFallAsOneOverTheirNumber) {
  osc_s o;
  osc_init(&o, 0.0);
  const auto x = generate(44100, [&](size_t) { return osc_saw(&o, 441.0 / RATE); });
  // A saw from -1 to 1 has harmonics of 2 / (pi n).
  for (int n = 1; n <= 3; ++n)
    EXPECT_NEAR(amplitude_at(x, 441.0 * n), 2.0 / (pi * n), 0.02 * 2.0 / (pi * n)) << "harmonic " << n;
  EXPECT_NEAR(mean(x), 0.0, 1e-3);
}

TEST(SynthOscillator, BandLimitedSawAliasesFarLessThanANaiveOne) {
  // The 15th harmonic of 3087 Hz folds back to 2205 Hz, which no harmonic
  // of the tone occupies.
  const double inc = 3087.0 / RATE;
  osc_s o;
  osc_init(&o, 0.0);
  const auto blep = generate(44100, [&](size_t) { return osc_saw(&o, inc); });
  double phase = 0.0;
  const auto naive = generate(44100, [&](size_t) {
    const double v = 2.0 * phase - 1.0;
    phase += inc;
    phase -= std::floor(phase);
    return v;
  });
  const double alias_naive = amplitude_at(naive, 2205.0), alias_blep = amplitude_at(blep, 2205.0);
  EXPECT_GT(alias_naive, 0.02);
  EXPECT_LT(alias_blep, alias_naive * 0.3);
}

TEST(SynthOscillator, PulseWidthSetsTheMean) {
  for (double duty : {0.125, 0.25, 0.5}) {
    osc_s o;
    osc_init(&o, 0.0);
    const auto x = generate(44100, [&](size_t) { return osc_pulse(&o, 441.0 / RATE, duty); });
    EXPECT_NEAR(mean(x), 2.0 * duty - 1.0, 0.01) << "duty " << duty;
  }
}

TEST(SynthOscillator, TriangleSwingsFromMinusOneToOneWithoutDrift) {
  osc_s o;
  osc_init(&o, 0.3);
  const auto x = generate(10 * 44100, [&](size_t) { return osc_triangle(&o, 100.0 / RATE); });
  const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
  EXPECT_NEAR(*hi, 1.0, 0.05);
  EXPECT_NEAR(*lo, -1.0, 0.05);
  EXPECT_NEAR(mean(x, 9 * 44100), 0.0, 0.01);
}

TEST(SynthOscillator, ChipTriangleHasSixteenSteps) {
  osc_s o;
  osc_init(&o, 0.0);
  std::set<double> levels;
  for (int i = 0; i < 44100; ++i)
    levels.insert(osc_chip_triangle(&o, 10.0 / RATE));
  EXPECT_EQ(levels.size(), 16u);
}

// ---- envelopes ------------------------------------------------------------

TEST(SynthEnvelope, AttackIsAnExponentialChargeThatPeaksOnTime) {
  adsr_s e;
  adsr_init(&e, {0.01, 0.1, 0.5, 0.1});
  adsr_gate_on(&e);
  std::vector<double> level;
  while (level.size() < 441 * 2)
    level.push_back(adsr_next(&e));
  const auto peak = size_t(std::find(level.begin(), level.end(), 1.0) - level.begin());
  EXPECT_NEAR(double(peak), 441.0, 2.0);
  // Charging towards 1.2: at half the attack time 1.2 (1 - 1/sqrt(6)).
  EXPECT_NEAR(level[220], 1.2 * (1.0 - 1.0 / std::sqrt(6.0)), 0.01);
}

TEST(SynthEnvelope, DecayAndReleaseFallSixtyDecibelsInTheirTimes) {
  adsr_s e;
  adsr_init(&e, {0.002, 0.2, 0.0, 0.5});
  adsr_gate_on(&e);
  int n = 0;
  while (e.stage == ADSR_ATTACK) {
    adsr_next(&e);
    ++n;
  }
  for (int i = 0; i < int(0.2 * RATE); ++i)
    adsr_next(&e);
  EXPECT_NEAR(e.level, 1e-3, 1e-4);

  adsr_init(&e, {0.002, 0.05, 0.8, 0.5});
  adsr_gate_on(&e);
  for (int i = 0; i < int(RATE); ++i)
    adsr_next(&e);
  EXPECT_DOUBLE_EQ(e.level, 0.8);
  adsr_gate_off(&e);
  for (int i = 0; i < int(0.5 * RATE); ++i)
    adsr_next(&e);
  EXPECT_NEAR(e.level, 0.8e-3, 0.8e-4);
  for (int i = 0; i < int(RATE); ++i)
    adsr_next(&e);
  EXPECT_TRUE(adsr_idle(&e));
}

TEST(SynthEnvelope, RetriggerRisesFromTheCurrentLevel) {
  adsr_s e;
  adsr_init(&e, {0.005, 0.1, 0.7, 0.3});
  adsr_gate_on(&e);
  for (int i = 0; i < 4410; ++i)
    adsr_next(&e);
  adsr_gate_off(&e);
  double level = 0.0;
  for (int i = 0; i < 4410; ++i)
    level = adsr_next(&e);
  ASSERT_GT(level, 0.05);
  adsr_gate_on(&e);
  const double next = adsr_next(&e);
  EXPECT_GT(next, level);
  EXPECT_LT(next - level, 0.02);
}

TEST(SynthEnvelope, EdgesAreNeverShorterThanOneAndAHalfMilliseconds) {
  adsr_s e;
  adsr_init(&e, {0.0, 0.1, 1.0, 0.0});
  adsr_gate_on(&e);
  int n = 0;
  while (adsr_next(&e) < 1.0)
    ++n;
  EXPECT_NEAR(n, 0.0015 * RATE, 2.0);
  adsr_gate_off(&e);
  // 60 dB down after 1.5 ms, not at once.
  EXPECT_GT(adsr_next(&e), 0.85);
}

TEST(SynthEnvelope, ZeroSustainIsOverAfterTheDecay) {
  adsr_s e;
  adsr_init(&e, {0.002, 0.05, 0.0, 0.1});
  adsr_gate_on(&e);
  for (int i = 0; i < int(0.2 * RATE); ++i)
    adsr_next(&e);
  EXPECT_TRUE(adsr_idle(&e));
}

// ---- filters --------------------------------------------------------------

// Steady-state amplitude of a filter's answer to a sine.
double response(const std::function<double(double)> &filter, double hz) {
  const size_t n = 88200;
  std::vector<double> y(n);
  for (size_t i = 0; i < n; ++i)
    y[i] = filter(std::sin(2.0 * pi * hz * double(i) / RATE));
  return amplitude_at(y, hz, 44100);
}

// |H| of a second-order Butterworth low-pass after the bilinear transform
// pre-warped at the cut-off.
double warped_butterworth(double hz, double cutoff) {
  const double w = std::tan(pi * hz / RATE) / std::tan(pi * cutoff / RATE);
  return 1.0 / std::sqrt(1.0 + w * w * w * w);
}

TEST(SynthFilter, StateVariableLowpassIsButterworthAtQHalfRootTwo) {
  for (double hz : {250.0, 1000.0, 4000.0}) {
    svf_s f;
    svf_init(&f, SVF_LOWPASS);
    svf_set(&f, 1000.0, 0.70710678);
    EXPECT_NEAR(response([&](double x) { return svf_process(&f, x); }, hz), warped_butterworth(hz, 1000.0),
                0.01 * warped_butterworth(hz, 1000.0))
        << hz << " Hz";
  }
  svf_s f;
  svf_init(&f, SVF_LOWPASS);
  svf_set(&f, 1000.0, 0.70710678);
  double y = 0.0;
  for (int i = 0; i < 44100; ++i)
    y = svf_process(&f, 0.5);
  EXPECT_NEAR(y, 0.5, 1e-9);
}

TEST(SynthFilter, HighpassBlocksDcAndBandpassPeaksAtQ) {
  svf_s hp;
  svf_init(&hp, SVF_HIGHPASS);
  svf_set(&hp, 200.0, 0.7071);
  double y = 1.0;
  for (int i = 0; i < 44100; ++i)
    y = svf_process(&hp, 0.5);
  EXPECT_NEAR(y, 0.0, 1e-9);
  EXPECT_NEAR(response([&](double x) { return svf_process(&hp, x); }, 10000.0), 1.0, 0.01);

  svf_s bp;
  svf_init(&bp, SVF_BANDPASS);
  svf_set(&bp, 2000.0, 2.0);
  // The state-variable band-pass output has a gain of Q at its centre.
  EXPECT_NEAR(response([&](double x) { return svf_process(&bp, x); }, 2000.0), 2.0, 0.02);
}

TEST(SynthFilter, StaysBoundedWhenTheCutoffJumpsEverySample) {
  svf_s f;
  svf_init(&f, SVF_LOWPASS);
  prng_s p;
  prng_init(&p, 5);
  double peak = 0.0;
  for (int i = 0; i < 441000; ++i) {
    svf_set(&f, 20.0 * std::pow(1000.0, prng_uniform(&p)), 20.0);
    const double y = svf_process(&f, prng_bipolar(&p));
    ASSERT_TRUE(std::isfinite(y));
    peak = std::max(peak, std::fabs(y));
  }
  EXPECT_LT(peak, 100.0);
}

TEST(SynthFilter, BiquadHighpassIsButterworthAtTwentyHertz) {
  biquad_s f;
  biquad_highpass(&f, 20.0, 0.70710678, RATE);
  const double w = std::tan(pi * 10.0 / RATE) / std::tan(pi * 20.0 / RATE);
  const double expected = w * w / std::sqrt(1.0 + w * w * w * w);
  EXPECT_NEAR(response([&](double x) { return biquad_process(&f, x); }, 10.0), expected, 0.02 * expected);
  EXPECT_NEAR(response([&](double x) { return biquad_process(&f, x); }, 1000.0), 1.0, 0.005);
}

// ---- noise ----------------------------------------------------------------

TEST(SynthNoise, GeneratorRepeatsPerSeedAndDiffersBetweenSeeds) {
  prng_s a, b, c;
  prng_init(&a, 42);
  prng_init(&b, 42);
  prng_init(&c, 43);
  int same = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t x = prng_next(&a);
    EXPECT_EQ(x, prng_next(&b));
    same += x == prng_next(&c);
  }
  EXPECT_EQ(same, 0);
}

TEST(SynthNoise, BipolarNoiseIsUniformOnMinusOneToOne) {
  prng_s p;
  prng_init(&p, 1);
  std::vector<int> histogram(10, 0);
  double sum = 0.0, squares = 0.0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double x = prng_bipolar(&p);
    ASSERT_GE(x, -1.0);
    ASSERT_LT(x, 1.0);
    sum += x;
    squares += x * x;
    ++histogram[size_t((x + 1.0) * 5.0)];
  }
  EXPECT_NEAR(sum / n, 0.0, 0.01);
  EXPECT_NEAR(squares / n, 1.0 / 3.0, 0.01);
  for (int count : histogram)
    EXPECT_NEAR(count, n / 10, n / 100);
}

TEST(SynthNoise, ShiftRegisterHasTheChipsPeriods) {
  for (const auto &[short_mode, period] : {std::pair{false, 32767}, std::pair{true, 93}}) {
    lfsr_s l;
    lfsr_init(&l, short_mode);
    const std::uint16_t start = l.reg;
    int n = 0;
    do {
      lfsr_clock(&l);
      ++n;
    } while (l.reg != start && n < 40000);
    EXPECT_EQ(n, period) << (short_mode ? "short" : "long");
  }
}

// ---- drums ----------------------------------------------------------------

std::vector<double> hit(drum_kind kind, double param, double seconds) {
  drum_s d;
  drum_start(&d, kind, {0, std::int64_t(seconds * RATE), 45.0, 1.0, param}, 3);
  std::vector<double> out(size_t(seconds * RATE), 0.0);
  drum_render(&d, out.data(), int(out.size()));
  return out;
}

// Mean frequency from zero crossings in [from, to) seconds.
double crossing_hz(const std::vector<double> &x, double from, double to) {
  int crossings = 0;
  for (size_t i = size_t(from * RATE) + 1; i < size_t(to * RATE); ++i)
    crossings += (x[i - 1] < 0.0) != (x[i] < 0.0);
  return crossings / 2.0 / (to - from);
}

TEST(SynthDrums, KickDropsFromItsAttackPitchToAboutFiftyHertz) {
  const auto kick = hit(DRUM_KICK, 0.0, 1.0);
  EXPECT_GT(crossing_hz(kick, 0.004, 0.012), 110.0);
  EXPECT_NEAR(crossing_hz(kick, 0.1, 0.3), 48.0, 3.0);
  EXPECT_LT(energy(kick, size_t(0.6 * RATE), kick.size()), 1e-5 * energy(kick, 0, size_t(0.05 * RATE)));
}

TEST(SynthDrums, ClapIsThreeBurstsTenMillisecondsApartThenATail) {
  const auto clap = hit(DRUM_CLAP, 0.0, 0.2);
  // Energy per millisecond: each burst starts loud and falls within the next 10 ms.
  const auto ms = [&](int i) { return energy(clap, size_t(i * RATE / 1000), size_t((i + 1) * RATE / 1000)); };
  for (int burst : {0, 10, 20})
    EXPECT_GT(ms(burst), 4.0 * ms(burst + 8)) << "burst at " << burst << " ms";
  EXPECT_GT(ms(30), 4.0 * ms(28));
  EXPECT_GT(ms(60), 0.2 * ms(31));
}

TEST(SynthDrums, OpenHatRingsLongerThanClosedAndBothAreBright) {
  const auto closed = hit(DRUM_HAT, 0.05, 0.5), open = hit(DRUM_HAT, 0.35, 0.5);
  EXPECT_GT(energy(open, size_t(0.1 * RATE), size_t(0.3 * RATE)),
            100.0 * energy(closed, size_t(0.1 * RATE), size_t(0.3 * RATE)));
  double low = 0.0, high = 0.0;
  for (double hz : {200.0, 500.0, 1000.0})
    low += amplitude_at(open, hz);
  for (double hz : {9000.0, 11000.0, 13000.0})
    high += amplitude_at(open, hz);
  EXPECT_GT(high, 10.0 * low);
}

// ---- voices ---------------------------------------------------------------

patch_s sine_patch() {
  patch_s p{};
  p.sine = 1.0;
  p.unison = 1;
  p.amp_env = {0.002, 0.1, 1.0, 0.05};
  p.gain = 1.0;
  return p;
}

TEST(SynthVoice, PlaysItsPitchAndEndsAfterTheRelease) {
  const patch_s p = sine_patch();
  voice_s v{};
  voice_start(&v, &p, {0, 22050, 69.0, 1.0, 0.0}, 1);
  std::vector<double> l(44100, 0.0), r(44100, 0.0);
  voice_render(&v, 0.0, l.data(), r.data(), 44100);
  std::vector<double> held(l.begin() + 4410, l.begin() + 22050);
  EXPECT_NEAR(amplitude_at(held, 440.0), 1.0, 0.02);
  EXPECT_FALSE(v.active);
}

TEST(SynthVoice, UnisonWidthSpreadsTheVoicesAcrossStereo) {
  patch_s p = sine_patch();
  p.saw = 1.0;
  p.sine = 0.0;
  p.unison = 5;
  p.detune_cents = 20.0;
  for (double width : {0.0, 1.0}) {
    p.width = width;
    voice_s v{};
    voice_start(&v, &p, {0, 44100, 57.0, 1.0, 0.0}, 1);
    std::vector<double> l(22050, 0.0), r(22050, 0.0);
    voice_render(&v, 0.0, l.data(), r.data(), 22050);
    double difference = 0.0;
    for (size_t i = 0; i < l.size(); ++i)
      difference += (l[i] - r[i]) * (l[i] - r[i]);
    if (width == 0.0)
      EXPECT_EQ(difference, 0.0);
    else
      EXPECT_GT(difference, 0.05 * energy(l, 0, l.size()));
  }
}

TEST(SynthVoice, LegatoGlidesToTheNewPitchWithoutRetriggering) {
  patch_s p = sine_patch();
  p.glide = 0.03;
  voice_s v{};
  voice_start(&v, &p, {0, 44100, 57.0, 1.0, 0.0}, 1);
  std::vector<double> l(33075, 0.0), r(33075, 0.0);
  voice_render(&v, 0.0, l.data(), r.data(), 11025);
  const double level = v.amp.level;
  voice_legato(&v, {11025, 44100, 69.0, 1.0, 0.0}, true);
  voice_render(&v, 0.0, l.data() + 11025, r.data() + 11025, 11025);
  EXPECT_EQ(v.amp.stage, ADSR_SUSTAIN);
  EXPECT_DOUBLE_EQ(v.amp.level, level);
  voice_render(&v, 0.0, l.data() + 22050, r.data() + 22050, 11025);
  std::vector<double> after(l.begin() + 22050, l.end());
  EXPECT_NEAR(crossing_hz(after, 0.0, 0.25), 440.0, 8.0);
}

// ---- dynamics -------------------------------------------------------------

TEST(SynthDynamics, LimiterHoldsItsCeilingOnLoudBursts) {
  limiter_s lim;
  limiter_init(&lim, 0.8, 0.005, 0.1);
  prng_s p;
  prng_init(&p, 9);
  double peak = 0.0;
  for (int block = 0; block < 200; ++block) {
    std::vector<double> l(512), r(512);
    const double loudness = block % 7 == 0 ? 4.0 : 0.3;
    for (int i = 0; i < 512; ++i) {
      l[size_t(i)] = loudness * prng_bipolar(&p);
      r[size_t(i)] = loudness * std::sin(i * 0.05);
    }
    limiter_process(&lim, l.data(), r.data(), 512);
    for (int i = 0; i < 512; ++i)
      peak = std::max({peak, std::fabs(l[size_t(i)]), std::fabs(r[size_t(i)])});
  }
  EXPECT_LE(peak, 0.8 + 1e-12);
  EXPECT_GT(peak, 0.7);
}

TEST(SynthDynamics, LimiterOnlyDelaysWhatStaysBelowTheCeiling) {
  limiter_s lim;
  limiter_init(&lim, 0.8, 0.005, 0.1);
  const auto in = sine(440.0, 0.5, 4096);
  std::vector<double> l = in, r = in;
  limiter_process(&lim, l.data(), r.data(), 4096);
  for (size_t i = size_t(lim.lookahead); i < in.size(); ++i)
    ASSERT_DOUBLE_EQ(l[i], in[i - size_t(lim.lookahead)]);
}

TEST(SynthDynamics, CompressorAppliesItsRatioAboveTheThreshold) {
  compressor_s c;
  compressor_init(&c, -20.0, 2.0, 0.0, 0.005, 0.05, 0.0);
  // A square at -6 dBFS: its mean square is steady, 14 dB over the threshold.
  std::vector<double> l(88200), r(88200);
  for (size_t i = 0; i < l.size(); ++i)
    l[i] = r[i] = (i / 50) % 2 ? 0.5 : -0.5;
  compressor_process(&c, l.data(), r.data(), int(l.size()));
  EXPECT_NEAR(gain_db(std::fabs(l.back())), -20.0 + 14.0 / 2.0, 0.3);
}

TEST(SynthDynamics, DuckingDipsOnTheTriggerAndRecoversExponentially) {
  duck_s d;
  duck_init(&d, 0.09);
  EXPECT_EQ(duck_next(&d), 0.0);
  duck_trigger(&d);
  std::vector<double> v(size_t(0.3 * RATE));
  for (double &x : v)
    x = duck_next(&d);
  EXPECT_GT(v[size_t(0.004 * RATE)], 0.9);
  EXPECT_NEAR(v[size_t(0.09 * RATE)], std::exp(-1.0), 0.03);
  EXPECT_LT(v.back(), 0.05);
}

// ---- loudness meter -------------------------------------------------------

double lufs_of(const std::vector<double> &left, const std::vector<double> &right, double rate = RATE) {
  loudness_s m;
  loudness_init(&m, rate);
  std::vector<float> l(left.begin(), left.end()), r(right.begin(), right.end());
  loudness_add(&m, l.data(), r.data(), l.size());
  return loudness_integrated(&m);
}

TEST(LoudnessMeter, KWeightingMatchesTheTabulatedCoefficientsAt48kHz) {
  biquad_s shelf, highpass;
  loudness_k_weighting(48000.0, &shelf, &highpass);
  EXPECT_NEAR(shelf.b0, 1.53512485958697, 1e-9);
  EXPECT_NEAR(shelf.b1, -2.69169618940638, 1e-9);
  EXPECT_NEAR(shelf.b2, 1.19839281085285, 1e-9);
  EXPECT_NEAR(shelf.a1, -1.69065929318241, 1e-9);
  EXPECT_NEAR(shelf.a2, 0.73248077421585, 1e-9);
  EXPECT_NEAR(highpass.a1, -1.99004745483398, 1e-9);
  EXPECT_NEAR(highpass.a2, 0.99007225036621, 1e-9);
}

TEST(LoudnessMeter, FullScaleSineInOneChannelReadsMinusThreeLufs) {
  const auto tone = sine(997.0, 1.0, 10 * 44100);
  const std::vector<double> silence(tone.size(), 0.0);
  EXPECT_NEAR(lufs_of(tone, silence), -3.01, 0.05);
  EXPECT_NEAR(lufs_of(tone, tone), 0.0, 0.05);
  const auto tone48 = generate(10 * 48000, [](size_t i) { return std::sin(2.0 * pi * 997.0 * double(i) / 48000.0); });
  EXPECT_NEAR(lufs_of(tone48, std::vector<double>(tone48.size(), 0.0), 48000.0), -3.01, 0.05);
}

TEST(LoudnessMeter, GatesSilenceAndPassagesTenLuBelowTheMean) {
  auto loud = sine(997.0, db_gain(-20.0 + 3.01), 10 * 44100);
  const auto quiet = sine(997.0, db_gain(-40.0 + 3.01), 10 * 44100);
  const std::vector<double> silence(10 * 44100, 0.0);
  std::vector<double> mixed = loud;
  mixed.insert(mixed.end(), quiet.begin(), quiet.end());
  mixed.insert(mixed.end(), silence.begin(), silence.end());
  const std::vector<double> mono_silence(mixed.size(), 0.0);
  EXPECT_NEAR(lufs_of(mixed, mono_silence), -20.0, 0.1);
  EXPECT_TRUE(std::isinf(lufs_of(silence, silence)));
}

TEST(LoudnessMeter, RangeSpansTheDistributionOfShortTermLoudness) {
  auto first = sine(997.0, db_gain(-20.0 + 3.01), 30 * 44100);
  const auto second = sine(997.0, db_gain(-30.0 + 3.01), 30 * 44100);
  first.insert(first.end(), second.begin(), second.end());
  const std::vector<double> silence(first.size(), 0.0);
  loudness_s m;
  loudness_init(&m, RATE);
  std::vector<float> l(first.begin(), first.end()), r(silence.begin(), silence.end());
  loudness_add(&m, l.data(), r.data(), l.size());
  EXPECT_NEAR(loudness_range(&m), 10.0, 0.3);
}

// ---- sequencing -----------------------------------------------------------

track_s empty_track() {
  track_s t{};
  t.level.fallback = 1.0;
  return t;
}

TEST(SynthSequence, MelodyNotesFallOnTheirExactBeatFrames) {
  track_s t = empty_track();
  const double beats = seq_melody(&t, 10.25, "a4:1 c#5:.5 r:.5 e5:1.25", 2, 0.8, 1.0);
  EXPECT_DOUBLE_EQ(beats, 3.25);
  ASSERT_EQ(t.notes.size(), 3u);
  // 10.25 beats = 226012.5 frames: rounded, never accumulated.
  EXPECT_EQ(t.notes[0].start, 226013);
  EXPECT_EQ(t.notes[1].start, 248063);
  EXPECT_EQ(t.notes[2].start, 270113);
  EXPECT_EQ(t.notes[2].length, 297675 - 270113);
  EXPECT_EQ(t.notes[0].pitch, 71.0);
  EXPECT_EQ(t.notes[1].pitch, 75.0);
  EXPECT_EQ(t.notes[2].pitch, 78.0);
}

TEST(SynthSequence, ChordsFoldIntoTheOctaveAboveTheirLowNote) {
  EXPECT_EQ(chord_notes({57, "m"}, 57), (std::vector<int>{57, 60, 64}));
  EXPECT_EQ(chord_notes({53, "M"}, 57), (std::vector<int>{57, 60, 65}));
  EXPECT_EQ(chord_notes({50, "m9"}, 60), (std::vector<int>{60, 62, 64, 65, 69}));
  EXPECT_EQ(bass_root({59, "m"}), 35);
  EXPECT_EQ(bass_root({57, "m"}), 33);
}

TEST(SynthSequence, StepsHoldRestAccentAndSlide) {
  track_s t = empty_track();
  seq_steps(&t, 0.0, 0.25, "0 _ . 12~ 7! .", 2, 45, 0.6, 0.5);
  ASSERT_EQ(t.notes.size(), 6u);
  EXPECT_EQ(t.notes[0].length, beat_frame(0.25 * 1.5));        // held over two steps
  EXPECT_EQ(t.notes[1].pitch, 57.0);
  EXPECT_GT(t.notes[1].start + t.notes[1].length, t.notes[2].start); // the slide overlaps
  EXPECT_EQ(t.notes[2].velocity, 1.0);
  EXPECT_GT(t.notes[2].param, 0.0);
  EXPECT_EQ(t.notes[3].start, beat_frame(1.5));
}

TEST(SynthSequence, AutomationHoldsThenRampsLinearly) {
  automation_s a{{}, 1.0};
  EXPECT_EQ(automation_at(a, 1000), 1.0);
  seq_automate(&a, 1.0, 0.0);
  seq_automate_to(&a, 3.0, 2.0, 1.0);
  EXPECT_EQ(automation_at(a, 0), 0.0);
  EXPECT_EQ(automation_at(a, beat_frame(2.5)), 0.0);
  EXPECT_NEAR(automation_at(a, beat_frame(4.0)), 0.5, 1e-9);
  EXPECT_EQ(automation_at(a, beat_frame(9.0)), 1.0);
}

// ---- mixer ----------------------------------------------------------------

song_s small_song() {
  song_s s{};
  s.frames = 3 * 44100;
  s.master_fade.fallback = 1.0;
  track_s kick = empty_track();
  kick.is_drum = true;
  kick.drum = DRUM_KICK;
  kick.gain = 0.5;
  kick.sidechain_source = true;
  seq_hits(&kick, 0.0, 0.25, "x...x..x", 3, 36, 1.0, 0.0);
  track_s bass = empty_track();
  bass.patch = sine_patch();
  bass.patch.glide = 0.02;
  bass.mono = true;
  bass.gain = 0.3;
  bass.duck_depth = 0.75;
  seq_steps(&bass, 0.125, 0.25, "0 12~ 7 . 3 _ 0~ 10", 3, 45, 0.8, 0.6);
  track_s pad = empty_track();
  pad.patch = sine_patch();
  pad.patch.unison = 3;
  pad.patch.width = 1.0;
  pad.gain = 0.2;
  pad.reverb_send = 0.3;
  pad.delay_send = 0.3;
  pad.chorus = true;
  seq_chord(&pad, 0.33, 2.0, {57, "m"}, 57, 0.7);
  seq_chord(&pad, 2.71, 2.0, {53, "M"}, 57, 0.7);
  pad.patch.filter = true;
  pad.patch.cutoff = 800.0;
  pad.patch.q = 2.0;
  seq_automate(&pad.cutoff, 0.5, -1.0);
  seq_automate(&pad.cutoff, 4.0, 2.0);
  seq_automate(&pad.level, 1.0, 1.0);
  seq_automate(&pad.level, 5.0, 0.2);
  seq_automate(&s.mix_level, 3.0, 0.0);
  seq_automate(&s.mix_level, 5.0, -6.0);
  seq_automate(&s.master_fade, 5.0, 1.0);
  seq_automate(&s.master_fade, 6.0, 0.5);
  s.tracks = {kick, bass, pad};
  for (track_s &t : s.tracks)
    seq_finish(&t);
  return s;
}

std::vector<float> render(const song_s &song, int chunk) {
  mixer_s m;
  mixer_init(&m, &song, 1.0);
  std::vector<float> out(size_t(2 * song.frames));
  std::vector<float> l(static_cast<size_t>(chunk)), r(static_cast<size_t>(chunk));
  for (std::int64_t done = 0; done < song.frames; done += chunk) {
    const int n = int(std::min<std::int64_t>(chunk, song.frames - done));
    mixer_render(&m, l.data(), r.data(), n);
    for (int i = 0; i < n; ++i) {
      out[size_t(2 * (done + i))] = l[size_t(i)];
      out[size_t(2 * (done + i) + 1)] = r[size_t(i)];
    }
  }
  return out;
}

TEST(SynthMixer, RenderIsTheSameWhateverTheChunkSize) {
  const song_s song = small_song();
  const auto a = render(song, 1024), b = render(song, 97), c = render(song, 1);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(a.data(), c.data(), a.size() * sizeof(float)), 0);
  EXPECT_GT(*std::max_element(a.begin(), a.end()), 0.1f);
}

TEST(SynthMixer, KicksDuckTheSustainedBass) {
  song_s song{};
  song.frames = 2 * 44100;
  song.master_fade.fallback = 1.0;
  track_s kick = empty_track();
  kick.is_drum = true;
  kick.drum = DRUM_KICK;
  kick.gain = 0.0; // only its triggers count
  kick.sidechain_source = true;
  seq_note(&kick, 2.0, 0.25, 36, 1.0);
  track_s bass = empty_track();
  bass.patch = sine_patch();
  bass.mono = true;
  bass.gain = 0.3;
  bass.duck_depth = 0.75;
  seq_note(&bass, 0.0, 3.9, 45, 1.0);
  song.tracks = {kick, bass};
  const auto out = render(song, 512);
  const auto rms = [&](double from_s) {
    double e = 0.0;
    for (size_t i = size_t(from_s * RATE); i < size_t((from_s + 0.01) * RATE); ++i)
      e += double(out[2 * i]) * out[2 * i];
    return std::sqrt(e / (0.01 * RATE));
  };
  const double before = rms(0.95), dipped = rms(1.005), after = rms(1.6);
  EXPECT_NEAR(gain_db(dipped / before), gain_db(0.3), 1.5);
  EXPECT_NEAR(after / before, 1.0, 0.03);
}

// ---- score ----------------------------------------------------------------

// A position of the show in frames: milliseconds x 44.1.
constexpr std::int64_t cue_frames(int cue_ms) { return std::int64_t(cue_ms) * 441 / 10; }

// The show's cues in order: where each scene that ends on the music ends, and
// where the greetings' hold ends.
const std::vector<std::int64_t> CUE_FRAMES = [] {
  std::vector<std::int64_t> cues;
  for (const show_scene &scene : SHOW_SCENES)
    if (scene.end != scene_end::after_frames)
      cues.push_back(cue_frames(scene.cue_ms));
  return cues;
}();
constexpr std::int64_t SONG_FRAMES = 18562708;

// Tracks with a note starting in [from, to).
std::set<std::string> starting(const song_s &song, std::int64_t from, std::int64_t to) {
  std::set<std::string> names;
  for (const track_s &t : song.tracks)
    for (const note_event &n : t.notes)
      if (n.start >= from && n.start < to)
        names.insert(t.name);
  return names;
}

TEST(SoundtrackScore, SectionsChangeExactlyOnTheCues) {
  song_s song;
  score_build(&song);
  EXPECT_EQ(song.frames, SONG_FRAMES);
  const std::int64_t bar = 88200;
  for (std::int64_t cue : CUE_FRAMES) {
    EXPECT_FALSE(starting(song, cue, cue + 1).empty()) << "nothing starts on the cue at " << cue;
    EXPECT_NE(starting(song, cue - bar, cue), starting(song, cue, cue + bar)) << "the cue at " << cue;
  }
}

TEST(SoundtrackScore, EveryNoteSitsInsideTheSong) {
  song_s song;
  score_build(&song);
  size_t notes = 0;
  for (const track_s &t : song.tracks) {
    EXPECT_TRUE(std::is_sorted(t.notes.begin(), t.notes.end(),
                               [](const note_event &a, const note_event &b) { return a.start < b.start; }))
        << t.name;
    for (const note_event &n : t.notes) {
      EXPECT_GE(n.start, 0) << t.name;
      EXPECT_LT(n.start + n.length, SONG_FRAMES - 3 * 44100) << t.name;
    }
    notes += t.notes.size();
  }
  EXPECT_GT(notes, 5000u);
  EXPECT_EQ(automation_at(song.master_fade, SONG_FRAMES - 44100), 0.0);
}

// ---- the embedded stream --------------------------------------------------

struct decoded_s {
  int channels = 0;
  long rate = 0;
  std::int64_t pcm_total = 0, time_total = 0;
  std::vector<std::string> comments;
  std::vector<std::int16_t> pcm; // interleaved
  bool read_error = false;
};

// Decoded once per test process, the way the player reads it.
const decoded_s &soundtrack() {
  static const decoded_s d = [] {
    decoded_s out;
    OggVorbis_File vf{};
    if (ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf) != 0)
      return out;
    const vorbis_info *info = ov_info(&vf, -1);
    out.channels = info->channels;
    out.rate = info->rate;
    out.pcm_total = ov_pcm_total(&vf, -1);
    out.time_total = ov_time_total(&vf, -1);
    const vorbis_comment *vc = ov_comment(&vf, -1);
    for (int i = 0; i < vc->comments; ++i)
      out.comments.emplace_back(vc->user_comments[i], size_t(vc->comment_lengths[i]));
    out.pcm.reserve(size_t(2 * out.pcm_total));
    char buffer[8192];
    int section = 0;
    for (;;) {
      const long got = ov_read(&vf, buffer, int(sizeof buffer), &section);
      if (got == 0)
        break;
      if (got < 0) {
        out.read_error = true;
        break;
      }
      const size_t at = out.pcm.size();
      out.pcm.resize(at + size_t(got) / 2);
      std::memcpy(&out.pcm[at], buffer, size_t(got));
    }
    ov_clear(&vf);
    return out;
  }();
  return d;
}

std::int64_t frames_of(const decoded_s &d) { return std::int64_t(d.pcm.size() / 2); }

TEST(EmbeddedSoundtrack, HasTheShowsFormatAndLength) {
  const decoded_s &d = soundtrack();
  EXPECT_EQ(d.channels, 2);
  EXPECT_EQ(d.rate, 44100);
  EXPECT_EQ(d.pcm_total, SONG_FRAMES);
  EXPECT_EQ(d.time_total, 420923);
}

TEST(EmbeddedSoundtrack, CarriesTitleAndArtistTags) {
  const auto &c = soundtrack().comments;
  const auto has = [&](const std::string &prefix, size_t min_length) {
    return std::any_of(c.begin(), c.end(),
                       [&](const std::string &s) { return s.rfind(prefix, 0) == 0 && s.size() >= min_length; });
  };
  EXPECT_TRUE(has("TITLE=Neon Drift", 16));
  EXPECT_TRUE(has("ARTIST=", 8));
}

TEST(EmbeddedSoundtrack, DecodesWholeWithoutErrorAndStaysBelowMinusOneDbfs) {
  const decoded_s &d = soundtrack();
  EXPECT_FALSE(d.read_error);
  EXPECT_EQ(frames_of(d), SONG_FRAMES);
  int peak = 0;
  for (std::int16_t s : d.pcm)
    peak = std::max(peak, std::abs(int(s)));
  EXPECT_LT(peak, 32767);
  EXPECT_LT(20.0 * std::log10(peak / 32768.0), -1.0);
  EXPECT_GT(20.0 * std::log10(peak / 32768.0), -6.0);
}

TEST(EmbeddedSoundtrack, IsCentredWithDistinctChannels) {
  const decoded_s &d = soundtrack();
  double sum[2] = {0.0, 0.0};
  std::int64_t differing = 0;
  for (size_t i = 0; i + 1 < d.pcm.size(); i += 2) {
    sum[0] += d.pcm[i];
    sum[1] += d.pcm[i + 1];
    differing += d.pcm[i] != d.pcm[i + 1];
  }
  const double frames = double(frames_of(d));
  EXPECT_LT(std::fabs(sum[0] / frames / 32768.0), 0.001);
  EXPECT_LT(std::fabs(sum[1] / frames / 32768.0), 0.001);
  EXPECT_GT(double(differing), 0.5 * frames);
}

TEST(EmbeddedSoundtrack, IntegratedLoudnessIsAboutMinusFourteenLufs) {
  const decoded_s &d = soundtrack();
  loudness_s m;
  loudness_init(&m, 44100.0);
  std::vector<float> l(65536), r(65536);
  for (size_t at = 0; at < d.pcm.size() / 2;) {
    const size_t n = std::min<size_t>(l.size(), d.pcm.size() / 2 - at);
    for (size_t i = 0; i < n; ++i) {
      l[i] = float(d.pcm[2 * (at + i)] / 32768.0);
      r[i] = float(d.pcm[2 * (at + i) + 1] / 32768.0);
    }
    loudness_add(&m, l.data(), r.data(), n);
    at += n;
  }
  EXPECT_NEAR(loudness_integrated(&m), -14.0, 1.0);
  const double range = loudness_range(&m);
  EXPECT_GE(range, 4.0);
  EXPECT_LE(range, 12.0);
}

TEST(EmbeddedSoundtrack, OutroFadesToSilenceBeforeTheEnd) {
  const decoded_s &d = soundtrack();
  const auto peak_between = [&](std::int64_t from, std::int64_t to) {
    int peak = 0;
    for (std::int64_t i = 2 * from; i < 2 * to; ++i)
      peak = std::max(peak, std::abs(int(d.pcm[size_t(i)])));
    return 20.0 * std::log10((peak + 1e-9) / 32768.0);
  };
  const std::int64_t hold_end = cue_frames(show_cue_ms("greetings"));
  EXPECT_GT(peak_between(hold_end, hold_end + 88200), -20.0);
  EXPECT_LT(peak_between(SONG_FRAMES - 88200, SONG_FRAMES), -60.0);
}

// ---- the sections, as heard and as the analyser sees them -----------------

constexpr int BINIDX[32] = {0,   1,   2,   3,   4,   5,   7,   9,   11,   13,   16,   19,   23,   31,   39,   47,
                            63,  79,  95,  127, 159, 191, 255, 319, 383, 511, 639, 767, 1023, 1279, 1535, 65536};

// The show's band summing over the two blocks of 2048 frames ending with
// block `b`: mono mix scaled by 2^-16, a 4096-point transform, power sums.
class band_analyser {
public:
  band_analyser() : in_(fftwf_alloc_real(4096)), out_(fftwf_alloc_complex(2049)) {
    plan_ = fftwf_plan_dft_r2c_1d(4096, in_, out_, FFTW_ESTIMATE);
  }
  ~band_analyser() {
    fftwf_destroy_plan(plan_);
    fftwf_free(out_);
    fftwf_free(in_);
  }
  band_analyser(const band_analyser &) = delete;
  band_analyser &operator=(const band_analyser &) = delete;

  // With `hann` the frames are windowed first, for measuring balance rather
  // than drawing bars.
  std::vector<double> bands(const decoded_s &d, std::int64_t block, bool hann) {
    for (int i = 0; i < 4096; ++i) {
      const size_t frame = size_t((block - 1) * 2048 + i);
      const float mono = float(int(d.pcm[2 * frame]) + int(d.pcm[2 * frame + 1])) * 1.52587890625e-05f;
      in_[i] = hann ? mono * float(0.5 - 0.5 * std::cos(2.0 * pi * i / 4096.0)) : mono;
    }
    fftwf_execute(plan_);
    std::vector<double> bins(32, 0.0);
    int j = 0;
    for (int k = 0; k < 2048; ++k) {
      bins[size_t(j)] += double(out_[k][0]) * out_[k][0] + double(out_[k][1]) * out_[k][1];
      if (k > BINIDX[j])
        ++j;
    }
    return bins;
  }

private:
  float *in_;
  fftwf_complex *out_;
  fftwf_plan plan_;
};

// Mean band power in dB over the blocks wholly inside [from, to) frames.
std::vector<double> balance(band_analyser &a, const decoded_s &d, std::int64_t from, std::int64_t to) {
  std::vector<double> sum(32, 0.0);
  int n = 0;
  for (std::int64_t b = from / 2048 + 2; (b + 1) * 2048 <= to; ++b, ++n) {
    const auto bins = a.bands(d, b, true);
    for (int i = 0; i < 32; ++i)
      sum[size_t(i)] += bins[size_t(i)];
  }
  for (double &s : sum)
    s = 10.0 * std::log10(s / n + 1e-12);
  return sum;
}

// Root mean square of the per-band differences, above the 20 Hz high-pass.
double spectral_distance(const std::vector<double> &a, const std::vector<double> &b) {
  double s = 0.0;
  for (size_t i = 2; i < 32; ++i)
    s += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(s / 30.0);
}

// Mean power in dB of bands [first, last].
double group_db(const std::vector<double> &bands_db, int first, int last) {
  double s = 0.0;
  for (int i = first; i <= last; ++i)
    s += std::pow(10.0, bands_db[size_t(i)] / 10.0);
  return 10.0 * std::log10(s / (last - first + 1));
}

std::int64_t seconds(double s) { return std::llround(s * 44100.0); }

TEST(SoundtrackSections, EachSectionSoundsDifferentFromItsNeighbours) {
  const decoded_s &d = soundtrack();
  band_analyser a;
  std::vector<std::int64_t> edges{0};
  edges.insert(edges.end(), CUE_FRAMES.begin(), CUE_FRAMES.end());
  edges.push_back(SONG_FRAMES - seconds(4.0)); // leave out the silence at the end
  std::vector<std::vector<double>> sections;
  for (size_t i = 0; i + 1 < edges.size(); ++i)
    sections.push_back(balance(a, d, edges[i], edges[i + 1]));
  // One loop under every scene would differ by a fraction of a decibel.
  for (size_t i = 0; i + 1 < sections.size(); ++i)
    EXPECT_GT(spectral_distance(sections[i], sections[i + 1]), 1.5) << "sections " << i << " and " << i + 1;
}

TEST(SoundtrackSections, AnalyserSectionMovesAllThirtyTwoBands) {
  const decoded_s &d = soundtrack();
  band_analyser a;
  std::vector<std::vector<int>> levels(32);
  // From the twister's cue, where the analyser starts, to the analyser's.
  const std::int64_t from = cue_frames(show_cue_ms("twister")), to = cue_frames(show_cue_ms("analyser"));
  for (std::int64_t b = from / 2048 + 2; (b + 1) * 2048 <= to; ++b) {
    const auto bins = a.bands(d, b, false);
    // The scene's bar height: the truncated natural log of 100 x the power.
    for (int i = 0; i < 32; ++i)
      levels[size_t(i)].push_back(bins[size_t(i)] > 0.0 ? int(std::log(100.0f * float(bins[size_t(i)]))) : -1);
  }
  for (int i = 0; i < 32; ++i) {
    auto v = levels[size_t(i)];
    std::sort(v.begin(), v.end());
    const int p10 = v[v.size() / 10], median = v[v.size() / 2], p90 = v[v.size() * 9 / 10];
    EXPECT_GE(median, 8) << "band " << i << " stays low";
    EXPECT_GE(p90 - p10, 2) << "band " << i << " does not move";
  }
}

TEST(SoundtrackSections, GreetingsFlightDevelopsInsteadOfLooping) {
  const decoded_s &d = soundtrack();
  band_analyser a;
  // Phrases of the flight in seconds (bars of 2 s from 198 s).
  const auto part = [&](double from, double to) { return balance(a, d, seconds(from), seconds(to)); };
  const auto groove = part(198, 230), breakdown = part(230, 262), drop = part(278, 310), bridge = part(310, 342),
             climax = part(358, 406);
  const auto high = [](const std::vector<double> &b) { return group_db(b, 24, 31); };
  // The breakdown drops the drums, the half-time bridge most of the hats.
  EXPECT_GT(high(groove) - high(breakdown), 6.0);
  EXPECT_GT(high(drop) - high(breakdown), 6.0);
  EXPECT_GT(high(drop) - high(bridge), 3.0);
  EXPECT_GT(high(climax) - high(bridge), 3.0);
  EXPECT_GT(spectral_distance(groove, drop), 1.0);
  EXPECT_GT(spectral_distance(bridge, climax), 1.5);
}

} // namespace
