#include "show_capture.h"

#include "ledsim_server.h"
#include "show_driver.h"
#include "show_timeline.h"
#include "virtual_player.h"
#include "virtual_time.h"

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr std::int64_t NS_PER_MS = 1'000'000;

struct capture_s {
  capture_range range;
  capture_handlers handlers;
  ledsim_server_t server = nullptr;
  std::int64_t show_start_ns = 0;         // virtual time when the driver began
  std::int64_t from_ns = -1, to_ns = -1;  // show time of the range, -1 until known
  wall_frame wall{};
  long next = 0;                          // the next video frame
};

void on_wall(void *context, const wall_frame &frame) { static_cast<capture_s *>(context)->wall = frame; }

std::int64_t playback_start(const capture_s *c) {
  const std::int64_t started = virtual_player_started_ns();
  return started < 0 ? -1 : started - c->show_start_ns;
}

void end(capture_s *c, capture_outcome outcome, const std::string &why) {
  c->handlers.end(c->handlers.context, outcome, why, playback_start(c));
}

// Ends the capture while the show still plays. Its scenes cannot be left
// half-way, so this thread stays here until the process ends; it holds no
// lock and touches nothing meanwhile.
[[noreturn]] void leave(capture_s *c, capture_outcome outcome, const std::string &why = "") {
  end(c, outcome, why);
  for (;;)
    pause();
}

// One end of the range as the user gave it, with its moment once known.
std::string end_text(const render_time &t, bool show_end, std::int64_t ns) {
  const std::string at = ns >= 0 ? render_time_text(ns / NS_PER_MS) : "";
  if (show_end)
    return "the show's end (at " + at + ")";
  if (!t.is_scene)
    return at;
  const std::string name = std::string("\"") + SHOW_SCENES[t.scene].name + "\"";
  return ns >= 0 ? name + " (at " + at + ")" : name;
}

// What is wrong with the range at show time `now_ns`; "" while it may still hold frames.
std::string emptiness(const capture_s *c, std::int64_t now_ns) {
  const capture_range &r = c->range;
  const std::string from = end_text(r.from, false, c->from_ns), to = end_text(r.to, r.to_end, c->to_ns);
  if (c->from_ns >= 0 && c->to_ns >= 0 && c->to_ns <= c->from_ns)
    return "the range is empty: --to " + to + " is not after --from " + from;
  // A start that has not come by the range's end comes after it.
  if (c->from_ns < 0 && c->to_ns >= 0 && now_ns >= c->to_ns)
    return "the range is empty: --from " + from + " has not started by --to " + to;
  return "";
}

// Hands on the frames up to show time `now_ns`, whose pictures have all
// been taken in. The outcome once the range is done or a handler stopped it.
std::optional<capture_outcome> advance(capture_s *c, std::int64_t now_ns) {
  if (c->from_ns < 0)
    return std::nullopt;
  for (;;) {
    const std::int64_t at = c->from_ns + c->next * CAPTURE_FRAME_MS * NS_PER_MS;
    if (c->to_ns >= 0 && at >= c->to_ns)
      return capture_outcome::done;
    if (at > now_ns)
      return std::nullopt;
    if (!c->handlers.frame(c->handlers.context, {c->next, at / NS_PER_MS, &c->wall, playback_start(c)}))
      return capture_outcome::stopped;
    ++c->next;
  }
}

// Takes in what the show has sent, checks the range and hands on its frames
// up to show time `now_ns`; leaves once the capture is over.
void step(capture_s *c, std::int64_t now_ns) {
  if (c->handlers.stop(c->handlers.context))
    leave(c, capture_outcome::stopped);
  if (ledsim_server_take_waiting(c->server, on_wall, c) != 0)
    leave(c, capture_outcome::failed, "the wall's OPC server in this process failed");
  if (const std::string empty = emptiness(c, now_ns); !empty.empty())
    leave(c, capture_outcome::empty_range, empty);
  if (const auto outcome = advance(c, now_ns))
    leave(c, *outcome);
}

void on_sleep(std::int64_t now_ns, void *context) {
  auto *c = static_cast<capture_s *>(context);
  step(c, now_ns - c->show_start_ns);
}

// A range starts with the frame of its start's moment and ends before the
// frame of its end's.
void on_scene(std::size_t scene, void *context) {
  auto *c = static_cast<capture_s *>(context);
  const std::int64_t now = virtual_time_ns() - c->show_start_ns;
  const capture_range &r = c->range;
  if (!r.to_end && r.to.is_scene && r.to.scene == scene)
    c->to_ns = now;
  if (r.from.is_scene && r.from.scene == scene)
    c->from_ns = now;
  step(c, now);
}

} // namespace

void show_capture_run(const capture_range &range, const capture_handlers &handlers) {
  static capture_s c; // the show runs once per process
  c.range = range;
  c.handlers = handlers;
  c.server = ledsim_server_init("127.0.0.1:0", ledsim_faults{});
  if (!c.server) {
    end(&c, capture_outcome::failed, "the wall's OPC server in this process cannot listen on 127.0.0.1");
    return;
  }
  const std::string opc = "127.0.0.1:" + std::to_string(ledsim_server_port(c.server));
  setenv("OPC", opc.c_str(), 1);
  if (!range.from.is_scene)
    c.from_ns = range.from.ms * NS_PER_MS;
  if (!range.to_end && !range.to.is_scene)
    c.to_ns = range.to.ms * NS_PER_MS;

  c.show_start_ns = virtual_time_ns();
  virtual_time_observe_sleeps(on_sleep, &c);
  show_run(on_scene, &c);
  virtual_time_observe_sleeps(nullptr, nullptr);

  // The show is over: whatever ends here returns, and the server goes first,
  // since the process may end as soon as `end` has been called.
  const bool taken = ledsim_server_take_waiting(c.server, on_wall, &c) == 0;
  ledsim_server_done(c.server);
  if (!taken)
    return end(&c, capture_outcome::failed, "the wall's OPC server in this process failed");
  const std::int64_t show_end = virtual_time_ns() - c.show_start_ns;
  if (range.to_end)
    c.to_ns = show_end;
  if (c.from_ns < 0 || c.to_ns < 0) // a scene the show never got to
    return end(&c, capture_outcome::empty_range,
               "the range is empty: the show ended (at " + render_time_text(show_end / NS_PER_MS) +
                   ") before it got to " + (c.from_ns < 0 ? "--from" : "--to"));
  if (const std::string empty = emptiness(&c, c.to_ns); !empty.empty())
    return end(&c, capture_outcome::empty_range, empty);
  // Past the show's end the wall keeps its last picture.
  end(&c, advance(&c, c.to_ns).value_or(capture_outcome::done), "");
}
