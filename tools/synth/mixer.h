// Plays a song: voices per track, track inserts and sends, the reverb and
// delay returns, sidechain ducking and the master chain, in a fixed order.
//
// Master chain: 20 Hz high-pass (which also removes DC), the side signal
// high-passed at 120 Hz so the bass stays mono, master gain with the song's
// mix level, bus compressor,
// look-ahead limiter, then the song's master fade. The limiter's delay is
// absorbed at start-up, so frame i of the output is frame i of the song.
#pragma once

#include "delay.h"
#include "drums.h"
#include "dynamics.h"
#include "filter.h"
#include "reverb.h"
#include "song.h"
#include "voice.h"

#include <cstdint>
#include <vector>

inline constexpr int MIXER_BLOCK = 256;
inline constexpr int MIXER_BUFFERS = 9; // track pair, bus pair, two send pairs, ducking
// Lossy coding overshoots the limiter by up to about a decibel on dense
// passages, so the ceiling sits lower than the peak the decoded stream may have.
inline constexpr double MIXER_CEILING_DB = -2.3;

struct mixer_track {
  const track_s *track;
  size_t next_note;
  std::vector<voice_s> voices;
  std::vector<drum_s> drums;
  std::vector<int> offsets; // per voice: where in the block it starts sounding
  int steals;               // notes that had to take over a sounding voice
  chorus_s chorus;
};

struct mixer_s {
  const song_s *song;
  std::vector<mixer_track> tracks;
  std::vector<std::int64_t> duck_triggers;
  size_t next_trigger;
  duck_s duck;
  reverb_s reverb;
  pingpong_s delay;
  biquad_s highpass[2], side_highpass;
  compressor_s compressor;
  limiter_s limiter;
  double master_gain;
  std::int64_t frame;     // next frame into the master chain
  std::int64_t out_frame; // next frame out of the limiter
  std::vector<double> buf[MIXER_BUFFERS];
  std::vector<float> out_l, out_r;  // the last rendered block ...
  int ready, available;             // ... how much of it was handed out
  std::vector<double> track_energy; // sum of squares sent to the bus, per track
};

void mixer_init(mixer_s *m, const song_s *song, double master_gain);
// Renders the next n frames of the song (any n).
void mixer_render(mixer_s *m, float *left, float *right, int n);
