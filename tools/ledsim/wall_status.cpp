#include "wall_status.h"

#include "scene_marks.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::int64_t SECOND_NS = 1'000'000'000;

void forget_older_than_a_second(wall_status_t s) {
  while (!s->last_second.empty() && s->now_ns - s->last_second.front() >= SECOND_NS)
    s->last_second.pop_front();
}

void append(std::string *line, const char *format, auto... values) {
  char field[96];
  const int n = std::snprintf(field, sizeof field, format, values...);
  if (n > 0)
    line->append(field, std::size_t(n) < sizeof field ? std::size_t(n) : sizeof field - 1);
}

} // namespace

wall_status_t wall_status_init(const std::string &address) {
  auto *s = new wall_status_s;
  s->address = address;
  s->show_ns.reserve(16384); // a whole show at 25 frames per second
  return s;
}

void wall_status_done(wall_status_t status) { delete status; }

void wall_status_frame(wall_status_t s, const wall_frame &frame) {
  if (s->frames > 0)
    s->largest_gap_ms = std::max(s->largest_gap_ms, double(frame.received_ns - s->last_frame_ns) / 1e6);
  if (frame.connection != s->connection)
    s->show_ns.clear(); // a new client starts the show again
  s->connection = frame.connection;
  s->connected = true;
  ++s->frames;
  s->now_ns = s->last_frame_ns = frame.received_ns;
  s->show_ns.push_back(frame.received_ns);
  s->last_second.push_back(frame.received_ns);
  forget_older_than_a_second(s);
  s->scene = show_scene_of(show_scene_marks(s->show_ns), s->show_ns.size() - 1);
}

void wall_status_tick(wall_status_t s, std::int64_t now_ns, bool connected) {
  s->now_ns = std::max(s->now_ns, now_ns);
  s->connected = connected;
  forget_older_than_a_second(s);
}

int wall_status_rate(const wall_status_s &s) { return int(s.last_second.size()); }

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
  if (!s.show_ns.empty()) {
    const long show_s = long((s.show_ns.back() - s.show_ns.front()) / SECOND_NS);
    append(line, "  show %ld:%02ld", show_s / 60, show_s % 60);
    if (*s.scene)
      append(line, " ~ %s", s.scene);
  }
  if (s.frames > 1)
    append(line, "  largest gap %.1f ms", s.largest_gap_ms);
}
