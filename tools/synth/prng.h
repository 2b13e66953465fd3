// Noise sources with their own generators, so that every build on every
// library renders the same samples (no standard distributions).
//
// prng_s is a 64-bit xorshift* generator; lfsr_s is the 15-bit feedback shift
// register of chip sound chips, in long (period 32767) or short mode.
#pragma once

#include <cstdint>

struct prng_s {
  std::uint64_t state;
};

void prng_init(prng_s *p, std::uint64_t seed);
std::uint64_t prng_next(prng_s *p);
double prng_uniform(prng_s *p);   // [0, 1)
double prng_bipolar(prng_s *p);   // [-1, 1)

struct lfsr_s {
  std::uint16_t reg;
  bool short_mode;
  double phase; // clocks are counted in fractions of a sample
};

void lfsr_init(lfsr_s *l, bool short_mode);
void lfsr_clock(lfsr_s *l);       // one shift
double lfsr_output(const lfsr_s *l); // +1 or -1
// Advances by `clocks_per_sample` shifts (fractional) and returns the output.
double lfsr_next(lfsr_s *l, double clocks_per_sample);
