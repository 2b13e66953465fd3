#include "loudness.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double lufs(double mean_square) {
  return mean_square > 0.0 ? -0.691 + 10.0 * std::log10(mean_square) : -std::numeric_limits<double>::infinity();
}

// Mean squares of windows of `span` 100 ms blocks, one per block from the
// first complete window on.
std::vector<double> windows(const std::vector<double> &blocks, size_t span) {
  std::vector<double> out;
  for (size_t end = span; end <= blocks.size(); ++end) {
    double sum = 0.0;
    for (size_t i = end - span; i < end; ++i)
      sum += blocks[i];
    out.push_back(sum / double(span));
  }
  return out;
}

constexpr double ABSOLUTE_GATE = -70.0; // LUFS

// The mean of the mean squares louder than `gate` LUFS, and how many there are.
struct gated_mean_s {
  double mean;
  size_t count;
};

gated_mean_s mean_above(const std::vector<double> &mean_squares, double gate) {
  double sum = 0.0;
  size_t count = 0;
  for (double ms : mean_squares)
    if (lufs(ms) > gate) {
      sum += ms;
      ++count;
    }
  return {count > 0 ? sum / double(count) : 0.0, count};
}

// Integrated loudness of a run of 100 ms blocks: 400 ms gating blocks, the
// absolute gate, then the relative gate (which never lies below the absolute
// one, so a block above it has passed both).
double gated(const std::vector<double> &blocks) {
  const std::vector<double> gating = windows(blocks, 4);
  const gated_mean_s absolute = mean_above(gating, ABSOLUTE_GATE);
  if (absolute.count == 0)
    return -std::numeric_limits<double>::infinity();
  const double relative = lufs(absolute.mean) - 10.0;
  return lufs(mean_above(gating, std::max(ABSOLUTE_GATE, relative)).mean);
}

} // namespace

void loudness_k_weighting(double rate, biquad_s *shelf, biquad_s *highpass) {
  // Analogue prototype of the pre-filter: a shelf of +4 dB above 1.7 kHz.
  const double f0 = 1681.974450955533, gain_db = 3.999843853973347, q = 0.7071752369554196;
  const double k = std::tan(SYNTH_PI * f0 / rate);
  const double vh = std::pow(10.0, gain_db / 20.0);
  const double vb = std::pow(vh, 0.4996667741545416);
  const double a0 = 1.0 + k / q + k * k;
  biquad_init(shelf, (vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
              2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0);
  // The RLB high-pass near 38 Hz; its numerator stays 1, -2, 1.
  const double hf = 38.13547087602444, hq = 0.5003270373238773;
  const double hk = std::tan(SYNTH_PI * hf / rate);
  const double h0 = 1.0 + hk / hq + hk * hk;
  biquad_init(highpass, 1.0, -2.0, 1.0, 2.0 * (hk * hk - 1.0) / h0, (1.0 - hk / hq + hk * hk) / h0);
}

void loudness_init(loudness_s *m, double rate) {
  for (int c = 0; c < 2; ++c)
    loudness_k_weighting(rate, &m->shelf[c], &m->highpass[c]);
  m->block_frames = int(std::lround(rate / 10.0));
  m->in_block = 0;
  m->block_sum = 0.0;
  m->blocks.clear();
}

void loudness_add(loudness_s *m, const float *left, const float *right, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    const double l = biquad_process(&m->highpass[0], biquad_process(&m->shelf[0], left[i]));
    const double r = biquad_process(&m->highpass[1], biquad_process(&m->shelf[1], right[i]));
    m->block_sum += l * l + r * r;
    if (++m->in_block == m->block_frames) {
      m->blocks.push_back(m->block_sum / m->block_frames);
      m->block_sum = 0.0;
      m->in_block = 0;
    }
  }
}

double loudness_integrated(const loudness_s *m) { return gated(m->blocks); }

double loudness_integrated_between(const loudness_s *m, long long from, long long to) {
  const long long first = (from + m->block_frames - 1) / m->block_frames;
  const long long last = std::min<long long>(to / m->block_frames, static_cast<long long>(m->blocks.size()));
  if (last <= first)
    return -std::numeric_limits<double>::infinity();
  return gated(std::vector<double>(m->blocks.begin() + first, m->blocks.begin() + last));
}

std::vector<double> loudness_short_term(const loudness_s *m) {
  std::vector<double> out;
  for (double ms : windows(m->blocks, 30))
    out.push_back(lufs(ms));
  return out;
}

double loudness_range(const loudness_s *m) {
  const std::vector<double> short_term = windows(m->blocks, 30);
  const gated_mean_s absolute = mean_above(short_term, ABSOLUTE_GATE);
  if (absolute.count == 0)
    return 0.0;
  const double gate = std::max(ABSOLUTE_GATE, lufs(absolute.mean) - 20.0);
  std::vector<double> kept;
  for (double ms : short_term)
    if (lufs(ms) > gate)
      kept.push_back(lufs(ms));
  std::sort(kept.begin(), kept.end());
  const auto at = [&](double p) { return kept[size_t(std::lround(p * double(kept.size() - 1)))]; };
  return at(0.95) - at(0.10);
}
