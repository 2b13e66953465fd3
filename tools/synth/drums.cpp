#include "drums.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double SILENT = 1e-5;

// Inharmonic ratios of the metal partials, spread so no two beat slowly.
constexpr double METAL_HZ[DRUM_METAL_PARTIALS] = {311.0, 467.5, 574.3, 701.9, 893.1, 1217.7};


double kick(drum_s *d) {
  // 210 Hz falling to 48 Hz over about 30 ms.
  const double hz = 48.0 + 162.0 * d->pitch_env;
  d->pitch_env *= d->pitch_coef;
  d->phase += hz / SYNTH_RATE;
  if (d->phase >= 1.0)
    d->phase -= 1.0;
  const double body = std::sin(2.0 * SYNTH_PI * d->phase) * d->amp;
  d->amp *= d->amp_coef;
  const double click = svf_process(&d->band, prng_bipolar(&d->noise)) * d->tail;
  d->tail *= d->tail_coef;
  // A touch of saturation gives the body harmonics that small speakers show.
  return std::tanh(1.6 * (body + 0.5 * click)) / std::tanh(1.6);
}

double snare(drum_s *d) {
  const double drop = 1.0 + 0.25 * d->pitch_env;
  d->pitch_env *= d->pitch_coef;
  d->phase += 195.0 * drop / SYNTH_RATE;
  d->phase2 += 337.0 * drop / SYNTH_RATE;
  d->phase -= std::floor(d->phase);
  d->phase2 -= std::floor(d->phase2);
  const double body = (std::sin(2.0 * SYNTH_PI * d->phase) + 0.45 * std::sin(2.0 * SYNTH_PI * d->phase2)) * d->amp;
  d->amp *= d->amp_coef;
  const double noise = svf_process(&d->high, svf_process(&d->band, prng_bipolar(&d->noise))) * d->tail;
  d->tail *= d->tail_coef;
  return 0.55 * body + 1.1 * noise;
}

double clap(drum_s *d) {
  const double ms = double(d->age) * 1000.0 / SYNTH_RATE;
  double env;
  if (ms < 30.0) {
    // Three bursts 10 ms apart, each with its own fast decay, then the tail
    // as the fourth: the hands of a small crowd.
    const double since = std::fmod(ms, 10.0);
    env = std::exp(-since / 2.2);
  } else {
    env = d->tail;
    d->tail *= d->tail_coef;
  }
  const double noise = svf_process(&d->band, prng_bipolar(&d->noise));
  return 1.6 * svf_process(&d->high, noise) * env;
}

double metal(drum_s *d, double tune) {
  double s = 0.0;
  for (int i = 0; i < DRUM_METAL_PARTIALS; ++i)
    s += osc_pulse(&d->metal[i], METAL_HZ[i] * tune / SYNTH_RATE, 0.5);
  return s / DRUM_METAL_PARTIALS;
}

double hat(drum_s *d, double tune, double noise_mix) {
  const double raw = (1.0 - noise_mix) * metal(d, tune) + noise_mix * prng_bipolar(&d->noise);
  const double s = svf_process(&d->high, svf_process(&d->band, raw)) * d->amp;
  d->amp *= d->amp_coef;
  return s;
}

double tom(drum_s *d) {
  const double hz = midi_hz(d->note.pitch) * (1.0 + 0.6 * d->pitch_env);
  d->pitch_env *= d->pitch_coef;
  d->phase += hz / SYNTH_RATE;
  d->phase -= std::floor(d->phase);
  const double s = std::sin(2.0 * SYNTH_PI * d->phase) * d->amp + 0.15 * prng_bipolar(&d->noise) * d->tail;
  d->amp *= d->amp_coef;
  d->tail *= d->tail_coef;
  return s;
}

double chip_noise(drum_s *d) {
  const double clocks = midi_hz(d->note.pitch) * 8.0 / SYNTH_RATE;
  // The chip's volume register has 16 steps.
  const double volume = std::floor(d->amp * 15.0 + 0.5) / 15.0;
  d->amp *= d->amp_coef;
  return 0.6 * lfsr_next(&d->lfsr, clocks) * volume;
}

