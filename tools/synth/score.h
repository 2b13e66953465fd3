// The soundtrack of the show, composed as code: 120 BPM, A minor, one
// section per scene, each changing exactly on the scene's cue.
//
// Sections (beats): title 0, present/logo/panorama 10, ellipses 57, into the
// blue 118, twister 177, analyser 266, credits and greetings flight 308,
// outro 818; the song ends at frame 18562708 (beat 841.85).
#pragma once

#include "song.h"

#include <cstdint>

inline constexpr std::int64_t SCORE_FRAMES = 18562708;

struct score_section {
  double beat; // where the section starts
  const char *name;
};

inline constexpr int SCORE_SECTIONS = 8;
extern const score_section score_sections[SCORE_SECTIONS];

void score_build(song_s *song);
