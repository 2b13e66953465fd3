#include "delay.h"

#include "dsp.h"

#include <cmath>

namespace {

double read_fractional(const std::vector<double> &line, int write_pos, double delay) {
  const int size = int(line.size());
  double at = double(write_pos) - delay;
  while (at < 0.0)
    at += size;
  const int i0 = int(at);
  const double frac = at - i0;
  const int i1 = i0 + 1 == size ? 0 : i0 + 1;
  return line[size_t(i0)] + (line[size_t(i1)] - line[size_t(i0)]) * frac;
}

} // namespace

void pingpong_init(pingpong_s *d, int delay_frames, double feedback) {
  for (int c = 0; c < 2; ++c) {
    d->line[c].assign(size_t(delay_frames), 0.0);
    onepole_init(&d->lowpass[c], 5200.0);
    onepole_init(&d->highpass[c], 260.0);
  }
  d->pos = 0;
  d->feedback = feedback;
}

void pingpong_process(pingpong_s *d, double *l, double *r, int n) {
  const int size = int(d->line[0].size());
  for (int i = 0; i < n; ++i) {
    const double out_l = d->line[0][size_t(d->pos)];
    const double out_r = d->line[1][size_t(d->pos)];
    const double in = 0.5 * (l[i] + r[i]);
    const double back_l = onepole_highpass(&d->highpass[0], onepole_lowpass(&d->lowpass[0], out_r));
    const double back_r = onepole_highpass(&d->highpass[1], onepole_lowpass(&d->lowpass[1], out_l));
    d->line[0][size_t(d->pos)] = flush_denormal(in + back_l * d->feedback);
    d->line[1][size_t(d->pos)] = flush_denormal(back_r * d->feedback);
    if (++d->pos == size)
      d->pos = 0;
    l[i] = out_l;
    r[i] = out_r;
  }
}

void chorus_init(chorus_s *c, double rate_hz, double centre_ms, double depth_ms, double mix) {
  c->centre_frames = centre_ms * SYNTH_RATE / 1000.0;
  c->depth_frames = depth_ms * SYNTH_RATE / 1000.0;
  const int size = int(c->centre_frames + c->depth_frames) + 4;
  c->line[0].assign(size_t(size), 0.0);
  c->line[1].assign(size_t(size), 0.0);
  c->pos = 0;
  c->phase = 0.0;
  c->rate = rate_hz / SYNTH_RATE;
  c->mix = mix;
}

void chorus_process(chorus_s *c, double *l, double *r, int n) {
  const int size = int(c->line[0].size());
  for (int i = 0; i < n; ++i) {
    c->line[0][size_t(c->pos)] = l[i];
    c->line[1][size_t(c->pos)] = r[i];
    const double angle = 2.0 * SYNTH_PI * c->phase;
    const double wet_l = read_fractional(c->line[0], c->pos, c->centre_frames + c->depth_frames * std::sin(angle));
    const double wet_r = read_fractional(c->line[1], c->pos, c->centre_frames + c->depth_frames * std::cos(angle));
    c->phase += c->rate;
    if (c->phase >= 1.0)
      c->phase -= 1.0;
    if (++c->pos == size)
      c->pos = 0;
    l[i] = l[i] * (1.0 - 0.5 * c->mix) + wet_l * c->mix;
    r[i] = r[i] * (1.0 - 0.5 * c->mix) + wet_r * c->mix;
  }
}
