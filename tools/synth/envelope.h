// ADSR envelope with exponential segments.
//
// The attack rises towards an overshoot target and stops at 1, which gives
// the curve of an analogue charge; decay and release fall exponentially.
// Decay and release times are the time to fall by 60 dB. A new gate starts
// the attack from the current level, so retriggering never clicks; attack and
// release are never shorter than 1.5 ms.
#pragma once

struct adsr_params {
  double attack;  // seconds to reach the peak
  double decay;   // seconds to fall 60 dB towards the sustain level
  double sustain; // level, 0..1
  double release; // seconds to fall 60 dB after the gate closes
};

enum adsr_stage { ADSR_IDLE, ADSR_ATTACK, ADSR_DECAY, ADSR_SUSTAIN, ADSR_RELEASE };

struct adsr_s {
  adsr_params p;
  double attack_coef, decay_coef, release_coef;
  double level;
  adsr_stage stage;
};

void adsr_init(adsr_s *e, const adsr_params &p);
void adsr_gate_on(adsr_s *e);
void adsr_gate_off(adsr_s *e);
double adsr_next(adsr_s *e);
bool adsr_idle(const adsr_s *e); // silent for good until the next gate
