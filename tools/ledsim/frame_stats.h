// Timing of the frames the wall received: the gaps between consecutive
// frames, whatever connection they came on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

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
