#include "prng.h"

void prng_init(prng_s *p, std::uint64_t seed) {
  // A zero state would stay zero; mixing the seed also decorrelates
  // neighbouring seeds.
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  p->state = z ? z : 0x2545F4914F6CDD1Dull;
}

std::uint64_t prng_next(prng_s *p) {
  std::uint64_t x = p->state;
  x ^= x >> 12;
  x ^= x << 25;
  x ^= x >> 27;
  p->state = x;
  return x * 0x2545F4914F6CDD1Dull;
}

double prng_uniform(prng_s *p) { return double(prng_next(p) >> 11) * (1.0 / 9007199254740992.0); }

double prng_bipolar(prng_s *p) { return 2.0 * prng_uniform(p) - 1.0; }

void lfsr_init(lfsr_s *l, bool short_mode) {
  l->reg = 1;
  l->short_mode = short_mode;
  l->phase = 0.0;
}

void lfsr_clock(lfsr_s *l) {
  const int tap = l->short_mode ? 6 : 1;
  const std::uint16_t feedback = std::uint16_t((l->reg ^ (l->reg >> tap)) & 1u);
  l->reg = std::uint16_t((l->reg >> 1) | (feedback << 14));
}

double lfsr_output(const lfsr_s *l) { return (l->reg & 1u) ? -1.0 : 1.0; }

double lfsr_next(lfsr_s *l, double clocks_per_sample) {
  l->phase += clocks_per_sample;
  while (l->phase >= 1.0) {
    l->phase -= 1.0;
    lfsr_clock(l);
  }
  return lfsr_output(l);
}
