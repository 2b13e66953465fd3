// Loudness after ITU-R BS.1770: K-weighting (a high shelf and a high-pass),
// mean square per 100 ms, 400 ms gating blocks with 75 % overlap, the
// absolute gate at -70 LUFS and the relative gate 10 LU below the mean.
// Loudness range follows EBU Tech 3342 on 3 s short-term values.
//
// Streaming: feed any number of stereo frames, ask for results at the end.
#pragma once

#include "filter.h"

#include <cstddef>
#include <vector>

struct loudness_s {
  biquad_s shelf[2], highpass[2];
  int block_frames; // 100 ms
  int in_block;
  double block_sum;
  std::vector<double> blocks; // mean square of each 100 ms, channels summed
};

void loudness_init(loudness_s *m, double rate);
void loudness_add(loudness_s *m, const float *left, const float *right, std::size_t frames);
double loudness_integrated(const loudness_s *m); // LUFS; -inf when all is gated
// The same over the 100 ms blocks that lie wholly in [from, to) frames.
double loudness_integrated_between(const loudness_s *m, long long from, long long to);
double loudness_range(const loudness_s *m);      // LU
// Short-term loudness (3 s window) every 100 ms, one value per block.
std::vector<double> loudness_short_term(const loudness_s *m);

// The K-weighting stages designed for a rate; the standard tabulates them for
// 48 kHz, other rates need the analogue prototype's bilinear transform.
void loudness_k_weighting(double rate, biquad_s *shelf, biquad_s *highpass);
