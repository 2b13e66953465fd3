// Filters: the topology-preserving (trapezoidal) state-variable filter, a
// one-pole smoother and a biquad in transposed direct form II.
//
// The state-variable filter keeps its state across coefficient changes and
// stays stable when the cut-off moves every few samples, which the voices'
// filter envelopes rely on. States are flushed of denormals.
#pragma once

enum svf_mode { SVF_LOWPASS, SVF_BANDPASS, SVF_HIGHPASS, SVF_NOTCH };

struct svf_s {
  double a1, a2, a3, k;
  double ic1, ic2;
  svf_mode mode;
};

void svf_init(svf_s *f, svf_mode mode);
// Cut-off is clamped into 10 Hz .. 0.45 x rate; q above 0.5.
void svf_set(svf_s *f, double cutoff_hz, double q);
void svf_copy_coefficients(svf_s *to, const svf_s *from); // keeps the state
double svf_process(svf_s *f, double x);

struct onepole_s {
  double a; // share of the distance to the input covered per sample
  double z;
};

void onepole_init(onepole_s *f, double cutoff_hz);
double onepole_lowpass(onepole_s *f, double x);
double onepole_highpass(onepole_s *f, double x);

struct biquad_s {
  double b0, b1, b2, a1, a2; // a0 normalised to 1
  double z1, z2;
};

void biquad_init(biquad_s *f, double b0, double b1, double b2, double a1, double a2);
void biquad_highpass(biquad_s *f, double cutoff_hz, double q, double rate);
double biquad_process(biquad_s *f, double x);
