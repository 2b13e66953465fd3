// Timing of the frames the wall received: the gaps between consecutive
// frames, whatever connection they came on.
//
// The record keeps running figures, not the frames: its size is the same
// after ten frames and after a billion. The median and the 99th percentile
// come from a histogram of the gaps rounded to FRAME_STATS_RESOLUTION_NS
// (exact to the 0.01 ms the summary prints) up to FRAME_STATS_FINE_MS, and to
// 10 ms above that up to FRAME_STATS_COARSE_MS; longer gaps count as the
// largest one, which is kept exactly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// A gap longer than this is a pause the wall can see (one and a half periods).
inline constexpr double FRAME_LONG_GAP_MS = 60.0;

struct frame_summary {
  long frames;
  int connections;
  double mean_ms;   // mean gap between consecutive frames
  double median_ms;
  double p99_ms;    // 99th percentile (nearest rank)
  double max_ms;
  long gaps_over_60ms;
};

inline constexpr std::int64_t FRAME_STATS_RESOLUTION_NS = 10'000;
inline constexpr std::int64_t FRAME_STATS_FINE_MS = 2'500;
inline constexpr std::int64_t FRAME_STATS_COARSE_MS = 600'000;

struct frame_stats_s {
  long frames = 0;
  std::int64_t first_ns = 0, last_ns = 0;
  double max_ms = 0;
  long long_gaps = 0;           // gaps over FRAME_LONG_GAP_MS ...
  double long_gaps_sum_ms = 0;  // ... and their sum
  std::vector<std::uint32_t> gap_counts; // the histogram
};
using frame_stats_t = frame_stats_s *;

frame_stats_t frame_stats_init();
void frame_stats_add(frame_stats_t stats, std::int64_t received_ns);
frame_summary frame_stats_summary(frame_stats_t stats, int connections);
void frame_stats_done(frame_stats_t stats); // accepts null

// The summary as "name: value" lines, one figure each.
void frame_summary_print(std::FILE *out, const frame_summary &summary);

// The gaps between consecutive receive times, in milliseconds: one fewer than
// there are times.
std::vector<double> frame_gaps_ms(const std::vector<std::int64_t> &received_ns);

// How far the stream fell behind a grid of one frame per period:
//
//   drift = (t_last - t_first) - period * (frames - 1)
//
// Every gap adds its excess over the period to it. The gaps over
// FRAME_LONG_GAP_MS are summed apart: those are the pauses the sender makes
// on purpose or by falling behind, the rest is the regular frames' share.
struct frame_drift {
  double drift_ms;
  long long_gaps;             // gaps over FRAME_LONG_GAP_MS
  double long_gaps_excess_ms; // their excess over the period, summed
  double regular_excess_ms;   // drift_ms - long_gaps_excess_ms
};

frame_drift frame_stats_drift(frame_stats_t stats, double period_ms);

// The drift as "name: value" lines, in the manner of frame_summary_print.
void frame_drift_print(std::FILE *out, const frame_drift &drift);
