// Band-limited oscillators on a phase in [0, 1), kept in double precision.
//
// Saw and pulse subtract a polynomial band-limited step (PolyBLEP) at each
// discontinuity; the triangle integrates a band-limited square. Each call
// returns the current sample and advances the phase by `inc` (frequency /
// rate, at most 0.5). The chip triangle is the 4-bit staircase of old sound
// chips and aliases on purpose.
#pragma once

struct osc_s {
  double phase;
  double integrator; // the triangle's integrated square
};

void osc_init(osc_s *o, double phase);
double osc_saw(osc_s *o, double inc);
double osc_pulse(osc_s *o, double inc, double duty);
double osc_triangle(osc_s *o, double inc);
double osc_sine(osc_s *o, double inc);
double osc_chip_triangle(osc_s *o, double inc);
