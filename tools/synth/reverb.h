// Stereo reverb on a send: eight parallel damped combs and four series
// all-passes per channel, the right channel's lines slightly longer, after a
// short pre-delay and a high-pass that keeps the low end out of the tail.
#pragma once

#include "filter.h"

#include <vector>

inline constexpr int REVERB_COMBS = 8;
inline constexpr int REVERB_ALLPASSES = 4;

struct reverb_line {
  std::vector<double> buffer;
  int pos;
  double store; // the comb's damping low-pass
};

struct reverb_s {
  reverb_line comb[2][REVERB_COMBS];
  reverb_line allpass[2][REVERB_ALLPASSES];
  std::vector<double> predelay;
  int predelay_pos;
  onepole_s input_highpass;
  double feedback, damp, width;
};

// room 0..1 sets the tail length, damp 0..1 the darkening of the tail.
void reverb_init(reverb_s *r, double room, double damp, double width, double predelay_ms);
// Replaces l/r with the wet signal of their sum.
void reverb_process(reverb_s *r, double *l, double *r_, int n);
