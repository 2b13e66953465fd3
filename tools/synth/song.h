// The song as data: tracks of note events plus automation, made by the score
// and played by the mixer.
//
// Times are sample frames; the score computes them from beat positions.
// Drum tracks use `pitch` for tuning and `param` for the hit's variant
// (decay scale, open or closed); synth tracks use `param` for accents.
#pragma once

#include "envelope.h"
#include "filter.h"

#include <cstdint>
#include <string>
#include <vector>

struct note_event {
  std::int64_t start;
  std::int64_t length; // gate length in frames
  double pitch;        // MIDI note, fractional allowed
  double velocity;     // 0..1
  double param;
};

// Piecewise-linear curve over frames; before the first point and after the
// last it holds their values, with no points it is `fallback`.
struct automation_point {
  std::int64_t frame;
  double value;
};

struct automation_s {
  std::vector<automation_point> points;
  double fallback;
};

double automation_at(const automation_s &a, std::int64_t frame);
void automation_add(automation_s *a, std::int64_t frame, double value);

enum drum_kind { DRUM_KICK, DRUM_SNARE, DRUM_CLAP, DRUM_HAT, DRUM_CRASH, DRUM_TOM, DRUM_CHIP_NOISE, DRUM_SWEEP };

// One synthesizer voice's sound. Levels of zero switch a source off.
struct patch_s {
  double saw, pulse, triangle, sine, sub, chip_triangle;
  double duty, pwm_depth, pwm_rate; // pulse width 0..1, its modulation
  int unison;                       // oscillators per note, 1..7
  double detune_cents;              // spread from lowest to highest
  double width;                     // stereo spread of the unison, 0..1
  double fm_index, fm_ratio, fm_decay; // phase modulation of the sine (keys)
  double vibrato_cents, vibrato_rate, vibrato_delay;
  double glide;                     // seconds, mono tracks, legato notes only
  bool filter;
  svf_mode filter_mode;
  double cutoff, q, env_octaves, key_track, velocity_octaves;
  adsr_params amp_env, filter_env;
  double drive;                     // soft clipping after the filter, 0 = clean
  double gain;
};

struct track_s {
  std::string name;
  bool is_drum;
  drum_kind drum;
  patch_s patch;
  bool mono;             // one voice, legato notes glide
  bool sidechain_source; // its note starts duck the ducked tracks
  double gain, pan;      // linear gain, pan -1..1
  double reverb_send, delay_send;
  double duck_depth;     // 0..1
  bool chorus;
  automation_s level;    // gain multiplier
  automation_s cutoff;   // octaves added to the filter cut-off
  std::vector<note_event> notes; // sorted by start
};

struct song_s {
  std::vector<track_s> tracks;
  automation_s mix_level;   // dB, the whole mix before the bus compressor
  automation_s master_fade; // gain after the limiter
  std::int64_t frames;
};
