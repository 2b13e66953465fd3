#include "wall_status.h"

#include "scene_marks.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::int64_t SECOND_NS = 1'000'000'000;
constexpr std::int64_t MS_NS = 1'000'000;

// Moves the count of the last second on to now_ns: the milliseconds that
// passed since it was last moved start again from nothing.
void count_up_to_now(wall_status_t s) {
  const std::int64_t now_ms = s->now_ns / MS_NS;
  const std::int64_t window = std::int64_t(s->per_ms.size());
  if (now_ms - s->counted_ms >= window)
    s->per_ms.fill(0);
  else
    for (std::int64_t ms = s->counted_ms + 1; ms <= now_ms; ++ms)
      s->per_ms[std::size_t(ms % window)] = 0;
  s->counted_ms = std::max(s->counted_ms, now_ms);
}

void append(std::string *line, const char *format, auto... values) {
  char field[96];
  const int n = std::snprintf(field, sizeof field, format, values...);
  if (n > 0)
    line->append(field, std::size_t(n) < sizeof field ? std::size_t(n) : sizeof field - 1);
}

const char *scene_now(const wall_status_s &s) {
  if (s.show_ns.empty() || s.show_ns.size() == WALL_STATUS_SHOW_FRAMES)
    return "";
  return show_scene_of(show_scene_marks(s.show_ns), s.show_ns.size() - 1);
}

} // namespace

wall_status_t wall_status_init(const std::string &address) {
  auto *s = new wall_status_s;
  s->address = address;
  s->show_ns.reserve(WALL_STATUS_SHOW_FRAMES);
  return s;
}

void wall_status_done(wall_status_t status) { delete status; }

void wall_status_frame(wall_status_t s, const wall_frame &frame) {
  if (s->frames > 0)
    s->largest_gap_ms = std::max(s->largest_gap_ms, double(frame.received_ns - s->last_frame_ns) / 1e6);
  if (frame.connection != s->connection) { // a new client starts the show again
    s->show_ns.clear();
    s->show_first_ns = frame.received_ns;
  }
  s->connection = frame.connection;
  s->connected = true;
  ++s->frames;
  s->now_ns = std::max(s->now_ns, frame.received_ns);
  s->last_frame_ns = frame.received_ns;
  if (s->show_ns.size() < WALL_STATUS_SHOW_FRAMES)
    s->show_ns.push_back(frame.received_ns);
  count_up_to_now(s);
  if (s->now_ns - frame.received_ns < SECOND_NS)
    ++s->per_ms[std::size_t(frame.received_ns / MS_NS % std::int64_t(s->per_ms.size()))];
}

void wall_status_tick(wall_status_t s, std::int64_t now_ns, bool connected) {
  s->now_ns = std::max(s->now_ns, now_ns);
  s->connected = connected;
  count_up_to_now(s);
}

int wall_status_rate(const wall_status_s &s) {
  int frames = 0;
  for (const int n : s.per_ms)
    frames += n;
  return frames;
}

long wall_status_silent_s(const wall_status_s &s) {
  return s.frames > 0 ? long((s.now_ns - s.last_frame_ns) / SECOND_NS) : 0;
}

void wall_status_line(const wall_status_s &s, std::string *line) {
  line->clear();
  line->append(s.connected ? "connected on " : "waiting for a client on ");
  line->append(s.address);
  if (s.frames == 0 && !s.connected)
    return;
  append(line, "  frames %ld  %d fps", s.frames, wall_status_rate(s));
  if (wall_status_silent_s(s) >= 1)
    append(line, "  no frames for %ld s", wall_status_silent_s(s));
  if (s.connection >= 0) {
    const long show_s = long((s.last_frame_ns - s.show_first_ns) / SECOND_NS);
    append(line, "  show %ld:%02ld", show_s / 60, show_s % 60);
    if (const char *scene = scene_now(s); *scene)
      append(line, " ~ %s", scene);
  }
  if (s.frames > 1)
    append(line, "  largest gap %.1f ms", s.largest_gap_ms);
}
