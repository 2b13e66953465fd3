// framestats FRAME_LOG: the timing of a simulator frame log as "name: value"
// lines: the simulator's summary, the drift against the show's 40 ms grid, the
// parts of it the scenes' starts and the long gaps inside each scene make, and
// where the largest gap lies.
#include "frame_log.h"
#include "frame_stats.h"
#include "scene_marks.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr double PERIOD_MS = 40.0;

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: framestats FRAME_LOG\n");
    return 2;
  }
  std::vector<std::int64_t> received_ns;
  int connections = 0;
  if (!frame_log_read_times(argv[1], &received_ns, &connections))
    return 1;
  const frame_stats_t stats = frame_stats_init();
  for (const std::int64_t t : received_ns)
    frame_stats_add(stats, t);
  frame_summary_print(stdout, frame_stats_summary(stats, connections));
  frame_drift_print(stdout, frame_stats_drift(stats, PERIOD_MS));
  frame_stats_done(stats);

  const std::vector<scene_mark> marks = show_scene_marks(received_ns);
  const std::vector<scene_gaps> scenes = show_scene_gaps(received_ns, marks, PERIOD_MS);
  long starts = 0;
  double starts_excess_ms = 0;
  for (const scene_gaps &scene : scenes)
    if (scene.long_start) {
      ++starts;
      starts_excess_ms += scene.start_excess_ms;
    }
  std::printf("scenes found: %zu\nlong gaps opening a scene: %ld\nscene starts excess: %.2f ms\n", marks.size(), starts,
              starts_excess_ms);
  for (const scene_gaps &scene : scenes)
    if (scene.inner_gaps > 0)
      std::printf("long gaps inside %s: %ld, %.2f ms\n", scene.label, scene.inner_gaps, scene.inner_excess_ms);
  const std::vector<double> gaps = frame_gaps_ms(received_ns);
  if (!gaps.empty()) {
    // Gap i ends with frame i + 1.
    const std::size_t largest = std::size_t(std::max_element(gaps.begin(), gaps.end()) - gaps.begin()) + 1;
    std::printf("largest gap at: %.1f s\nlargest gap in: %s\n", double(received_ns[largest] - received_ns[0]) / 1e9,
                show_scene_of(marks, largest));
  }
  return 0;
}
