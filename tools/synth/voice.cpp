#include "voice.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>

namespace {

// Centre phase increment with glide and vibrato.
double control_increment(voice_s *v) {
  const patch_s &p = *v->patch;
  v->note = v->target_note + (v->note - v->target_note) * v->glide_coef;
  const double seconds = double(v->age) / SYNTH_RATE;
  double note = v->note;
  if (p.vibrato_cents > 0.0 && seconds > p.vibrato_delay) {
    const double depth = std::min(1.0, (seconds - p.vibrato_delay) / 0.4);
    note += depth * p.vibrato_cents / 100.0 * std::sin(2.0 * SYNTH_PI * p.vibrato_rate * seconds);
  }
  return std::min(midi_hz(note) / SYNTH_RATE, 0.45);
}

void control_update(voice_s *v, double cutoff_octaves) {
  const patch_s &p = *v->patch;
  v->inc = control_increment(v);
  if (p.pwm_depth > 0.0) {
    const double seconds = double(v->age) / SYNTH_RATE;
    v->duty = std::clamp(p.duty + p.pwm_depth * std::sin(2.0 * SYNTH_PI * p.pwm_rate * seconds), 0.05, 0.95);
  }
  if (p.filter) {
    const double octaves = p.env_octaves * v->filt.level + p.key_track * (v->note - 60.0) / 12.0 +
                           p.velocity_octaves * (v->velocity - 1.0) + cutoff_octaves + v->accent;
    const double cutoff = p.cutoff * std::exp2(octaves);
    svf_set(&v->filter_l, cutoff, p.q);
    svf_copy_coefficients(&v->filter_r, &v->filter_l);
  }
}

double unison_sample(voice_s *v, int i, double inc, double phase_mod) {
  const patch_s &p = *v->patch;
  const double ui = inc * v->detune[i];
  osc_s *o = &v->osc[i];
  double s = 0.0;
  // One phase per voice drives every waveform, so mixing saw and pulse keeps
  // them locked; only the active shapes are computed.
  const double phase = o->phase;
  if (p.saw != 0.0) {
    o->phase = phase;
    s += p.saw * osc_saw(o, ui);
  }
  if (p.pulse != 0.0) {
    o->phase = phase;
    s += p.pulse * osc_pulse(o, ui, v->duty);
  }
  if (p.triangle != 0.0) {
    o->phase = phase;
    s += p.triangle * osc_triangle(o, ui);
  }
  if (p.chip_triangle != 0.0) {
    o->phase = phase;
    s += p.chip_triangle * osc_chip_triangle(o, ui);
  }
  if (p.sine != 0.0) {
    const double shifted = phase + phase_mod;
    s += p.sine * std::sin(2.0 * SYNTH_PI * (shifted - std::floor(shifted)));
    o->phase = phase + ui;
    if (o->phase >= 1.0)
      o->phase -= 1.0;
  }
  return s;
}

void pan_unison(voice_s *v) {
  const patch_s &p = *v->patch;
  const int n = std::clamp(p.unison, 1, VOICE_MAX_UNISON);
  for (int i = 0; i < n; ++i) {
    const double spread = n == 1 ? 0.0 : 2.0 * i / (n - 1) - 1.0;
    v->detune[i] = std::exp2(spread * 0.5 * p.detune_cents / 1200.0);
    const double angle = (1.0 + spread * p.width) * SYNTH_PI / 4.0;
    // Equal power, normalised so the sum of a unison keeps one voice's loudness.
    const double norm = 1.0 / std::sqrt(double(n));
    v->gain_l[i] = std::cos(angle) * norm * std::sqrt(2.0);
    v->gain_r[i] = std::sin(angle) * norm * std::sqrt(2.0);
  }
}

} // namespace

void voice_start(voice_s *v, const patch_s *patch, const note_event &note, std::uint64_t seed) {
  v->patch = patch;
  prng_init(&v->random, seed);
  const int n = std::clamp(patch->unison, 1, VOICE_MAX_UNISON);
  for (int i = 0; i < n; ++i)
    osc_init(&v->osc[i], n == 1 ? 0.0 : prng_uniform(&v->random));
  osc_init(&v->sub, 0.0);
  osc_init(&v->modulator, 0.0);
  pan_unison(v);
  adsr_init(&v->amp, patch->amp_env);
  adsr_init(&v->filt, patch->filter_env);
  svf_init(&v->filter_l, patch->filter_mode);
  svf_init(&v->filter_r, patch->filter_mode);
  v->note = v->target_note = note.pitch;
  v->glide_coef = 0.0;
  v->duty = patch->duty;
  v->active = true;
  voice_legato(v, note, false);
}

void voice_legato(voice_s *v, const note_event &note, bool legato) {
  v->target_note = note.pitch;
  v->velocity = note.velocity;
  v->accent = note.param;
  v->gate_left = note.length;
  v->active = true;
  if (legato) {
    // The glide covers 95 % of the interval in `glide` seconds, stepped at
    // the control rate.
    v->glide_coef = time_coef(v->patch->glide / 3.0 / VOICE_CONTROL_FRAMES);
  } else {
    v->note = note.pitch;
    v->glide_coef = 0.0;
    v->age = 0;
    v->fm_env = v->patch->fm_index;
    adsr_gate_on(&v->amp);
    adsr_gate_on(&v->filt);
  }
  v->control_left = 0;
}

void voice_render(voice_s *v, double cutoff_octaves, double *left, double *right, int n) {
  const patch_s &p = *v->patch;
  const int unison = std::clamp(p.unison, 1, VOICE_MAX_UNISON);
  const bool stereo = unison > 1 && p.width > 0.0;
  const double level = p.gain * (0.35 + 0.65 * v->velocity);
  const double fm_coef = time_coef(std::max(p.fm_decay, 1e-3));
  for (int i = 0; i < n && v->active; ++i) {
    if (v->control_left <= 0) {
      control_update(v, cutoff_octaves);
      v->control_left = VOICE_CONTROL_FRAMES;
    }
    --v->control_left;
    if (v->gate_left == 0) {
      adsr_gate_off(&v->amp);
      adsr_gate_off(&v->filt);
    }
    --v->gate_left;
    ++v->age;
    adsr_next(&v->filt);
    const double amp = adsr_next(&v->amp) * level;

    double phase_mod = 0.0;
    if (p.fm_index > 0.0) {
      phase_mod = v->fm_env * osc_sine(&v->modulator, v->inc * p.fm_ratio) / (2.0 * SYNTH_PI);
      v->fm_env *= fm_coef;
    }
    double l = 0.0, r = 0.0;
    for (int u = 0; u < unison; ++u) {
      const double s = unison_sample(v, u, v->inc, phase_mod);
      l += s * v->gain_l[u];
      r += s * v->gain_r[u];
    }
    if (p.sub != 0.0) {
      const double sub = p.sub * osc_sine(&v->sub, v->inc * 0.5);
      l += sub;
      r += sub;
    }
    if (p.filter) {
      l = svf_process(&v->filter_l, l);
      r = stereo ? svf_process(&v->filter_r, r) : l;
    } else if (!stereo) {
      r = l;
    }
    if (p.drive > 0.0) {
      const double norm = 1.0 / std::tanh(p.drive);
      l = std::tanh(l * p.drive) * norm;
      r = stereo ? std::tanh(r * p.drive) * norm : l;
    }
    left[i] += l * amp;
    right[i] += r * amp;
    if (adsr_idle(&v->amp))
      v->active = false;
  }
}

bool voice_gate_open(const voice_s *v) { return v->active && v->gate_left > 0; }
