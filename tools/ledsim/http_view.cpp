#include "http_view.h"

#include "led_board.h"
#include "matrix_wiring.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

extern const char HTTP_VIEW_PAGE[];

struct http_view_s {
  httplib::Server server;
  std::thread serving;
  std::string host;
  int port = 0;
  std::string board; // the page's geometry, JSON

  std::mutex lock;
  std::condition_variable changed;
  std::string leds;   // the newest picture, hexadecimal red, green, blue in image order
  std::string status; // the newest status line, as a JSON string
  long sequence = 0;  // of the newest update
  bool stopping = false;
};

namespace {

std::string board_json() {
  const int scale = HTTP_VIEW_SCALE;
  char colour[8];
  std::snprintf(colour, sizeof colour, "#%06x", LED_BOARD_COLOUR);
  std::string json = "{\"width\":" + std::to_string(led_board_width(scale)) +
                     ",\"height\":" + std::to_string(led_board_height(scale)) +
                     ",\"radius\":" + std::to_string(led_board_dot_radius(scale)) + ",\"board\":\"" + colour + "\"";
  for (const auto &[name, count] : {std::pair{"x", MATRIX_WIDTH}, std::pair{"y", MATRIX_HEIGHT}}) {
    json += std::string(",\"") + name + "\":[";
    for (int i = 0; i < count; ++i)
      json += (i ? "," : "") + std::to_string(led_board_centre(scale, i));
    json += "]";
  }
  return json + "}";
}

std::string json_text(const std::string &text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\')
      quoted += '\\';
    if (c == '\n')
      quoted += "\\n"; // a status of several lines (the bridge's: one per output)
    else if (static_cast<unsigned char>(c) >= 0x20)
      quoted += c;
  }
  return quoted + "\"";
}

// Called with the lock held.
void publish(http_view_t view, const std::string &status) {
  view->status = json_text(status);
  ++view->sequence;
  view->changed.notify_all();
}

// The wall and its status now, as JSON; called with the lock held.
std::string update_json(http_view_t view) {
  return "{\"leds\":\"" + view->leds + "\",\"status\":" + view->status + "}";
}

void serve_events(http_view_t view, httplib::Response &response) {
  response.set_header("Cache-Control", "no-store");
  // What this watcher was sent last: a newer update is sent whole, with the
  // picture, so a watcher that missed some still sees the newest one.
  auto sent = std::make_shared<long>(-1);
  response.set_chunked_content_provider("text/event-stream", [view, sent](std::size_t, httplib::DataSink &sink) {
    std::string event;
    {
      std::unique_lock<std::mutex> hold(view->lock);
      view->changed.wait_for(hold, std::chrono::seconds(1), [&] { return view->stopping || view->sequence != *sent; });
      if (view->stopping)
        return false;
      if (view->sequence == *sent) {
        event = ":\n\n"; // a comment now and then, so that a gone watcher is noticed
      } else {
        event = "event: wall\ndata: " + update_json(view) + "\n\n";
        *sent = view->sequence;
      }
    }
    return sink.write(event.data(), event.size());
  });
}

} // namespace

http_view_t http_view_init(const tool_address &address) {
  const std::string &host = address.host;
  const int port = address.port;
  auto view = std::make_unique<http_view_s>();
  view->host = host;
  view->board = board_json();
  view->leds.assign(std::size_t(6 * MATRIX_LEDS), '0');
  publish(view.get(), "waiting for a client");
  http_view_t v = view.get();
  view->server.new_task_queue = [] { return new httplib::ThreadPool(HTTP_VIEW_WATCHERS); };
  view->server.set_write_timeout(HTTP_VIEW_WRITE_TIMEOUT_S, 0);
  view->server.Get("/", [](const httplib::Request &, httplib::Response &response) {
    response.set_content(HTTP_VIEW_PAGE, "text/html; charset=utf-8");
  });
  view->server.Get("/state.js", [v](const httplib::Request &, httplib::Response &response) {
    response.set_header("Cache-Control", "no-store");
    std::lock_guard<std::mutex> hold(v->lock);
    response.set_content("const BOARD = " + v->board + ";\nconst LATEST = " + update_json(v) + ";\n",
                         "text/javascript");
  });
  view->server.Get("/events", [v](const httplib::Request &, httplib::Response &response) { serve_events(v, response); });
  view->port = port == 0 ? view->server.bind_to_any_port(host) : (view->server.bind_to_port(host, port) ? port : -1);
  if (view->port <= 0) {
    std::fprintf(stderr, "ledsim: cannot serve the browser view on %s\n", tool_address_text(address).c_str());
    return nullptr;
  }
  view->serving = std::thread([v] { v->server.listen_after_bind(); });
  return view.release();
}

const std::string &http_view_host(http_view_t view) { return view->host; }

int http_view_port(http_view_t view) { return view->port; }

void http_view_frame(http_view_t view, const wall_frame &frame, const std::string &status) {
  static const char HEX[] = "0123456789abcdef";
  std::lock_guard<std::mutex> hold(view->lock);
  for (std::size_t i = 0; i < frame.rgb.size(); ++i) {
    view->leds[2 * i] = HEX[frame.rgb[i] >> 4];
    view->leds[2 * i + 1] = HEX[frame.rgb[i] & 15];
  }
  publish(view, status);
}

void http_view_status(http_view_t view, const std::string &status) {
  std::lock_guard<std::mutex> hold(view->lock);
  if (json_text(status) != view->status) // an unchanged status is no news to a watcher
    publish(view, status);
}

void http_view_done(http_view_t view) {
  if (!view)
    return;
  {
    std::lock_guard<std::mutex> hold(view->lock);
    view->stopping = true;
    view->changed.notify_all();
  }
  view->server.stop();
  if (view->serving.joinable())
    view->serving.join();
  delete view;
}
