#include "show_capture.h"

#include "ledsim_server.h"
#include "show_driver.h"
#include "show_timeline.h"
#include "virtual_player.h"
#include "virtual_time.h"

#include <cstdlib>
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
  bool ended = false;
  int status = 0;
};

void on_wall(void *context, const wall_frame &frame) { static_cast<capture_s *>(context)->wall = frame; }

std::int64_t playback_start(const capture_s *c) {
  const std::int64_t started = virtual_player_started_ns();
  return started < 0 ? -1 : started - c->show_start_ns;
}

int finish(capture_s *c, const std::string &failure) {
  if (!c->ended) {
    c->ended = true;
    c->status = c->handlers.end(c->handlers.context, failure, playback_start(c));
  }
  return c->status;
}

// Everything up to show time `now_ns` is known: the frames sent until then
// have been taken in, so the video frames up to that moment can go.
void advance(capture_s *c, std::int64_t now_ns) {
  if (c->ended || c->from_ns < 0)
    return;
  for (;;) {
    const std::int64_t at = c->from_ns + c->next * CAPTURE_FRAME_MS * NS_PER_MS;
    if (c->to_ns >= 0 && at >= c->to_ns) {
      finish(c, "");
      return;
    }
    if (at > now_ns)
      return;
    c->handlers.frame(c->handlers.context, {c->next, at / NS_PER_MS, &c->wall, playback_start(c)});
    ++c->next;
  }
}

// Takes in what the show has sent; false when the wall's server failed.
bool take_frames(capture_s *c) {
  if (ledsim_server_take_waiting(c->server, on_wall, c) == 0)
    return true;
  finish(c, "the wall's OPC server in this process failed");
  return false;
}

void end_process_once_done(capture_s *c) {
  if (c->ended)
    std::exit(c->status);
}

void on_sleep(std::int64_t now_ns, void *context) {
  auto *c = static_cast<capture_s *>(context);
  if (take_frames(c))
    advance(c, now_ns - c->show_start_ns);
  end_process_once_done(c);
}

void on_scene(std::size_t scene, void *context) {
  auto *c = static_cast<capture_s *>(context);
  if (!take_frames(c)) {
    end_process_once_done(c);
    return;
  }
  // A range ends before the frame of its end's moment and starts with it.
  const std::int64_t now = virtual_time_ns() - c->show_start_ns;
  if (!c->range.to_end && c->range.to.is_scene && c->range.to.scene == scene) {
    c->to_ns = now;
    if (c->from_ns < 0 || c->to_ns <= c->from_ns)
      finish(c, std::string("the range is empty: --to \"") + SHOW_SCENES[scene].name + "\" (at " +
                    render_time_text(now / NS_PER_MS) + ") is not after --from");
  }
  advance(c, now);
  if (c->range.from.is_scene && c->range.from.scene == scene) {
    c->from_ns = now;
    advance(c, now);
  }
  end_process_once_done(c);
}

} // namespace

int show_capture_run(const capture_range &range, const capture_handlers &handlers) {
  static capture_s c; // the show runs once per process
  c.range = range;
  c.handlers = handlers;
  c.server = ledsim_server_init("127.0.0.1:0", ledsim_faults{});
  if (!c.server)
    return finish(&c, "the wall's OPC server in this process cannot listen on 127.0.0.1");
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

  if (take_frames(&c)) {
    const std::int64_t end = virtual_time_ns() - c.show_start_ns;
    if (c.to_ns < 0)
      c.to_ns = end; // to the end of the show
    // Past the show's end the wall keeps its last picture.
    advance(&c, c.to_ns);
    finish(&c, "");
  }
  ledsim_server_done(c.server);
  return c.status;
}
