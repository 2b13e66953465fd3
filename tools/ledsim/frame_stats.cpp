#include "frame_stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

frame_stats_t frame_stats_init() {
  auto *stats = new frame_stats_s;
  stats->received_ns.reserve(16384); // a whole show at 25 frames per second
  return stats;
}

void frame_stats_add(frame_stats_t stats, std::int64_t received_ns) { stats->received_ns.push_back(received_ns); }

frame_summary frame_stats_summary(frame_stats_t stats, int connections) {
  frame_summary summary{long(stats->received_ns.size()), connections, 0, 0, 0, 0, 0};
  const auto &t = stats->received_ns;
  if (t.size() < 2)
    return summary;
  std::vector<double> gaps_ms = frame_gaps_ms(t);
  summary.mean_ms = std::accumulate(gaps_ms.begin(), gaps_ms.end(), 0.0) / double(gaps_ms.size());
  summary.gaps_over_60ms =
      long(std::count_if(gaps_ms.begin(), gaps_ms.end(), [](double g) { return g > FRAME_LONG_GAP_MS; }));
  std::sort(gaps_ms.begin(), gaps_ms.end());
  const size_t n = gaps_ms.size();
  summary.median_ms = n % 2 ? gaps_ms[n / 2] : (gaps_ms[n / 2 - 1] + gaps_ms[n / 2]) / 2;
  summary.p99_ms = gaps_ms[size_t(std::ceil(0.99 * double(n))) - 1];
  summary.max_ms = gaps_ms.back();
  return summary;
}

void frame_stats_done(frame_stats_t stats) { delete stats; }

void frame_summary_print(std::FILE *out, const frame_summary &s) {
  std::fprintf(out,
               "frames: %ld\nconnections: %d\nmean frame period: %.2f ms\nmedian: %.2f ms\n"
               "99th percentile: %.2f ms\nlargest gap: %.2f ms\ngaps over 60 ms: %ld\n",
               s.frames, s.connections, s.mean_ms, s.median_ms, s.p99_ms, s.max_ms, s.gaps_over_60ms);
}

std::vector<double> frame_gaps_ms(const std::vector<std::int64_t> &received_ns) {
  std::vector<double> gaps_ms;
  gaps_ms.reserve(received_ns.empty() ? 0 : received_ns.size() - 1);
  for (size_t i = 1; i < received_ns.size(); ++i)
    gaps_ms.push_back(double(received_ns[i] - received_ns[i - 1]) / 1e6);
  return gaps_ms;
}

frame_drift frame_stats_drift(frame_stats_t stats, double period_ms) {
  frame_drift drift{0, 0, 0, 0};
  const auto &t = stats->received_ns;
  if (t.size() < 2)
    return drift;
  // From the span itself rather than a sum of gaps, so that the headline
  // figure carries no rounding of its parts.
  drift.drift_ms = double(t.back() - t.front()) / 1e6 - period_ms * double(t.size() - 1);
  for (const double gap : frame_gaps_ms(t))
    if (gap > FRAME_LONG_GAP_MS) {
      ++drift.long_gaps;
      drift.long_gaps_excess_ms += gap - period_ms;
    }
  drift.regular_excess_ms = drift.drift_ms - drift.long_gaps_excess_ms;
  return drift;
}

void frame_drift_print(std::FILE *out, const frame_drift &d) {
  std::fprintf(out,
               "drift: %.2f ms\nlong gaps: %ld\nlong gaps excess: %.2f ms\nregular gaps excess: %.2f ms\n",
               d.drift_ms, d.long_gaps, d.long_gaps_excess_ms, d.regular_excess_ms);
}
