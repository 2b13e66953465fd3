#include "dynamics.h"

#include "dsp.h"

#include <algorithm>
#include <cmath>

void duck_init(duck_s *d, double release_seconds) {
  d->decay = 0.0;
  d->decay_coef = time_coef(release_seconds);
  d->level = 0.0;
  d->attack = 1.0 - time_coef(0.0015 / 3.0);
}

void duck_trigger(duck_s *d) { d->decay = 1.0; }

double duck_next(duck_s *d) {
  d->level = flush_denormal(d->level + (d->decay - d->level) * d->attack);
  d->decay = flush_denormal(d->decay * d->decay_coef);
  return d->level;
}

void compressor_init(compressor_s *c, double threshold_db, double ratio, double knee_db, double attack_s,
                     double release_s, double makeup_db) {
  c->threshold_db = threshold_db;
  c->ratio = ratio;
  c->knee_db = knee_db;
  c->makeup_db = makeup_db;
  c->power = 0.0;
  c->power_coef = time_coef(0.005);
  c->reduction_db = 0.0;
  c->attack_coef = time_coef(attack_s);
  c->release_coef = time_coef(release_s);
}

void compressor_process(compressor_s *c, double *l, double *r, int n) {
  const double slope = 1.0 - 1.0 / c->ratio;
  for (int i = 0; i < n; ++i) {
    const double square = std::max(l[i] * l[i], r[i] * r[i]);
    c->power = flush_denormal(square + (c->power - square) * c->power_coef);
    const double level_db = 10.0 * std::log10(c->power + 1e-12);
    // Soft knee: the ratio fades in over knee_db around the threshold.
    const double over = level_db - c->threshold_db;
    double target = 0.0;
    if (2.0 * over > c->knee_db)
      target = slope * over;
    else if (2.0 * over > -c->knee_db)
      target = slope * (over + 0.5 * c->knee_db) * (over + 0.5 * c->knee_db) / (2.0 * c->knee_db);
    const double coef = target > c->reduction_db ? c->attack_coef : c->release_coef;
    c->reduction_db = target + (c->reduction_db - target) * coef;
    const double gain = db_gain(c->makeup_db - c->reduction_db);
    l[i] *= gain;
    r[i] *= gain;
  }
}

void limiter_init(limiter_s *lim, double ceiling, double lookahead_s, double release_s) {
  lim->lookahead = std::max(1, int(std::lround(lookahead_s * SYNTH_RATE)));
  lim->ceiling = ceiling;
  lim->release_coef = time_coef(release_s);
  const size_t span = size_t(lim->lookahead) + 1;
  lim->delayed_l.assign(size_t(lim->lookahead), 0.0);
  lim->delayed_r.assign(size_t(lim->lookahead), 0.0);
  lim->window_gain.assign(span + 1, 1.0);
  lim->window_index.assign(span + 1, 0);
  lim->window_head = lim->window_tail = 0;
  lim->held = 1.0;
  lim->smooth.assign(size_t(lim->lookahead), 1.0);
  lim->smooth_sum = double(lim->lookahead);
  lim->frame = 0;
  lim->deepest = 1.0;
  lim->reduced = 0;
}

void limiter_process(limiter_s *lim, double *l, double *r, int n) {
  const int span = lim->lookahead + 1;
  const int slots = int(lim->window_gain.size());
  for (int i = 0; i < n; ++i) {
    const std::int64_t now = lim->frame++;
    const double peak = std::max(std::fabs(l[i]), std::fabs(r[i]));
    const double needed = peak > lim->ceiling ? lim->ceiling / peak : 1.0;

    // Sliding minimum of the needed gain over the look-ahead plus the frame
    // that leaves the delay now: a monotonic queue, O(1) per frame.
    while (lim->window_head != lim->window_tail) {
      const int back = (lim->window_tail + slots - 1) % slots;
      if (lim->window_gain[size_t(back)] < needed)
        break;
      lim->window_tail = back;
    }
    lim->window_gain[size_t(lim->window_tail)] = needed;
    lim->window_index[size_t(lim->window_tail)] = now;
    lim->window_tail = (lim->window_tail + 1) % slots;
    while (lim->window_index[size_t(lim->window_head)] <= now - span)
      lim->window_head = (lim->window_head + 1) % slots;
    const double minimum = lim->window_gain[size_t(lim->window_head)];

    // Drops are taken at once, recovery is slow; the box average then turns
    // the steps into ramps that still end below every needed gain, because
    // each value it averages already covers the frame being released.
    lim->held = minimum < lim->held ? minimum : minimum + (lim->held - minimum) * lim->release_coef;
    const size_t slot = size_t(now % lim->lookahead);
    lim->smooth_sum += lim->held - lim->smooth[slot];
    lim->smooth[slot] = lim->held;
    if (slot == 0) {
      // Re-add from scratch now and then so rounding cannot creep up.
      double sum = 0.0;
      for (double g : lim->smooth)
        sum += g;
      lim->smooth_sum = sum;
    }
    const double gain = std::min(1.0, lim->smooth_sum / lim->lookahead);
    lim->deepest = std::min(lim->deepest, gain);
    lim->reduced += gain < 0.891 ? 1 : 0;

    // The frame leaving the delay is `lookahead` old: the newest frame the
    // average covers entered its window with it.
    const double out_l = lim->delayed_l[slot], out_r = lim->delayed_r[slot];
    lim->delayed_l[slot] = l[i];
    lim->delayed_r[slot] = r[i];
    l[i] = out_l * gain;
    r[i] = out_r * gain;
  }
}
