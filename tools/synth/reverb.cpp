#include "reverb.h"

#include "dsp.h"

namespace {

// Line lengths in frames at 44.1 kHz: mutually prime, 25 to 37 ms for the
// combs and 5 to 13 ms for the all-passes, so their echoes never line up.
constexpr int COMB_FRAMES[REVERB_COMBS] = {1109, 1187, 1279, 1361, 1427, 1493, 1559, 1621};
constexpr int ALLPASS_FRAMES[REVERB_ALLPASSES] = {557, 439, 347, 223};
constexpr int STEREO_SPREAD = 23;
constexpr double INPUT_GAIN = 0.03;

void line_init(reverb_line *line, int frames) {
  line->buffer.assign(size_t(frames), 0.0);
  line->pos = 0;
  line->store = 0.0;
}

double comb(reverb_line *line, double x, double feedback, double damp) {
  const double out = line->buffer[size_t(line->pos)];
  line->store = flush_denormal(out * (1.0 - damp) + line->store * damp);
  line->buffer[size_t(line->pos)] = flush_denormal(x + line->store * feedback);
  if (++line->pos == int(line->buffer.size()))
    line->pos = 0;
  return out;
}

double allpass(reverb_line *line, double x) {
  const double delayed = line->buffer[size_t(line->pos)];
  line->buffer[size_t(line->pos)] = flush_denormal(x + delayed * 0.5);
  if (++line->pos == int(line->buffer.size()))
    line->pos = 0;
  return delayed - x;
}

} // namespace

void reverb_init(reverb_s *r, double room, double damp, double width, double predelay_ms) {
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < REVERB_COMBS; ++i)
      line_init(&r->comb[c][i], COMB_FRAMES[i] + c * STEREO_SPREAD);
    for (int i = 0; i < REVERB_ALLPASSES; ++i)
      line_init(&r->allpass[c][i], ALLPASS_FRAMES[i] + c * STEREO_SPREAD);
  }
  r->predelay.assign(size_t(predelay_ms * SYNTH_RATE / 1000.0) + 1, 0.0);
  r->predelay_pos = 0;
  onepole_init(&r->input_highpass, 220.0);
  r->feedback = 0.7 + 0.28 * room;
  r->damp = 0.4 * damp;
  r->width = width;
}

void reverb_process(reverb_s *r, double *l, double *r_, int n) {
  const double wet1 = 0.5 * (1.0 + r->width), wet2 = 0.5 * (1.0 - r->width);
  for (int i = 0; i < n; ++i) {
    // The pre-delay holds the input and returns what went in one delay ago.
    const double in = onepole_highpass(&r->input_highpass, (l[i] + r_[i]) * INPUT_GAIN);
    double &slot = r->predelay[size_t(r->predelay_pos)];
    const double delayed = slot;
    slot = in;
    if (++r->predelay_pos == int(r->predelay.size()))
      r->predelay_pos = 0;

    double out[2] = {0.0, 0.0};
    for (int c = 0; c < 2; ++c) {
      for (int k = 0; k < REVERB_COMBS; ++k)
        out[c] += comb(&r->comb[c][k], delayed, r->feedback, r->damp);
      for (int k = 0; k < REVERB_ALLPASSES; ++k)
        out[c] = allpass(&r->allpass[c][k], out[c]);
    }
    l[i] = out[0] * wet1 + out[1] * wet2;
    r_[i] = out[1] * wet1 + out[0] * wet2;
  }
}
