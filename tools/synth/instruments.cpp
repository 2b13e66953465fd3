#include "instruments.h"

namespace {

patch_s filtered(double cutoff, double q, double env_octaves) {
  patch_s p{};
  p.unison = 1;
  p.duty = 0.5;
  p.filter = true;
  p.filter_mode = SVF_LOWPASS;
  p.cutoff = cutoff;
  p.q = q;
  p.env_octaves = env_octaves;
  p.gain = 1.0;
  return p;
}

} // namespace

patch_s instrument_bass() {
  patch_s p = filtered(150.0, 1.1, 3.2);
  p.saw = 0.55;
  p.sub = 0.75;
  p.key_track = 0.5;
  p.velocity_octaves = 1.0;
  p.amp_env = {0.002, 0.6, 0.55, 0.07};
  p.filter_env = {0.002, 0.35, 0.05, 0.1};
  p.drive = 1.4;
  p.gain = 0.55;
  return p;
}

patch_s instrument_acid() {
  patch_s p = filtered(240.0, 6.5, 3.3);
  p.saw = 0.8;
  p.sub = 0.25;
  p.key_track = 0.3;
  p.glide = 0.07;
  p.amp_env = {0.002, 0.4, 0.7, 0.04};
  p.filter_env = {0.002, 0.28, 0.0, 0.06};
  p.drive = 2.4;
  p.gain = 0.42;
  return p;
}

patch_s instrument_chip_bass() {
  patch_s p{};
  p.unison = 1;
  p.chip_triangle = 0.9;
  p.glide = 0.0;
  p.amp_env = {0.0015, 0.1, 0.85, 0.02};
  p.gain = 0.6;
  return p;
}

patch_s instrument_sub() {
  patch_s p = filtered(300.0, 0.7, 0.5);
  p.sine = 0.9;
  p.triangle = 0.2;
  p.amp_env = {0.02, 1.5, 0.8, 0.35};
  p.filter_env = {0.05, 1.0, 0.5, 0.3};
  p.glide = 0.08;
  p.gain = 0.55;
  return p;
}

patch_s instrument_pad() {
  patch_s p = filtered(1100.0, 0.8, 1.4);
  p.saw = 0.7;
  p.unison = 7;
  p.detune_cents = 24.0;
  p.width = 0.9;
  p.key_track = 0.3;
  p.amp_env = {0.45, 1.2, 0.85, 1.3};
  p.filter_env = {0.8, 2.0, 0.4, 1.2};
  p.gain = 0.22;
  return p;
}

patch_s instrument_warm_pad() {
  patch_s p = filtered(650.0, 0.7, 1.0);
  p.saw = 0.45;
  p.triangle = 0.5;
  p.unison = 5;
  p.detune_cents = 18.0;
  p.width = 1.0;
  p.amp_env = {1.1, 2.0, 0.9, 2.2};
  p.filter_env = {1.6, 3.0, 0.5, 2.0};
  p.gain = 0.26;
  return p;
}

patch_s instrument_stab() {
  patch_s p = filtered(700.0, 1.3, 3.0);
  p.saw = 0.7;
  p.pulse = 0.3;
  p.duty = 0.4;
  p.unison = 3;
  p.detune_cents = 16.0;
  p.width = 0.7;
  p.amp_env = {0.002, 0.35, 0.0, 0.08};
  p.filter_env = {0.002, 0.18, 0.0, 0.08};
  p.gain = 0.3;
  return p;
}

patch_s instrument_keys() {
  patch_s p{};
  p.sine = 0.8;
  p.unison = 2;
  p.detune_cents = 7.0;
  p.width = 0.5;
  p.fm_index = 2.4;
  p.fm_ratio = 1.0;
  p.fm_decay = 0.5;
  p.amp_env = {0.002, 2.6, 0.18, 0.45};
  p.gain = 0.32;
  return p;
}

patch_s instrument_pluck() {
  patch_s p = filtered(900.0, 1.6, 3.6);
  p.pulse = 0.5;
  p.saw = 0.35;
  p.duty = 0.32;
  p.unison = 2;
  p.detune_cents = 10.0;
  p.width = 0.6;
  p.key_track = 0.6;
  p.amp_env = {0.0015, 0.45, 0.0, 0.06};
  p.filter_env = {0.0015, 0.16, 0.0, 0.06};
  p.gain = 0.3;
  return p;
}

patch_s instrument_chip_arp() {
  patch_s p{};
  p.unison = 1;
  p.pulse = 0.55;
  p.duty = 0.125;
  p.amp_env = {0.0015, 0.12, 0.5, 0.015};
  p.gain = 0.28;
  return p;
}

patch_s instrument_bell() {
  patch_s p{};
  p.sine = 0.7;
  p.triangle = 0.12;
  p.unison = 1;
  p.fm_index = 1.8;
  p.fm_ratio = 3.5;
  p.fm_decay = 0.35;
  p.amp_env = {0.0015, 1.6, 0.0, 0.6};
  p.gain = 0.3;
  return p;
}

patch_s instrument_lead() {
  patch_s p = filtered(1800.0, 1.1, 1.6);
  p.saw = 0.65;
  p.pulse = 0.25;
  p.duty = 0.5;
  p.unison = 3;
  p.detune_cents = 14.0;
  p.width = 0.45;
  p.key_track = 0.4;
  p.vibrato_cents = 18.0;
  p.vibrato_rate = 5.3;
  p.vibrato_delay = 0.25;
  p.glide = 0.05;
  p.amp_env = {0.008, 0.4, 0.78, 0.22};
  p.filter_env = {0.004, 0.5, 0.3, 0.25};
  p.gain = 0.32;
  return p;
}

patch_s instrument_chip_lead() {
  patch_s p{};
  p.unison = 1;
  p.pulse = 0.55;
  p.duty = 0.25;
  p.pwm_depth = 0.1;
  p.pwm_rate = 3.7;
  p.vibrato_cents = 22.0;
  p.vibrato_rate = 6.0;
  p.vibrato_delay = 0.18;
  p.glide = 0.025;
  p.amp_env = {0.0015, 0.15, 0.7, 0.04};
  p.gain = 0.3;
  return p;
}

patch_s instrument_counter() {
  patch_s p = filtered(2600.0, 0.9, 1.0);
  p.pulse = 0.4;
  p.triangle = 0.5;
  p.duty = 0.5;
  p.unison = 2;
  p.detune_cents = 8.0;
  p.width = 0.8;
  p.vibrato_cents = 10.0;
  p.vibrato_rate = 4.8;
  p.vibrato_delay = 0.3;
  p.amp_env = {0.006, 0.5, 0.55, 0.3};
  p.filter_env = {0.004, 0.4, 0.2, 0.3};
  p.gain = 0.28;
  return p;
}
