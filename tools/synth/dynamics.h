// Level control: sequence-driven sidechain ducking, a gentle bus compressor
// and a look-ahead peak limiter.
//
// The ducking envelope is triggered by note starts, not by audio: the gain is
// 1 - depth x exp(-t / release), reached through a 1.5 ms attack so the dip
// itself does not click. The limiter delays the signal by its look-ahead and
// guarantees that no output sample exceeds the ceiling.
#pragma once

#include <cstdint>
#include <vector>

struct duck_s {
  double decay, decay_coef;
  double level, attack;
};

void duck_init(duck_s *d, double release_seconds);
void duck_trigger(duck_s *d);
double duck_next(duck_s *d); // 0 (no ducking) to 1 (full depth)

struct compressor_s {
  double threshold_db, ratio, knee_db, makeup_db;
  double power, power_coef;              // detector: mean square
  double reduction_db, attack_coef, release_coef;
};

void compressor_init(compressor_s *c, double threshold_db, double ratio, double knee_db, double attack_s,
                     double release_s, double makeup_db);
void compressor_process(compressor_s *c, double *l, double *r, int n);

struct limiter_s {
  int lookahead;
  double ceiling, release_coef;
  std::vector<double> delayed_l, delayed_r; // lookahead frames
  std::vector<double> window_gain;          // sliding minimum: values ...
  std::vector<std::int64_t> window_index;   // ... and their frame numbers
  int window_head, window_tail;
  double held;                              // the minimum after the release
  std::vector<double> smooth;               // box average over the look-ahead
  double smooth_sum;
  std::int64_t frame;
  double deepest;            // smallest gain applied so far
  std::int64_t reduced;      // frames with more than 1 dB of gain reduction
};

void limiter_init(limiter_s *lim, double ceiling, double lookahead_s, double release_s);
// Processes in place; the output lags the input by `lookahead` frames.
void limiter_process(limiter_s *lim, double *l, double *r, int n);
