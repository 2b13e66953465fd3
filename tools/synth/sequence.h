// What the score writes with: notes at beat positions, melodies and step
// patterns in a small text notation, chords in close voicing, arpeggios and
// automation. Every event frame comes from its exact beat (beat_frame).
//
// Melodies: "a4:1 c#5:.5 r:.5" - note name, octave, length in beats; r rests.
// Hits: one character per step - x full, o soft, - ghost, . rest.
// Steps: one token per step - semitones above the base note, . rests, _ holds
// the previous note one more step; a trailing ! accents, ~ slides into the
// next note (the gate stays open over it).
#pragma once

#include "song.h"

#include <vector>

struct chord_s {
  int root;           // MIDI note; only its pitch class matters for voicing
  const char *quality; // m, M, m7, M7, 7, m9, M9, add9, sus2, sus4
};

// The chord's notes folded into the octave from `low` upwards, in order.
std::vector<int> chord_notes(const chord_s &c, int low);
// The root in the bass register, A1 to G#2.
int bass_root(const chord_s &c);

void seq_note(track_s *t, double beat, double beats, double pitch, double velocity, double param = 0.0);
// Returns the melody's length in beats.
double seq_melody(track_s *t, double beat, const char *notes, int transpose, double velocity, double gate = 0.92);
// Odd steps move late by `swing` steps.
void seq_hits(track_s *t, double beat, double step, const char *pattern, int repeats, double pitch, double velocity,
              double param, double swing = 0.0);
void seq_steps(track_s *t, double beat, double step, const char *tokens, int repeats, int base, double velocity,
               double gate);
void seq_chord(track_s *t, double beat, double beats, const chord_s &c, int low, double velocity);
// `order` indexes the chord notes stacked over octaves: "0123" climbs from
// the root through the next octave's root.
void seq_arp(track_s *t, double beat, double beats, const chord_s &c, int low, double step, const char *order,
             double velocity, double gate);
void seq_automate(automation_s *a, double beat, double value);
// Holds the curve's value up to `beat`, then ramps to `value` over `beats`.
void seq_automate_to(automation_s *a, double beat, double beats, double value);
// Notes in start order, as the mixer reads them.
void seq_finish(track_s *t);
