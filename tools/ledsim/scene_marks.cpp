#include "scene_marks.h"

#include "frame_stats.h"

#include <algorithm>

namespace {

constexpr std::size_t PLAYBACK_STARTS = PLAYBACK_STARTS_AFTER_FRAMES;

bool long_gap_before(const std::vector<std::int64_t> &t, std::size_t i) {
  return i > 0 && i < t.size() && double(t[i] - t[i - 1]) / 1e6 > FRAME_LONG_GAP_MS;
}

// The frame nearest `predicted` (the earlier on a tie) that follows a long
// gap, within the snap window and after `after`; `predicted` when none does.
std::size_t snap_to_gap(const std::vector<std::int64_t> &t, std::size_t predicted, std::size_t after) {
  for (std::size_t d = 0; d <= SCENE_SNAP_AHEAD_FRAMES; ++d) {
    if (d <= SCENE_SNAP_BACK_FRAMES && d <= predicted && predicted - d > after && long_gap_before(t, predicted - d))
      return predicted - d;
    if (long_gap_before(t, predicted + d))
      return predicted + d;
  }
  return predicted;
}

} // namespace

std::vector<scene_mark> show_scene_marks(const std::vector<std::int64_t> &t, std::span<const show_scene> scenes) {
  std::vector<scene_mark> marks;
  std::size_t start = 0;
  std::int64_t behind_ns = 0; // how much later than their cues the scenes have been found to end
  for (const show_scene &scene : scenes) {
    if (start >= t.size())
      break;
    marks.push_back({start, scene.name});
    if (scene.end == scene_end::at_show_end)
      break;
    if (scene.end == scene_end::after_frames) {
      start += std::size_t(scene.frames);
      continue;
    }
    if (t.size() < PLAYBACK_STARTS)
      break;
    const std::int64_t cue_ns = t[PLAYBACK_STARTS - 1] + std::int64_t(scene.cue_ms) * 1'000'000 + behind_ns;
    const auto at_cue = std::lower_bound(t.begin() + std::ptrdiff_t(start) + 1, t.end(), cue_ns);
    const std::size_t predicted = std::size_t(at_cue - t.begin()) + std::size_t(scene.frames_after_cue);
    const std::size_t found = snap_to_gap(t, predicted, start);
    if (found < t.size() && predicted < t.size())
      behind_ns += t[found] - t[predicted];
    start = found;
  }
  return marks;
}

const char *show_scene_of(const std::vector<scene_mark> &marks, std::size_t frame) {
  const char *label = "";
  for (const scene_mark &mark : marks)
    if (mark.frame <= frame)
      label = mark.label;
  return label;
}

std::vector<scene_gaps> show_scene_gaps(const std::vector<std::int64_t> &t, const std::vector<scene_mark> &marks,
                                        double period_ms) {
  std::vector<scene_gaps> scenes;
  for (std::size_t m = 0; m < marks.size(); ++m) {
    scene_gaps gaps{marks[m].label, false, 0, 0, 0};
    const std::size_t end = m + 1 < marks.size() ? marks[m + 1].frame : t.size();
    for (std::size_t i = marks[m].frame; i < end; ++i) {
      if (!long_gap_before(t, i))
        continue;
      const double excess = double(t[i] - t[i - 1]) / 1e6 - period_ms;
      if (i == marks[m].frame) {
        gaps.long_start = true;
        gaps.start_excess_ms = excess;
      } else {
        ++gaps.inner_gaps;
        gaps.inner_excess_ms += excess;
      }
    }
    scenes.push_back(gaps);
  }
  return scenes;
}
