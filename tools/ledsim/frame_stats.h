// Timing of the frames the wall received: the gaps between consecutive
// frames, whatever connection they came on.
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

struct frame_stats_s {
  std::vector<std::int64_t> received_ns;
};
using frame_stats_t = frame_stats_s *;

frame_stats_t frame_stats_init();
void frame_stats_add(frame_stats_t stats, std::int64_t received_ns);
frame_summary frame_stats_summary(frame_stats_t stats, int connections);
void frame_stats_done(frame_stats_t stats);

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