double sweep(drum_s *d) {
  const double length = double(std::max<std::int64_t>(d->note.length, 1));
  const double t = std::min(1.0, double(d->age) / length);
  const bool up = d->note.param >= 0.0;
  const double x = up ? t : 1.0 - t;
  if ((d->age & 31) == 0)
    svf_set(&d->band, 180.0 * std::exp2(6.2 * x), 2.2);
  const double env = up ? x * x : (1.0 - t) * (1.0 - t) * (1.0 - t);
  return 1.4 * svf_process(&d->band, prng_bipolar(&d->noise)) * env;
}

} // namespace

void drum_start(drum_s *d, drum_kind kind, const note_event &note, std::uint64_t seed) {
  d->kind = kind;
  d->note = note;
  d->age = 0;
  d->phase = d->phase2 = 0.0;
  // Kinds without a second decay leave it at zero, so it never holds them open.
  d->amp = 1.0;
  d->tail = 0.0;
  d->tail_coef = 0.0;
  d->pitch_env = 1.0;
  prng_init(&d->noise, seed);
  lfsr_init(&d->lfsr, note.param < 0.0);
  for (int i = 0; i < DRUM_METAL_PARTIALS; ++i)
    osc_init(&d->metal[i], prng_uniform(&d->noise));
  svf_init(&d->band, SVF_BANDPASS);
  svf_init(&d->high, SVF_HIGHPASS);
  const double scale = note.param > 0.0 ? note.param : 1.0;
  switch (kind) {
  case DRUM_KICK:
    d->amp_coef = t60_coef(0.42 * scale);
    d->pitch_coef = std::exp(-1.0 / (0.011 * SYNTH_RATE));
    d->tail = 1.0;
    d->tail_coef = t60_coef(0.006);
    svf_set(&d->band, 3200.0, 0.9);
    break;
  case DRUM_SNARE:
    d->amp_coef = t60_coef(0.16);
    d->tail = 1.0;
    d->tail_coef = t60_coef(0.26 * scale);
    d->pitch_coef = t60_coef(0.03);
    svf_set(&d->band, 3600.0, 0.7);
    svf_set(&d->high, 1400.0, 0.7);
    break;
  case DRUM_CLAP:
    d->amp = 0.0;
    d->tail = 1.0;
    d->tail_coef = t60_coef(0.3 * scale);
    svf_set(&d->band, 1250.0, 1.6);
    svf_set(&d->high, 700.0, 0.7);
    break;
  case DRUM_HAT:
    d->amp_coef = t60_coef(note.param > 0.0 ? note.param : 0.05);
    svf_set(&d->band, 10500.0, 0.6);
    svf_set(&d->high, 7000.0, 0.7);
    break;
  case DRUM_CRASH:
    d->amp_coef = t60_coef(2.2 * scale);
    svf_set(&d->band, 9000.0, 0.5);
    svf_set(&d->high, 4200.0, 0.7);
    break;
  case DRUM_TOM:
    d->amp_coef = t60_coef(0.45 * scale);
    d->tail = 1.0;
    d->tail_coef = t60_coef(0.05);
    d->pitch_coef = t60_coef(0.09);
    break;
  case DRUM_CHIP_NOISE:
    d->amp_coef = t60_coef(note.param != 0.0 ? std::fabs(note.param) : 0.12);
    break;
  case DRUM_SWEEP:
    d->amp_coef = 1.0;
    break;
  }
  d->active = true;
}

void drum_render(drum_s *d, double *out, int n) {
  const double level = d->note.velocity;
  for (int i = 0; i < n && d->active; ++i) {
    double s = 0.0;
    switch (d->kind) {
    case DRUM_KICK: s = kick(d); break;
    case DRUM_SNARE: s = snare(d); break;
    case DRUM_CLAP: s = clap(d); break;
    case DRUM_HAT: s = 4.0 * hat(d, 1.0, 0.45); break;
    case DRUM_CRASH: s = 2.4 * hat(d, 1.37, 0.6); break;
    case DRUM_TOM: s = tom(d); break;
    case DRUM_CHIP_NOISE: s = chip_noise(d); break;
    case DRUM_SWEEP: s = sweep(d); break;
    }
    out[i] += s * level;
    ++d->age;
    const bool done = d->kind == DRUM_SWEEP ? d->age >= d->note.length
                      : d->kind == DRUM_CLAP ? d->age > SYNTH_RATE / 20 && d->tail < SILENT
                                             : d->amp < SILENT && d->tail < SILENT;
    if (done)
      d->active = false;
  }
}
