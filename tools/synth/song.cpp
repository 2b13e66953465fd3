#include "song.h"

#include <algorithm>
#include <cassert>

double automation_at(const automation_s &a, std::int64_t frame) {
  if (a.points.empty())
    return a.fallback;
  if (frame <= a.points.front().frame)
    return a.points.front().value;
  if (frame >= a.points.back().frame)
    return a.points.back().value;
  const auto next = std::upper_bound(a.points.begin(), a.points.end(), frame,
                                     [](std::int64_t f, const automation_point &p) { return f < p.frame; });
  const auto prev = next - 1;
  const double t = double(frame - prev->frame) / double(next->frame - prev->frame);
  return prev->value + (next->value - prev->value) * t;
}

void automation_add(automation_s *a, std::int64_t frame, double value) {
  assert((a->points.empty() || frame >= a->points.back().frame) && "automation points come in time order");
  a->points.push_back({frame, value});
}
