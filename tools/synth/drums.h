// Synthesized drums, one hit per drum_s, rendered mono.
//
// kick:   sine with a fast pitch drop plus a short click
// snare:  two-partial body plus band-passed noise
// clap:   four noise bursts 10 ms apart plus a tail
// hat:    six detuned band-limited squares and noise, high-passed; the event's
//         param is the decay in seconds (closed about 0.05, open about 0.35)
// crash:  a long, brighter hat
// tom:    pitched sine drop at the event's pitch
// chip noise: the chip shift register, clocked from the event's pitch; a
//         negative param chooses the short mode, its size is the decay
// sweep:  noise through a band-pass swept over the event's length, up for
//         param >= 0, down otherwise
#pragma once

#include "filter.h"
#include "oscillator.h"
#include "prng.h"
#include "song.h"

#include <cstdint>

inline constexpr int DRUM_METAL_PARTIALS = 6;

struct drum_s {
  drum_kind kind;
  note_event note;
  std::int64_t age;
  double amp, amp_coef;   // main decay
  double tail, tail_coef; // second decay (noise of the snare, clap tail)
  double pitch_env, pitch_coef;
  double phase, phase2;
  osc_s metal[DRUM_METAL_PARTIALS];
  prng_s noise;
  lfsr_s lfsr;
  svf_s band, high;
  bool active;
};

void drum_start(drum_s *d, drum_kind kind, const note_event &note, std::uint64_t seed);
// Adds n frames of the hit into out.
void drum_render(drum_s *d, double *out, int n);
