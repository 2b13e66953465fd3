#include "score.h"

#include "dsp.h"
#include "instruments.h"
#include "sequence.h"

#include <algorithm>
#include <cassert>
#include <string>

const score_section score_sections[SCORE_SECTIONS] = {
    {0.0, "title"},       {10.0, "present"},  {57.0, "ellipses"}, {118.0, "into the blue"},
    {177.0, "twister"},   {266.0, "analyser"}, {308.0, "credits"}, {818.0, "outro"},
};

namespace {

// Summation order of the mix.
enum track_id {
  KICK, SNARE, CLAP, HATS, CRASH, TOM, CHIP_NOISE, SWEEP,
  BASS, ACID, CHIP_BASS, SUB,
  PAD, WARM_PAD, STAB, KEYS, ARP, CHIP_ARP, BELL,
  LEAD, CHIP_LEAD, COUNTER,
  TRACK_COUNT
};

constexpr chord_s Am{57, "m"}, Am9{57, "m9"}, Amadd9{57, "madd9"}, A{57, "M"}, A7{57, "7"};
constexpr chord_s F{53, "M"}, Fmaj7{53, "M7"}, C{48, "M"}, Cmaj7{48, "M7"}, G{55, "M"}, Gsus4{55, "sus4"};
constexpr chord_s E{52, "M"}, Em{52, "m"}, Em7{52, "m7"}, Dm7{50, "m7"}, Dm9{50, "m9"};
constexpr chord_s Bbmaj7{58, "M7"}, Gm7{55, "m7"}, Bm{59, "m"}, Bmadd9{59, "madd9"}, D{50, "M"};
constexpr chord_s Fs{54, "M"}, Fssus4{54, "sus4"};

constexpr const char *FOUR_FLOOR = "x...x...x...x...";
constexpr const char *BACKBEAT = "....x.......x...";
constexpr const char *OFFBEAT = "..x...x...x...x.";
constexpr const char *SIXTEENTHS = "xoxoxoxoxoxoxoxo";
constexpr const char *HALF_KICK = "x.........x.....";
constexpr const char *HALF_SNARE = "........x.......";

constexpr double CLOSED = 0.045, OPEN = 0.3;

// The main theme, over Am F C G, eight bars: a call of two bars, its
// answer, and a second half that climbs to the top.
constexpr const char *THEME_CALL = "e5:1.5 a5:.5 g5:1 e5:1 | f5:.75 e5:.75 c5:.5 a4:2";
constexpr const char *THEME_ANSWER = "g4:.5 c5:.5 e5:1 g5:1.5 e5:.5 | d5:1 b4:1 d5:.5 e5:1.5";
constexpr const char *THEME_CLIMB = "e5:1.5 a5:.5 b5:1 c6:1 | a5:1 g5:.5 f5:.5 e5:2 | e5:.5 g5:.5 c6:1 b5:1 g5:1 | a5:3 r:1";
// Answers in the theme's gaps, for the second drop and the climax.
constexpr const char *COUNTER_LINE =
    "r:2.5 c6:.5 b5:.5 a5:.5 | r:2 c6:.5 a5:.5 f5:1 | r:2.5 e6:.5 d6:.5 c6:.5 | r:2 b5:.5 g5:.5 d6:1 |"
    "r:2.5 e6:.5 d6:.5 c6:.5 | r:2 c6:.5 a5:.5 c6:1 | r:2.5 g6:.5 e6:.5 d6:.5 | r:1 e6:1 d6:1 b5:1";
constexpr const char *CHIP_A =
    "a4:.5 c5:.5 e5:.5 a5:.5 g5:.25 a5:.25 g5:.5 e5:1 | c5:.5 d5:.5 e5:.5 g5:.5 e5:.5 d5:.5 c5:1 |"
    "f5:.5 a5:.5 c6:.5 a5:.5 g5:.5 f5:.5 e5:.5 f5:.5 | g5:1.5 d5:.5 b4:1 d5:1";
constexpr const char *CHIP_B =
    "e5:.5 a5:.5 b5:.5 c6:.5 b5:.5 a5:.5 e5:1 | g5:.5 e5:.5 d5:.5 c5:.5 d5:1 e5:1 |"
    "c6:.75 a5:.75 f5:.5 c6:.75 a5:.75 f5:.5";
constexpr const char *ELLIPSES_LINE =
    "a4:1 c5:1 f5:2 | e5:1 d5:1 b4:2 | c5:1.5 b4:.5 a4:1 e5:1 | e5:4 |"
    "a5:1 g5:1 f5:1 c5:1 | d5:1 e5:1 g5:2 | e5:1 g5:1 c6:2 | b5:2 g#5:2";
constexpr const char *BLUE_LINE =
    "f5:2 e5:1 a5:1 | e5:2.5 d5:.5 c5:1 | c5:1 e5:1 g5:2 | b4:2 d5:1 e5:1 |"
    "a5:2 g5:1 f5:1 | e5:2 c5:1 b4:1 | a4:1 c5:1 e5:1 g5:1 | e5:4";
constexpr const char *CREDITS_LINE =
    "e5:1.5 c5:.5 a4:1 c5:1 | b4:1.5 g4:.5 e4:1 g4:1 | a4:1 c5:1 f5:1.5 e5:.5 | e5:3 r:1 |"
    "a5:1.5 g5:.5 e5:1 c5:1 | g5:1.5 e5:.5 b4:1 d5:1 | c5:1 d5:1 f5:1 a5:1 | g5:4";
constexpr const char *FLIGHT_HOOK =
    "e5:.5 a5:.5 e5:.5 c6:.5 b5:.5 a5:.5 g5:.5 e5:.5 | f5:.5 a5:.5 c6:.5 a5:.5 g5:1 e5:1";
constexpr const char *BREAKDOWN_LINE =
    "c5:2 a4:1 c5:1 | d5:2 b4:1 g4:1 | e5:1.5 d5:.5 b4:2 | a4:3 r:1 |"
    "f5:2 e5:1 c5:1 | d5:2 g5:2 | g5:1.5 f#5:.5 e5:1 b4:1 | a4:2 c5:1 e5:1";
constexpr const char *BRIDGE_LINE =
    "a4:1 d5:1 f5:1 e5:1 | d5:3 c5:1 | d5:1 f5:1 a5:1.5 g5:.5 | f5:4 |"
    "g5:1 f5:1 d5:1 a#4:1 | c5:2 d5:2 | c#5:2 e5:2 | e5:3 r:1";
constexpr const char *TWISTER_MOTIF = "a5:.75 a5:.75 g5:.5 e5:1 c5:1 | d5:.75 e5:.75 g5:.5 a5:2";
constexpr const char *ACID_A = "0! 0 12 0 . 0 10 0! 0 . 12~ 7 0 3 0 12";
constexpr const char *ACID_B = "0! . 0 12~ 15 0 . 0! 3 0 12 . 10~ 12 0 7";
constexpr const char *OFFBEAT_BASS = ". 0 . 0 . 0 . 0";

struct composer {
  song_s *song;
  track_s &operator[](track_id id) { return song->tracks[size_t(id)]; }
};

track_s drum_track(const char *name, drum_kind kind, double gain, double pan, double reverb) {
  track_s t{};
  t.name = name;
  t.is_drum = true;
  t.drum = kind;
  t.gain = gain;
  t.pan = pan;
  t.reverb_send = reverb;
  t.level.fallback = 1.0;
  return t;
}

track_s synth_track(const char *name, const patch_s &patch, double gain, double pan, double reverb, double delay,
                    double duck, bool mono = false, bool chorus = false) {
  track_s t{};
  t.name = name;
  t.patch = patch;
  t.mono = mono;
  t.gain = gain;
  t.pan = pan;
  t.reverb_send = reverb;
  t.delay_send = delay;
  t.duck_depth = duck;
  t.chorus = chorus;
  t.level.fallback = 1.0;
  return t;
}

void make_tracks(song_s *song) {
  song->tracks.resize(TRACK_COUNT);
  auto &t = song->tracks;
  t[KICK] = drum_track("kick", DRUM_KICK, 0.42, 0.0, 0.02);
  t[KICK].sidechain_source = true;
  t[SNARE] = drum_track("snare", DRUM_SNARE, 0.75, 0.05, 0.35);
  t[CLAP] = drum_track("clap", DRUM_CLAP, 1.0, -0.05, 0.3);
  t[HATS] = drum_track("hats", DRUM_HAT, 0.7, 0.25, 0.08);
  t[CRASH] = drum_track("crash", DRUM_CRASH, 0.55, -0.3, 0.2);
  t[TOM] = drum_track("toms", DRUM_TOM, 0.5, -0.15, 0.25);
  t[CHIP_NOISE] = drum_track("chip noise", DRUM_CHIP_NOISE, 0.3, 0.15, 0.1);
  t[SWEEP] = drum_track("sweeps", DRUM_SWEEP, 0.22, 0.0, 0.45);
  t[BASS] = synth_track("bass", instrument_bass(), 0.55, 0.0, 0.0, 0.0, 0.75, true);
  t[ACID] = synth_track("acid", instrument_acid(), 0.6, 0.0, 0.06, 0.12, 0.45, true);
  t[CHIP_BASS] = synth_track("chip bass", instrument_chip_bass(), 0.5, 0.0, 0.0, 0.0, 0.3, true);
  t[SUB] = synth_track("sub", instrument_sub(), 0.5, 0.0, 0.0, 0.0, 0.6, true);
  t[PAD] = synth_track("pad", instrument_pad(), 0.7, 0.0, 0.35, 0.0, 0.55, false, true);
  t[WARM_PAD] = synth_track("warm pad", instrument_warm_pad(), 0.55, 0.0, 0.55, 0.0, 0.3, false, true);
  t[STAB] = synth_track("stab", instrument_stab(), 1.8, 0.1, 0.3, 0.2, 0.3);
  t[KEYS] = synth_track("keys", instrument_keys(), 0.85, -0.1, 0.3, 0.1, 0.25, false, true);
  t[ARP] = synth_track("arp", instrument_pluck(), 1.1, 0.2, 0.2, 0.35, 0.25);
  t[CHIP_ARP] = synth_track("chip arp", instrument_chip_arp(), 0.9, -0.25, 0.1, 0.15, 0.0);
  t[BELL] = synth_track("bell", instrument_bell(), 0.7, 0.3, 0.45, 0.4, 0.0);
  t[LEAD] = synth_track("lead", instrument_lead(), 1.6, 0.0, 0.3, 0.3, 0.0, true);
  t[CHIP_LEAD] = synth_track("chip lead", instrument_chip_lead(), 0.9, -0.1, 0.15, 0.25, 0.0, true);
  t[COUNTER] = synth_track("counter", instrument_counter(), 1.25, 0.3, 0.3, 0.3, 0.0);
}

// ---- shared figures -------------------------------------------------------

void bar_chords(composer &c, track_id t, double beat, const chord_s *chords, int bars, int low, double velocity) {
  for (int b = 0; b < bars; ++b)
    seq_chord(&c[t], beat + 4.0 * b, 4.0, chords[b], low, velocity);
}

void bar_bass(composer &c, track_id t, double beat, const chord_s *chords, int bars, const char *steps, int octave,
              double velocity, double gate) {
  for (int b = 0; b < bars; ++b)
    seq_steps(&c[t], beat + 4.0 * b, 0.5, steps, 1, bass_root(chords[b]) + 12 * octave, velocity, gate);
}

void bar_arps(composer &c, track_id t, double beat, const chord_s *chords, int bars, int low, double step,
              const char *order, double velocity, double gate) {
  for (int b = 0; b < bars; ++b)
    seq_arp(&c[t], beat + 4.0 * b, 4.0, chords[b], low, step, order, velocity, gate);
}

// A roll whose velocity climbs from `from` to `to`.
void roll(composer &c, track_id t, double beat, double beats, double step, double from, double to, double param) {
  const int n = int(beats / step + 0.5);
  for (int i = 0; i < n; ++i)
    seq_note(&c[t], beat + i * step, step, 60.0, from + (to - from) * i / std::max(1, n - 1), param);
}

void sweep(composer &c, double beat, double beats, double velocity, bool up) {
  seq_note(&c[SWEEP], beat, beats, 60.0, velocity, up ? 1.0 : -1.0);
}

void crash(composer &c, double beat, double velocity) { seq_note(&c[CRASH], beat, 1.0, 60.0, velocity); }

void theme(composer &c, track_id t, double beat, int transpose, double velocity) {
  seq_melody(&c[t], beat, THEME_CALL, transpose, velocity, 0.97);
  seq_melody(&c[t], beat + 8.0, THEME_ANSWER, transpose, velocity, 0.97);
  seq_melody(&c[t], beat + 16.0, THEME_CLIMB, transpose, velocity, 0.97);
}

// The full four-to-the-floor kit of the drops.
void full_kit(composer &c, double beat, int bars) {
  seq_hits(&c[KICK], beat, 0.25, FOUR_FLOOR, bars, 36, 1.0, 0.0);
  seq_hits(&c[CLAP], beat, 0.25, BACKBEAT, bars, 60, 0.9, 0.0);
  seq_hits(&c[SNARE], beat, 0.25, BACKBEAT, bars, 60, 0.45, 0.0);
  seq_hits(&c[HATS], beat, 0.25, SIXTEENTHS, bars, 60, 0.6, CLOSED);
  seq_hits(&c[HATS], beat, 0.25, OFFBEAT, bars, 60, 0.55, OPEN);
}

// ---- the sections ---------------------------------------------------------

// Title: a swell out of silence, a rising chip sparkle and a riser into the cue.
void title(composer &c) {
  seq_chord(&c[WARM_PAD], 0.0, 9.5, Am9, 57, 0.85);
  seq_automate(&c[WARM_PAD].level, 0.0, 0.0);
  seq_automate(&c[WARM_PAD].level, 6.0, 1.0);
  seq_note(&c[SUB], 0.0, 9.5, 33, 0.6);
  seq_automate(&c[SUB].level, 0.0, 0.0);
  seq_automate(&c[SUB].level, 8.0, 1.0);
  seq_melody(&c[BELL], 0.0, "e5:1.5 a5:1.5 b5:1.5 e6:1.5 c6:1 b5:1 a5:2", 0, 0.6, 0.9);
  seq_arp(&c[CHIP_ARP], 4.0, 6.0, Amadd9, 69, 0.125, "0123456543210123", 0.6, 0.5);
  seq_automate(&c[CHIP_ARP].level, 4.0, 0.0);
  seq_automate(&c[CHIP_ARP].level, 10.0, 0.8);
  sweep(c, 6.0, 4.0, 0.7, true);
}

// Present, logo, panorama: a chip tune over a soft four-to-the-floor.
void present(composer &c) {
  const double s = 10.0;
  const chord_s prog[11] = {Am, Am, F, G, Am, Am, F, G, Am, Am, F};
  crash(c, s, 0.5);
  seq_hits(&c[KICK], s, 0.25, FOUR_FLOOR, 11, 36, 0.7, 0.0);
  seq_hits(&c[CHIP_NOISE], s, 0.25, "x-o-x-o-x-o-x-o-", 11, 112, 0.6, 0.03);
  seq_hits(&c[CHIP_NOISE], s + 16.0, 0.25, BACKBEAT, 7, 86, 0.9, 0.16);
  bar_bass(c, CHIP_BASS, s, prog, 11, "0 0 12 0 0 12 0 12", 0, 0.9, 0.7);
  bar_arps(c, CHIP_ARP, s, prog, 4, 69, 0.25, "01234321", 0.75, 0.6);
  bar_arps(c, CHIP_ARP, s + 16.0, prog + 4, 7, 57, 0.25, "01234321", 0.45, 0.5);
  seq_melody(&c[CHIP_LEAD], s + 16.0, CHIP_A, 0, 0.85);
  seq_melody(&c[CHIP_LEAD], s + 32.0, CHIP_B, 0, 0.85);
  // Three-beat turnaround on G: a run up and a noise roll.
  const double t = s + 44.0;
  seq_steps(&c[CHIP_BASS], t, 0.5, "0 12 0 12 0 12", 1, bass_root(G), 0.9, 0.7);
  seq_melody(&c[CHIP_LEAD], t, "a5:.5 c6:.5 e6:.5 g6:.5 a6:1", 0, 0.9);
  seq_hits(&c[KICK], t, 1.0, "xxx", 1, 36, 0.7, 0.0);
  roll(c, CHIP_NOISE, t + 1.0, 2.0, 0.125, 0.3, 1.0, 0.1);
}

// Ellipses: synthwave - straight bass eighths, wide pads, a delayed arpeggio,
// the lead in the second half.
void ellipses(composer &c) {
  const double s = 57.0;
  const chord_s prog[15] = {F, G, Am, Am, F, G, C, F, G, Am, Am, F, G, C, E};
  crash(c, s, 0.6);
  seq_hits(&c[KICK], s, 0.25, "x.......x.......", 15, 36, 0.95, 0.0);
  seq_hits(&c[SNARE], s + 8.0, 0.25, BACKBEAT, 13, 60, 0.85, 1.2);
  seq_hits(&c[HATS], s, 0.25, "x.x.x.x.x.x.x.x.", 7, 60, 0.55, CLOSED);
  seq_hits(&c[HATS], s + 28.0, 0.25, SIXTEENTHS, 8, 60, 0.6, CLOSED);
  seq_hits(&c[HATS], s + 28.0, 0.25, "..............x.", 8, 60, 0.5, OPEN);
  bar_bass(c, BASS, s, prog, 15, "0 0 0 0 0 0 12 0", 1, 0.85, 0.6);
  bar_chords(c, PAD, s, prog, 15, 57, 0.75);
  bar_arps(c, ARP, s, prog, 15, 69, 0.25, "01234321", 0.7, 0.5);
  seq_melody(&c[LEAD], s + 28.0, ELLIPSES_LINE, 0, 0.85, 0.97);
  // One-beat fill down the toms.
  const double t = s + 60.0;
  seq_melody(&c[TOM], t, "d3:.25 b2:.25 a2:.25 g2:.25", 0, 0.9);
}

// Into the blue: half-time and deep; sub bass, bells in the delay, an airy lead.
void into_the_blue(composer &c) {
  const double s = 118.0;
  const chord_s prog[14] = {Dm9, Am9, Fmaj7, Em7, Dm9, Am9, Fmaj7, Em7, Dm9, Am9, Fmaj7, Em7, Dm9, Am9};
  bar_chords(c, WARM_PAD, s, prog, 14, 57, 0.8);
  for (int b = 0; b < 14; ++b)
    seq_note(&c[SUB], s + 4.0 * b, 3.9, bass_root(prog[b]), 0.85);
  bar_arps(c, BELL, s, prog, 14, 72, 0.5, "0243", 0.5, 0.4);
  seq_hits(&c[KICK], s + 8.0, 0.25, HALF_KICK, 12, 36, 0.9, 0.0);
  seq_hits(&c[SNARE], s + 8.0, 0.25, HALF_SNARE, 12, 60, 0.9, 1.4);
  seq_hits(&c[HATS], s + 32.0, 0.25, "x-o-x-o-x-o-x-o-", 6, 60, 0.25, 0.03);
  seq_automate_to(&c[LEAD].cutoff, s - 0.5, 0.5, -0.9);
  seq_melody(&c[LEAD], s + 16.0, BLUE_LINE, 0, 0.75, 1.0);
  seq_melody(&c[LEAD], s + 48.0, "f5:2 e5:1 a5:1 | e5:4", 0, 0.75, 1.0);
  seq_automate_to(&c[LEAD].cutoff, s + 56.0, 3.0, 0.0);
  // Three beats on E, the dominant, into the acid.
  const double t = s + 56.0;
  seq_chord(&c[WARM_PAD], t, 3.0, E, 56, 0.8);
  seq_note(&c[SUB], t, 3.0, bass_root(E), 0.85);
  roll(c, SNARE, t, 3.0, 0.25, 0.2, 0.9, 0.5);
  sweep(c, t, 3.0, 0.8, true);
}

// Twister: acid. The filter opens over 22 bars while the kit fills in.
void twister(composer &c) {
  const double s = 177.0;
  const chord_s prog[4] = {Am, Am, G, F};
  const int shift[4] = {0, 0, -2, -4};
  seq_hits(&c[KICK], s, 0.25, FOUR_FLOOR, 22, 36, 0.95, 0.0);
  for (int b = 0; b < 22; ++b)
    seq_steps(&c[ACID], s + 4.0 * b, 0.25, b < 8 ? ACID_A : ACID_B, 1, 45 + shift[b % 4], 0.7, 0.55);
  seq_automate(&c[ACID].cutoff, s, -1.6);
  seq_automate(&c[ACID].cutoff, s + 32.0, -0.3);
  seq_automate(&c[ACID].cutoff, s + 64.0, 0.6);
  seq_automate(&c[ACID].cutoff, s + 84.0, 1.2);
  seq_automate(&c[ACID].cutoff, s + 88.0, 0.0);
  seq_hits(&c[HATS], s, 0.25, OFFBEAT, 8, 60, 0.6, 0.09);
  seq_hits(&c[HATS], s + 32.0, 0.25, "o-x-o-x-o-x-o-x-", 14, 60, 0.7, CLOSED);
  seq_hits(&c[HATS], s + 64.0, 0.25, OFFBEAT, 6, 60, 0.45, 0.25);
  seq_hits(&c[CLAP], s + 32.0, 0.25, BACKBEAT, 14, 60, 0.85, 0.0);
  for (int b = 8; b < 22; ++b)
    for (double at : {0.5, 1.5, 2.25, 3.5})
      seq_chord(&c[STAB], s + 4.0 * b + at, 0.25, prog[b % 4], 60, 0.8);
  crash(c, s + 32.0, 0.7);
  crash(c, s + 64.0, 0.8);
  for (int r = 0; r < 3; ++r)
    seq_melody(&c[LEAD], s + 64.0 + 8.0 * r, TWISTER_MOTIF, 0, 0.8, 0.95);
  // Two bars of build, then one beat of silence before the drop.
  roll(c, SNARE, s + 80.0, 4.0, 0.5, 0.4, 0.7, 0.0);
  roll(c, SNARE, s + 84.0, 4.0, 0.25, 0.6, 1.0, 0.0);
  sweep(c, s + 80.0, 8.0, 0.9, true);
}

// The drop over the analyser: every band busy, on-beat transients.
void drop(composer &c, double s, int bars, int transpose, bool counter) {
  const chord_s base[4] = {Am, F, C, G};
  const chord_s up[4] = {Bm, G, D, A};
  const chord_s *cycle = transpose == 0 ? base : up;
  chord_s prog[32];
  assert(bars <= 32);
  for (int b = 0; b < bars; ++b)
    prog[b] = cycle[b % 4];
  full_kit(c, s, bars);
  bar_bass(c, BASS, s, prog, bars, OFFBEAT_BASS, 1, 0.9, 0.7);
  bar_chords(c, PAD, s, prog, bars, 57 + transpose, 0.8);
  bar_arps(c, ARP, s, prog, bars, 72 + transpose, 0.25, "01234321", 0.75, 0.5);
  for (int b = 0; b + 8 <= bars; b += 8) {
    theme(c, LEAD, s + 4.0 * b, transpose, 0.9);
    if (counter)
      seq_melody(&c[COUNTER], s + 4.0 * b, COUNTER_LINE, transpose, 0.8);
  }
  for (int b = 0; b < bars; b += 8)
    crash(c, s + 4.0 * b, 0.85);
  for (int b = 3; b < bars; b += 4)
    sweep(c, s + 4.0 * b + 2.0, 2.0, 0.6, true);
}

void analyser(composer &c) {
  const double s = 266.0;
  drop(c, s, 10, 0, false);
  const chord_s sparkle[10] = {Am, F, C, G, Am, F, C, G, Am, F};
  bar_arps(c, CHIP_ARP, s, sparkle, 10, 84, 0.25, "0123", 0.4, 0.5);
  seq_melody(&c[LEAD], s + 32.0, THEME_CALL, 0, 0.9, 0.97);
  // Its own colour: the chip lead an octave over the theme's climb.
  seq_melody(&c[CHIP_LEAD], s + 16.0, THEME_CLIMB, 12, 0.7, 0.97);
  // Two beats: a roll and a falling sweep into the calm of the credits.
  const double t = s + 40.0;
  seq_hits(&c[KICK], t, 1.0, "x", 1, 36, 1.0, 0.0);
  roll(c, SNARE, t, 2.0, 0.25, 0.5, 1.0, 0.0);
  sweep(c, t, 8.0, 0.8, false);
}

// Credits: electric piano over a lazy swung beat, the counter-melody voice on top.
void credits(composer &c, double s) {
  const chord_s cycle[4] = {Fmaj7, Em7, Dm7, Cmaj7};
  chord_s prog[20];
  for (int b = 0; b < 20; ++b)
    prog[b] = cycle[b % 4];
  for (int b = 0; b < 20; ++b) {
    seq_chord(&c[KEYS], s + 4.0 * b, 1.4, prog[b], 57, 0.75);
    seq_chord(&c[KEYS], s + 4.0 * b + 1.5, 2.4, prog[b], 57, 0.6);
  }
  bar_chords(c, WARM_PAD, s, prog, 20, 60, 0.45);
  seq_hits(&c[KICK], s + 16.0, 0.25, "x......x..x.....", 16, 36, 0.8, 0.0);
  seq_hits(&c[SNARE], s + 16.0, 0.25, BACKBEAT, 16, 60, 0.55, 0.5);
  seq_hits(&c[HATS], s + 16.0, 0.25, "x-o-x-o-x-o-x-o-", 16, 60, 0.4, 0.035, 0.33);
  seq_automate_to(&c[BASS].cutoff, s, 1.0, -0.6);
  bar_bass(c, BASS, s + 16.0, prog + 4, 16, "0 . . 0 . 7 . 12", 1, 0.7, 0.8);
  seq_automate_to(&c[BASS].cutoff, s + 80.0, 8.0, 0.0);
  seq_melody(&c[COUNTER], s + 48.0, CREDITS_LINE, 0, 0.75, 0.95);
  // Two bars on G into the flight.
  const double t = s + 80.0;
  const chord_s turn[2] = {Gsus4, G};
  bar_chords(c, PAD, t, turn, 2, 57, 0.7);
  bar_bass(c, BASS, t, turn, 2, "0 0 0 0 0 0 0 0", 1, 0.8, 0.6);
  seq_hits(&c[KICK], t, 0.25, FOUR_FLOOR, 2, 36, 0.9, 0.0);
  roll(c, SNARE, t, 4.0, 0.5, 0.3, 0.6, 0.0);
  roll(c, SNARE, t + 4.0, 4.0, 0.25, 0.5, 1.0, 0.0);
  sweep(c, t, 8.0, 0.8, true);
}

// Greetings flight, 105 and a half bars: groove, breakdown, build, second drop with the
// counter-melody, half-time bridge, build, climax a whole step up.
void flight(composer &c, double s) {
  const chord_s cycle[4] = {Am, F, C, G};
  chord_s prog[16];
  for (int b = 0; b < 16; ++b)
    prog[b] = cycle[b % 4];

  // Groove, 16 bars: the kit fills in, pads and the chip hook in the second half.
  seq_hits(&c[KICK], s, 0.25, FOUR_FLOOR, 16, 36, 0.95, 0.0);
  seq_hits(&c[HATS], s, 0.25, OFFBEAT, 8, 60, 0.55, 0.1);
  seq_hits(&c[HATS], s + 32.0, 0.25, SIXTEENTHS, 8, 60, 0.55, CLOSED);
  seq_hits(&c[CLAP], s + 16.0, 0.25, BACKBEAT, 12, 60, 0.85, 0.0);
  bar_bass(c, BASS, s, prog, 16, OFFBEAT_BASS, 1, 0.9, 0.7);
  bar_arps(c, ARP, s, prog, 16, 69, 0.25, "02132431", 0.7, 0.5);
  bar_chords(c, PAD, s + 32.0, prog, 8, 57, 0.7);
  for (int r = 0; r < 4; ++r)
    seq_melody(&c[CHIP_LEAD], s + 32.0 + 8.0 * r, FLIGHT_HOOK, 0, 0.8);
  crash(c, s, 0.7);
  crash(c, s + 32.0, 0.7);

  // Breakdown, 16 bars, no drums.
  const double b0 = s + 64.0;
  const chord_s bd_cycle[4] = {F, G, Em, Am};
  chord_s bd[16];
  for (int b = 0; b < 16; ++b)
    bd[b] = bd_cycle[b % 4];
  bar_chords(c, WARM_PAD, b0, bd, 16, 57, 0.85);
  for (int b = 0; b < 16; ++b)
    seq_note(&c[SUB], b0 + 4.0 * b, 3.9, bass_root(bd[b]), 0.7);
  seq_automate_to(&c[LEAD].cutoff, b0 - 0.5, 0.5, -0.6);
  seq_melody(&c[LEAD], b0, BREAKDOWN_LINE, 0, 0.7, 1.0);
  seq_melody(&c[LEAD], b0 + 32.0, BREAKDOWN_LINE, 0, 0.8, 1.0);
  seq_melody(&c[COUNTER], b0 + 32.0, BREAKDOWN_LINE, 12, 0.5);
  seq_automate_to(&c[LEAD].cutoff, b0 + 64.0, 2.0, 0.0);
  for (int b = 0; b < 8; ++b)
    seq_note(&c[BELL], b0 + 4.0 * b, 2.0, chord_notes(bd[b], 76)[0], 0.55);
  bar_arps(c, KEYS, b0 + 32.0, bd + 8, 8, 60, 0.5, "0123", 0.5, 0.6);
  bar_arps(c, ARP, b0 + 32.0, bd + 8, 8, 69, 0.25, "01234321", 0.6, 0.5);

  // Build, 8 bars: the roll speeds up, the arpeggio's filter opens.
  const double u0 = b0 + 64.0;
  seq_automate_to(&c[ARP].cutoff, b0 + 31.5, 0.5, -2.5);
  seq_automate_to(&c[ARP].cutoff, b0 + 32.0, 63.5, 0.5);
  seq_automate_to(&c[ARP].cutoff, u0 + 31.5, 0.5, 0.0);
  bar_chords(c, PAD, u0, prog, 8, 57, 0.7);
  bar_arps(c, ARP, u0, prog, 8, 69, 0.25, "01234321", 0.7, 0.5);
  bar_bass(c, BASS, u0 + 16.0, prog + 4, 4, "0 0 0 0 0 0 0 0", 1, 0.8, 0.5);
  roll(c, SNARE, u0, 8.0, 1.0, 0.3, 0.45, 0.0);
  roll(c, SNARE, u0 + 8.0, 8.0, 0.5, 0.45, 0.6, 0.0);
  roll(c, SNARE, u0 + 16.0, 8.0, 0.25, 0.6, 0.8, 0.0);
  roll(c, SNARE, u0 + 24.0, 7.5, 0.125, 0.8, 1.0, 0.0);
  seq_hits(&c[KICK], u0 + 16.0, 1.0, "xxxxxxxxxxxxxxx", 1, 36, 0.9, 0.0);
  sweep(c, u0 + 16.0, 15.5, 0.9, true);

  // Second drop, 16 bars, with the counter-melody.
  const double d0 = u0 + 32.0;
  drop(c, d0, 16, 0, true);
  const chord_s sparkle[8] = {Am, F, C, G, Am, F, C, G};
  bar_arps(c, CHIP_ARP, d0 + 32.0, sparkle, 8, 84, 0.25, "0123", 0.4, 0.5);

  // Half-time bridge, 16 bars, on a new progression.
  const double h0 = d0 + 64.0;
  const chord_s br_cycle[8] = {Dm7, Dm7, Bbmaj7, Bbmaj7, Gm7, Gm7, A7, A7};
  chord_s br[16];
  for (int b = 0; b < 16; ++b)
    br[b] = br_cycle[b % 8];
  seq_hits(&c[KICK], h0, 0.25, HALF_KICK, 16, 36, 0.9, 0.0);
  seq_hits(&c[SNARE], h0, 0.25, HALF_SNARE, 16, 60, 0.9, 1.3);
  seq_hits(&c[HATS], h0, 0.5, "oxoxoxox", 16, 60, 0.45, 0.05, 0.33);
  for (int b = 0; b < 16; b += 2) {
    seq_chord(&c[KEYS], h0 + 4.0 * b, 3.0, br[b], 57, 0.75);
    seq_chord(&c[KEYS], h0 + 4.0 * b + 3.5, 4.0, br[b], 57, 0.65);
    seq_note(&c[SUB], h0 + 4.0 * b, 7.8, bass_root(br[b]), 0.85);
  }
  bar_chords(c, WARM_PAD, h0 + 32.0, br + 8, 8, 60, 0.6);
  seq_melody(&c[LEAD], h0, BRIDGE_LINE, 0, 0.8, 1.0);
  seq_melody(&c[LEAD], h0 + 32.0, BRIDGE_LINE, 0, 0.85, 1.0);
  seq_melody(&c[COUNTER], h0 + 32.0, "a5:8 a5:8 a#5:8 a5:8", 0, 0.55);
  const char *bells[4] = {"d6:2 a5:2 f5:4", "d6:2 a#5:2 f5:4", "d6:2 a#5:2 g5:4", "c#6:2 a5:2 e5:4"};
  for (int i = 0; i < 4; ++i)
    seq_melody(&c[BELL], h0 + 8.0 * i, bells[i], 0, 0.45);

  // Build, 8 bars, to the dominant of B minor.
  const double v0 = h0 + 64.0;
  const chord_s climb[8] = {G, G, A, A, Fssus4, Fssus4, Fs, Fs};
  bar_chords(c, PAD, v0, climb, 8, 57, 0.75);
  bar_arps(c, ARP, v0, climb, 8, 69, 0.25, "01234321", 0.7, 0.5);
  bar_bass(c, BASS, v0, climb, 8, "0 0 0 0 0 0 0 0", 1, 0.8, 0.5);
  seq_automate_to(&c[ARP].cutoff, v0 - 0.5, 0.5, -1.5);
  seq_automate_to(&c[ARP].cutoff, v0, 31.5, 0.5);
  seq_automate_to(&c[ARP].cutoff, v0 + 31.5, 0.5, 0.0);
  seq_hits(&c[KICK], v0, 1.0, "xxxx", 7, 36, 0.9, 0.0);
  seq_hits(&c[KICK], v0 + 28.0, 0.5, "xxxxxxx", 1, 36, 0.9, 0.0);
  roll(c, SNARE, v0, 16.0, 0.5, 0.3, 0.6, 0.0);
  roll(c, SNARE, v0 + 16.0, 8.0, 0.25, 0.6, 0.85, 0.0);
  roll(c, SNARE, v0 + 24.0, 7.5, 0.125, 0.85, 1.0, 0.0);
  sweep(c, v0 + 16.0, 15.5, 0.9, true);

  // Climax, 24 bars, a whole step up; the chip lead doubles the theme, the
  // chip arpeggio joins for the last eight.
  const double k0 = v0 + 32.0;
  drop(c, k0, 24, 2, true);
  theme(c, CHIP_LEAD, k0 + 32.0, 14, 0.7);
  const chord_s up[8] = {Bm, G, D, A, Bm, G, D, A};
  bar_arps(c, CHIP_ARP, k0 + 64.0, up, 8, 86, 0.25, "0123", 0.4, 0.5);

  // Six beats of fill on A, the last chord before home.
  const double f0 = k0 + 96.0;
  seq_chord(&c[PAD], f0, 6.0, A, 57, 0.8);
  seq_note(&c[SUB], f0, 6.0, bass_root(A), 0.9);
  seq_hits(&c[KICK], f0, 0.5, "x.x.x.x.xxxx", 1, 36, 0.95, 0.0);
  seq_melody(&c[TOM], f0, "a3:.5 g3:.5 e3:.5 d3:.5 c3:.25 a2:.25 g2:.25 e2:.25", 0, 0.9);
  roll(c, SNARE, f0 + 2.0, 4.0, 0.125, 0.4, 1.0, 0.0);
  sweep(c, f0, 6.0, 0.9, true);
}

// Outro: one last chord on B minor, left to ring and fade to silence.
void outro(composer &c) {
  const double s = 818.0;
  seq_note(&c[KICK], s, 1.0, 36, 1.0, 2.5);
  seq_note(&c[CRASH], s, 1.0, 60, 0.9, 1.3);
  seq_chord(&c[PAD], s, 5.0, Bmadd9, 57, 0.8);
  seq_chord(&c[WARM_PAD], s, 7.0, Bmadd9, 62, 0.7);
  seq_note(&c[SUB], s, 5.0, bass_root(Bm), 0.9);
  seq_chord(&c[KEYS], s, 4.0, Bm, 59, 0.7);
  seq_melody(&c[BELL], s, "b5:1.5 f#5:1.5 d5:1.5 b4:3", 0, 0.6);
  seq_automate(&c.song->master_fade, s + 3.0, 1.0);
  seq_automate(&c.song->master_fade, s + 16.0, 0.0);
}

// The fader ride over the whole mix: the energy curve of the show, rising
// through the middle scenes to the analyser, breathing in the flight.
void mix_levels(song_s *song) {
  struct { double beat, db; } ride[] = {
      {0.0, -6.0},    {9.9, -6.0},    {10.0, -4.0},   {56.9, -4.0},  {57.0, -2.5},  {117.9, -2.5},
      {118.0, -3.5},  {176.9, -3.5},  {177.0, -1.5},  {241.0, -1.5}, {265.0, 0.0},  {307.9, 0.0},
      {308.0, -3.0},  {396.0, -1.5},  {460.0, -1.5},  {461.0, -4.0}, {524.0, -4.0}, {556.0, 0.0},
      {619.9, 0.0},   {620.0, -2.5},  {684.0, -2.5},  {716.0, 0.5},  {818.0, 0.5},
  };
  for (const auto &p : ride)
    seq_automate(&song->mix_level, p.beat, p.db);
}

} // namespace

void score_build(song_s *song) {
  *song = song_s{};
  song->frames = SCORE_FRAMES;
  song->master_fade.fallback = 1.0;
  song->mix_level.fallback = 0.0;
  make_tracks(song);
  composer c{song};
  title(c);
  present(c);
  ellipses(c);
  into_the_blue(c);
  twister(c);
  analyser(c);
  credits(c, 308.0);
  flight(c, 396.0);
  outro(c);
  mix_levels(song);
  for (track_s &t : song->tracks)
    seq_finish(&t);
}
