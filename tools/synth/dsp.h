// Shared constants and tiny helpers of the synthesizer.
//
// Everything runs at 44100 Hz in double precision. The show's clock is the
// beat: 120 BPM, 22050 frames a beat, so event frames come from exact beat
// positions and never from summed float steps.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

inline constexpr int SYNTH_RATE = 44100;
inline constexpr double SYNTH_PI = std::numbers::pi;
inline constexpr double SYNTH_FRAMES_PER_BEAT = 22050.0;

// The frame a beat position falls on.
inline std::int64_t beat_frame(double beat) { return std::llround(beat * SYNTH_FRAMES_PER_BEAT); }

// State below this is denormal territory; filters and delay lines set it to
// zero so that decaying tails never slow the render down.
inline double flush_denormal(double x) { return std::fabs(x) < 1e-20 ? 0.0 : x; }

inline double midi_hz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }
inline double db_gain(double db) { return std::pow(10.0, db / 20.0); }
inline double gain_db(double gain) { return 20.0 * std::log10(gain); }

// Per-sample factor of an exponential decay that falls 60 dB in `seconds`:
// decay and release times throughout are T60 times.
inline double t60_coef(double seconds) {
  return std::exp(-6.907755278982137 / ((seconds > 1e-3 ? seconds : 1e-3) * SYNTH_RATE));
}

// Coefficient of a one-pole smoother that covers 1 - 1/e of a step in `seconds`.
inline double time_coef(double seconds) {
  return seconds <= 0.0 ? 0.0 : std::exp(-1.0 / (seconds * SYNTH_RATE));
}
