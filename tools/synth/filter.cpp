#include "filter.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>

void svf_init(svf_s *f, svf_mode mode) {
  f->mode = mode;
  f->ic1 = f->ic2 = 0.0;
  svf_set(f, 1000.0, 0.7071);
}

void svf_set(svf_s *f, double cutoff_hz, double q) {
  const double fc = std::clamp(cutoff_hz, 10.0, 0.45 * SYNTH_RATE);
  const double g = std::tan(SYNTH_PI * fc / SYNTH_RATE);
  f->k = 1.0 / std::max(q, 0.5);
  f->a1 = 1.0 / (1.0 + g * (g + f->k));
  f->a2 = g * f->a1;
  f->a3 = g * f->a2;
}

void svf_copy_coefficients(svf_s *to, const svf_s *from) {
  to->a1 = from->a1;
  to->a2 = from->a2;
  to->a3 = from->a3;
  to->k = from->k;
}

double svf_process(svf_s *f, double x) {
  const double v3 = x - f->ic2;
  const double v1 = f->a1 * f->ic1 + f->a2 * v3;
  const double v2 = f->ic2 + f->a2 * f->ic1 + f->a3 * v3;
  f->ic1 = flush_denormal(2.0 * v1 - f->ic1);
  f->ic2 = flush_denormal(2.0 * v2 - f->ic2);
  switch (f->mode) {
  case SVF_LOWPASS:
    return v2;
  case SVF_BANDPASS:
    return v1;
  case SVF_HIGHPASS:
    return x - f->k * v1 - v2;
  case SVF_NOTCH:
    return x - f->k * v1;
  }
  return v2;
}

void onepole_init(onepole_s *f, double cutoff_hz) {
  f->a = 1.0 - std::exp(-2.0 * SYNTH_PI * cutoff_hz / SYNTH_RATE);
  f->z = 0.0;
}

double onepole_lowpass(onepole_s *f, double x) {
  f->z = flush_denormal(f->z + f->a * (x - f->z));
  return f->z;
}

double onepole_highpass(onepole_s *f, double x) { return x - onepole_lowpass(f, x); }

void biquad_init(biquad_s *f, double b0, double b1, double b2, double a1, double a2) {
  *f = {b0, b1, b2, a1, a2, 0.0, 0.0};
}

void biquad_highpass(biquad_s *f, double cutoff_hz, double q, double rate) {
  const double k = std::tan(SYNTH_PI * cutoff_hz / rate);
  const double norm = 1.0 / (1.0 + k / q + k * k);
  biquad_init(f, norm, -2.0 * norm, norm, 2.0 * (k * k - 1.0) * norm, (1.0 - k / q + k * k) * norm);
}

double biquad_process(biquad_s *f, double x) {
  const double y = f->b0 * x + f->z1;
  f->z1 = flush_denormal(f->b1 * x - f->a1 * y + f->z2);
  f->z2 = flush_denormal(f->b2 * x - f->a2 * y);
  return y;
}
