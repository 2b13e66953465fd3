#include "oscillator.h"

#include "dsp.h"

#include <cmath>

namespace {

// Residual of a unit step smoothed over one sample either side of t = 0.
double poly_blep(double t, double inc) {
  if (t < inc) {
    t /= inc;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - inc) {
    t = (t - 1.0) / inc;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

void advance(osc_s *o, double inc) {
  o->phase += inc;
  if (o->phase >= 1.0)
    o->phase -= 1.0;
}

double naive_triangle(double t) { return t < 0.5 ? 4.0 * t - 1.0 : 3.0 - 4.0 * t; }

double square(const osc_s *o, double inc, double duty) {
  double v = o->phase < duty ? 1.0 : -1.0;
  v += poly_blep(o->phase, inc);
  double falling = o->phase - duty;
  if (falling < 0.0)
    falling += 1.0;
  v -= poly_blep(falling, inc);
  return v;
}

} // namespace

void osc_init(osc_s *o, double phase) {
  o->phase = phase - std::floor(phase);
  // Start the integrator on the ideal waveform so the triangle has no offset.
  o->integrator = naive_triangle(o->phase);
}

double osc_saw(osc_s *o, double inc) {
  const double v = 2.0 * o->phase - 1.0 - poly_blep(o->phase, inc);
  advance(o, inc);
  return v;
}

double osc_pulse(osc_s *o, double inc, double duty) {
  const double v = square(o, inc, duty);
  advance(o, inc);
  return v;
}

double osc_triangle(osc_s *o, double inc) {
  // A slight leak keeps rounding from drifting the integral away from zero.
  o->integrator = o->integrator * 0.99999 + 4.0 * inc * square(o, inc, 0.5);
  advance(o, inc);
  return o->integrator;
}

double osc_sine(osc_s *o, double inc) {
  const double v = std::sin(2.0 * SYNTH_PI * o->phase);
  advance(o, inc);
  return v;
}

double osc_chip_triangle(osc_s *o, double inc) {
  const double step = std::floor((naive_triangle(o->phase) + 1.0) * 7.5 + 0.5);
  advance(o, inc);
  return step / 7.5 - 1.0;
}
