#include "bridge_view.h"

#include "http_view.h"
#include "monotonic_now.h"

#include <cstdio>
#include <thread>

namespace {

constexpr std::int64_t STATUS_EVERY_NS = 500'000'000;

} // namespace

struct bridge_view_s {
  http_view_t http = nullptr;
  std::string listen;
  bridge_feed_t feed = nullptr;
  std::vector<bridge_output_t> outputs;
  pixel_levels levels{};
  std::thread thread;
};

std::string bridge_view_status(const std::string &listen, bool connected, long frames,
                               const std::vector<bridge_output_status> &outputs) {
  std::string text = (connected ? "client connected on " : "waiting for a client on ") + listen +
                     "  frames received " + std::to_string(frames);
  for (const bridge_output_status &s : outputs) {
    text += "\n" + s.url + "  frames " + std::to_string(s.frames) + "  packets " + std::to_string(s.packets) +
            "  send errors " + std::to_string(s.errors);
    if (s.skipped)
      text += "  skipped " + std::to_string(s.skipped);
    if (!s.last_error.empty())
      text += std::string(s.failing ? "  failing: " : "  last error: ") + s.last_error;
  }
  return text;
}

namespace {

std::string status_now(bridge_view_s *v, const bridge_feed_reader &reader) {
  std::vector<bridge_output_status> outputs;
  for (bridge_output_t o : v->outputs)
    outputs.push_back(bridge_output_get_status(o));
  return bridge_view_status(v->listen, reader.connected, reader.taken + reader.skipped, outputs);
}

void run(bridge_view_s *v) {
  bridge_feed_reader reader;
  wall_frame frame{};
  std::int64_t next_status = 0;
  for (;;) {
    const bridge_feed_event event = bridge_feed_wait(v->feed, &reader, next_status, &frame);
    if (event == bridge_feed_event::stop)
      return;
    next_status = monotonic_ns() + STATUS_EVERY_NS;
    if (event == bridge_feed_event::frame) {
      for (u8 &channel : frame.rgb)
        channel = v->levels[channel];
      http_view_frame(v->http, frame, status_now(v, reader));
    } else {
      http_view_status(v->http, status_now(v, reader));
    }
  }
}

} // namespace

bridge_view_t bridge_view_init(const tool_address &address, const std::vector<std::string> &names,
                               const std::string &listen, bridge_feed_t feed,
                               const std::vector<bridge_output_t> &outputs, const pixel_levels &levels) {
  http_view_t http = http_view_init(address, names);
  if (!http)
    return nullptr;
  std::fprintf(stderr, "ledwall-bridge: browser view on http://%s/\n",
               tool_address_text({http_view_host(http), http_view_port(http)}).c_str());
  auto *v = new bridge_view_s;
  v->http = http;
  v->listen = listen;
  v->feed = feed;
  v->outputs = outputs;
  v->levels = levels;
  v->thread = std::thread(run, v);
  return v;
}

void bridge_view_done(bridge_view_t view) {
  if (!view)
    return;
  if (view->thread.joinable())
    view->thread.join();
  http_view_done(view->http);
  delete view;
}
