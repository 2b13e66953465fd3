#include "frame_stats.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int64_t MS = 1'000'000;
constexpr std::size_t FINE_BINS = std::size_t(FRAME_STATS_FINE_MS * MS / FRAME_STATS_RESOLUTION_NS);
constexpr std::int64_t COARSE_NS = 10 * MS;
constexpr std::size_t COARSE_BINS = std::size_t((FRAME_STATS_COARSE_MS - FRAME_STATS_FINE_MS) * MS / COARSE_NS);

// The bin of a gap: to the nearest resolution step below FRAME_STATS_FINE_MS,
// to the nearest 10 ms above, the last bin for anything longer.
std::size_t bin_of(std::int64_t gap_ns) {
  const std::int64_t fine = (gap_ns + FRAME_STATS_RESOLUTION_NS / 2) / FRAME_STATS_RESOLUTION_NS;
  if (fine < std::int64_t(FINE_BINS))
    return std::size_t(std::max<std::int64_t>(fine, 0));
  const std::int64_t coarse = (gap_ns - FRAME_STATS_FINE_MS * MS + COARSE_NS / 2) / COARSE_NS;
  return FINE_BINS + std::size_t(std::min<std::int64_t>(coarse, std::int64_t(COARSE_BINS)));
}

double bin_ms(const frame_stats_s &stats, std::size_t bin) {
  if (bin < FINE_BINS)
    return double(std::int64_t(bin) * FRAME_STATS_RESOLUTION_NS) / 1e6;
  if (bin == FINE_BINS + COARSE_BINS)
    return stats.max_ms;
  return double(FRAME_STATS_FINE_MS * MS + std::int64_t(bin - FINE_BINS) * COARSE_NS) / 1e6;
}

// The gap of rank `k` (from 0) in ascending order.
double gap_of_rank(const frame_stats_s &stats, long k) {
  long seen = 0;
  for (std::size_t bin = 0; bin < stats.gap_counts.size(); ++bin) {
    seen += long(stats.gap_counts[bin]);
    if (seen > k)
      return std::min(bin_ms(stats, bin), stats.max_ms);
  }
  return stats.max_ms;
}

} // namespace

frame_stats_t frame_stats_init() {
  auto *stats = new frame_stats_s;
  stats->gap_counts.assign(FINE_BINS + COARSE_BINS + 1, 0);
  return stats;
}

void frame_stats_add(frame_stats_t stats, std::int64_t received_ns) {
  if (stats->frames++ == 0) {
    stats->first_ns = stats->last_ns = received_ns;
    return;
  }
  const std::int64_t gap_ns = received_ns - stats->last_ns;
  const double gap_ms = double(gap_ns) / 1e6;
  stats->last_ns = received_ns;
  stats->max_ms = std::max(stats->max_ms, gap_ms);
  if (gap_ms > FRAME_LONG_GAP_MS) {
    ++stats->long_gaps;
    stats->long_gaps_sum_ms += gap_ms;
  }
  ++stats->gap_counts[bin_of(gap_ns)];
}

frame_summary frame_stats_summary(frame_stats_t stats, int connections) {
  frame_summary summary{stats->frames, connections, 0, 0, 0, 0, 0};
  const long n = stats->frames - 1; // gaps
  if (n < 1)
    return summary;
  summary.mean_ms = double(stats->last_ns - stats->first_ns) / 1e6 / double(n);
  summary.gaps_over_60ms = stats->long_gaps;
  summary.median_ms = n % 2 ? gap_of_rank(*stats, n / 2) : (gap_of_rank(*stats, n / 2 - 1) + gap_of_rank(*stats, n / 2)) / 2;
  summary.p99_ms = gap_of_rank(*stats, long(std::ceil(0.99 * double(n))) - 1);
  summary.max_ms = stats->max_ms;
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
  if (stats->frames < 2)
    return drift;
  // From the span itself rather than a sum of gaps, so that the headline
  // figure carries no rounding of its parts.
  drift.drift_ms = double(stats->last_ns - stats->first_ns) / 1e6 - period_ms * double(stats->frames - 1);
  drift.long_gaps = stats->long_gaps;
  drift.long_gaps_excess_ms = stats->long_gaps_sum_ms - period_ms * double(stats->long_gaps);
  drift.regular_excess_ms = drift.drift_ms - drift.long_gaps_excess_ms;
  return drift;
}

void frame_drift_print(std::FILE *out, const frame_drift &d) {
  std::fprintf(out,
               "drift: %.2f ms\nlong gaps: %ld\nlong gaps excess: %.2f ms\nregular gaps excess: %.2f ms\n",
               d.drift_ms, d.long_gaps, d.long_gaps_excess_ms, d.regular_excess_ms);
}
