#include "envelope.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double MIN_EDGE = 0.0015;
constexpr double ATTACK_TARGET = 1.2;
// Below this (-100 dB) a released envelope is over.
constexpr double SILENT = 1e-5;

} // namespace

void adsr_init(adsr_s *e, const adsr_params &p) {
  e->p = p;
  e->p.attack = std::max(p.attack, MIN_EDGE);
  e->p.release = std::max(p.release, MIN_EDGE);
  e->p.decay = std::max(p.decay, MIN_EDGE);
  // From 0 towards 1.2, the curve crosses 1 after `attack` seconds.
  const double tau = e->p.attack / std::log(ATTACK_TARGET / (ATTACK_TARGET - 1.0));
  e->attack_coef = std::exp(-1.0 / (tau * SYNTH_RATE));
  e->decay_coef = t60_coef(e->p.decay);
  e->release_coef = t60_coef(e->p.release);
  e->level = 0.0;
  e->stage = ADSR_IDLE;
}

void adsr_gate_on(adsr_s *e) { e->stage = ADSR_ATTACK; }

void adsr_gate_off(adsr_s *e) {
  if (e->stage != ADSR_IDLE)
    e->stage = ADSR_RELEASE;
}

double adsr_next(adsr_s *e) {
  switch (e->stage) {
  case ADSR_IDLE:
    return 0.0;
  case ADSR_ATTACK:
    e->level = ATTACK_TARGET + (e->level - ATTACK_TARGET) * e->attack_coef;
    if (e->level >= 1.0) {
      e->level = 1.0;
      e->stage = ADSR_DECAY;
    }
    break;
  case ADSR_DECAY:
    e->level = e->p.sustain + (e->level - e->p.sustain) * e->decay_coef;
    if (e->level - e->p.sustain < SILENT) {
      e->level = e->p.sustain;
      e->stage = ADSR_SUSTAIN;
    }
    break;
  case ADSR_SUSTAIN:
    e->level = e->p.sustain;
    break;
  case ADSR_RELEASE:
    e->level *= e->release_coef;
    if (e->level < SILENT) {
      e->level = 0.0;
      e->stage = ADSR_IDLE;
    }
    break;
  }
  return e->level;
}

// A sustain of nothing is as over as a finished release.
bool adsr_idle(const adsr_s *e) {
  return e->stage == ADSR_IDLE || (e->stage == ADSR_SUSTAIN && e->p.sustain < SILENT);
}
