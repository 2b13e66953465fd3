// One note of a synthesizer track: unison oscillators, a sub oscillator and
// phase modulation, through a state-variable filter with its own
// envelope, into a stereo pair.
//
// Pitch, cut-off and modulation are updated every VOICE_CONTROL_FRAMES
// samples; oscillators and envelopes run per sample. The caller owns the
// patch for as long as the voice plays.
#pragma once

#include "envelope.h"
#include "filter.h"
#include "oscillator.h"
#include "prng.h"
#include "song.h"

#include <cstdint>

inline constexpr int VOICE_MAX_UNISON = 7;
inline constexpr int VOICE_CONTROL_FRAMES = 32;

struct voice_s {
  const patch_s *patch;
  osc_s osc[VOICE_MAX_UNISON];
  double detune[VOICE_MAX_UNISON]; // frequency ratios
  double gain_l[VOICE_MAX_UNISON], gain_r[VOICE_MAX_UNISON];
  osc_s sub, modulator;
  prng_s random; // the unison's start phases
  adsr_s amp, filt;
  svf_s filter_l, filter_r;
  double note, target_note, glide_coef;
  double velocity, accent;
  std::int64_t age;       // frames since the note started
  std::int64_t gate_left; // frames until the gate closes, < 0 once closed
  int control_left;       // frames until the next control update
  double inc;             // phase increment of the unison centre
  double duty;
  double fm_env;          // phase modulation index, decaying
  bool active;
};

void voice_start(voice_s *v, const patch_s *patch, const note_event &note, std::uint64_t seed);
// A new note on a voice that still sounds: legato glides without
// retriggering, otherwise the envelopes restart from their current level.
void voice_legato(voice_s *v, const note_event &note, bool legato);
// Adds n frames to left/right; cutoff_octaves comes from the track's automation.
void voice_render(voice_s *v, double cutoff_octaves, double *left, double *right, int n);
bool voice_gate_open(const voice_s *v);
