#include "live_views.h"

#ifdef LEDSIM_HTTP
#include "http_view.h"
#endif
#include "terminal_view.h"
#include "wall_status.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

struct live_views_s {
  terminal_view_t terminal = nullptr;
#ifdef LEDSIM_HTTP
  http_view_t http = nullptr;
#endif

  // Written by the OPC thread, read by the views' thread, under the lock.
  std::mutex lock;
  std::condition_variable wake;
  wall_status_t status = nullptr;
  wall_frame frame{};
  bool frame_new = true; // the dark wall, until a client comes
  bool status_new = true;
  bool stopping = false;

  std::thread showing;
};

namespace {

void hand_to_views(live_views_t live, const wall_frame *frame, const std::string &line) {
  if (live->terminal) {
    if (frame)
      terminal_view_draw(live->terminal, *frame, line.c_str());
    else
      terminal_view_status(live->terminal, line.c_str());
  }
#ifdef LEDSIM_HTTP
  if (live->http) {
    if (frame)
      http_view_frame(live->http, *frame, line);
    else
      http_view_status(live->http, line);
  }
#endif
}

// Takes what changed, at most LIVE_VIEWS_MAX_RATE times a second, and hands
// it on. The status is copied (the copy keeps its buffers from turn to
// turn), so the line is made without the lock.
void showing_thread(live_views_t live) {
  using clock = std::chrono::steady_clock;
  constexpr auto TURN = std::chrono::microseconds(1'000'000 / LIVE_VIEWS_MAX_RATE);
  wall_status_s status;
  wall_frame frame{};
  std::string line, shown_line;
  for (auto next_turn = clock::now();;) {
    bool frame_new = false;
    {
      std::unique_lock<std::mutex> hold(live->lock);
      live->wake.wait(hold, [live] { return live->frame_new || live->status_new || live->stopping; });
      if (live->stopping)
        return;
      status = *live->status;
      frame_new = live->frame_new;
      if (frame_new)
        frame = live->frame;
      live->frame_new = live->status_new = false;
    }
    wall_status_line(status, &line);
    if (frame_new || line != shown_line)
      hand_to_views(live, frame_new ? &frame : nullptr, line);
    shown_line.swap(line);
    next_turn = std::max(next_turn + TURN, clock::now());
    std::unique_lock<std::mutex> hold(live->lock);
    live->wake.wait_until(hold, next_turn, [live] { return live->stopping; });
  }
}

} // namespace

live_views_t live_views_init(const std::string &address, bool terminal, const tool_address *http,
                             const std::vector<std::string> &http_names) {
  auto *live = new live_views_s;
  if (http) {
#ifdef LEDSIM_HTTP
    live->http = http_view_init(*http, http_names);
    if (!live->http) {
      delete live;
      return nullptr;
    }
    std::fprintf(stderr, "ledsim: browser view on http://%s/\n",
                 tool_address_text({http_view_host(live->http), http_view_port(live->http)}).c_str());
#else
    std::fprintf(stderr, "ledsim: this build has no browser view (cpp-httplib was missing)\n");
    delete live;
    return nullptr;
#endif
  }
  if (terminal)
    live->terminal = terminal_view_init(STDOUT_FILENO);
  live->status = wall_status_init(address);
  live->showing = std::thread(showing_thread, live);
  return live;
}

void live_views_frame(live_views_t live, const wall_frame &frame) {
  if (!live)
    return;
  {
    std::lock_guard<std::mutex> hold(live->lock);
    wall_status_frame(live->status, frame);
    live->frame = frame;
    live->frame_new = true;
  }
  live->wake.notify_one();
}

void live_views_tick(live_views_t live, std::int64_t now_ns, bool connected, bool resized) {
  if (!live)
    return;
  if (resized && live->terminal)
    terminal_view_resize(live->terminal);
  {
    std::lock_guard<std::mutex> hold(live->lock);
    wall_status_tick(live->status, now_ns, connected);
    live->status_new = true;
  }
  live->wake.notify_one();
}

void live_views_done(live_views_t live) {
  if (!live)
    return;
  {
    std::lock_guard<std::mutex> hold(live->lock);
    live->stopping = true;
  }
  live->wake.notify_one();
  // The thread first, so that nothing hands the views anything while they stop.
  live->showing.join();
  terminal_view_done(live->terminal);
#ifdef LEDSIM_HTTP
  http_view_done(live->http);
#endif
  wall_status_done(live->status);
  delete live;
}
