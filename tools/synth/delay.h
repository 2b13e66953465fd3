// Time-based effects: a ping-pong delay on a send and a stereo chorus insert.
//
// The ping-pong delay feeds the mono sum into the left line; each line's
// output feeds the other line, through a low-pass and a high-pass, so the
// repeats bounce left and right and darken as they fade. The chorus mixes two
// delay lines swept by slow sines in quadrature, one per side.
#pragma once

#include "filter.h"

#include <vector>

struct pingpong_s {
  std::vector<double> line[2];
  int pos;
  double feedback;
  onepole_s lowpass[2], highpass[2];
};

void pingpong_init(pingpong_s *d, int delay_frames, double feedback);
// Replaces l/r with the wet signal.
void pingpong_process(pingpong_s *d, double *l, double *r, int n);

struct chorus_s {
  std::vector<double> line[2];
  int pos;
  double phase, rate, depth_frames, centre_frames, mix;
};

void chorus_init(chorus_s *c, double rate_hz, double centre_ms, double depth_ms, double mix);
// Processes l/r in place (dry plus wet).
void chorus_process(chorus_s *c, double *l, double *r, int n);
