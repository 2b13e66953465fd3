#include "http_view.h"

#include "led_board.h"
#include "matrix_wiring.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

extern const char HTTP_VIEW_PAGE[];

namespace {

// The server, and its listening socket (the gate below watches it).
struct view_server : httplib::Server {
  int listening_socket() const { return svr_sock_; }
};

} // namespace

struct http_view_s {
  view_server server;
  std::thread serving;
  std::string host;
  int port = 0;
  std::vector<std::string> names; // the Host names served, lower case, without brackets
  std::string board;              // the page's geometry, JSON

  // Connections in the view's hands (waiting for a thread or served by one),
  // at most HTTP_VIEW_CONNECTIONS, and the gate that refuses more.
  std::mutex gate_lock;
  std::condition_variable gate_changed;
  int connections = 0;
  bool gate_stopping = false;
  int gate_socket = -1; // a duplicate of the listening socket, the gate's own
  std::thread gate;

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

// Answers `status` with `text` and ends the connection: the body is written
// by a provider that then reports failure, the one way (in cpp-httplib 0.11
// as in 0.18) to have the server close instead of reading on, so that what
// the client sends after its head (a body, however long) is never read.
httplib::Server::HandlerResponse refuse(httplib::Response &response, int status, const std::string &text) {
  response.status = status;
  response.set_header("Connection", "close");
  response.set_content_provider(text.size(), "text/plain; charset=utf-8",
                                [text](std::size_t, std::size_t, httplib::DataSink &sink) {
                                  sink.write(text.data(), text.size());
                                  return false;
                                });
  return httplib::Server::HandlerResponse::Handled;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// Whether a Host header names this view: one of its names, with no port or
// with the view's.
bool host_allowed(http_view_t view, const std::string &header) {
  std::string name = lower(header), port;
  if (!name.empty() && name[0] == '[') { // [v6] or [v6]:port
    const std::size_t close = name.find(']');
    if (close == std::string::npos)
      return false;
    port = name.substr(close + 1);
    if (!port.empty() && port[0] != ':')
      return false;
    name = name.substr(1, close - 1);
  } else if (std::count(name.begin(), name.end(), ':') == 1) {
    port = name.substr(name.find(':'));
    name.erase(name.find(':'));
  }
  if (!port.empty() && port != ":" + std::to_string(view->port))
    return false;
  if (name.size() > 1 && name.back() == '.') // the same name, fully qualified
    name.pop_back();
  return std::find(view->names.begin(), view->names.end(), name) != view->names.end();
}

// The names a page of this view is reached by: this machine's own, the
// listening address (every address of this machine for a wildcard one) and
// the caller's.
std::vector<std::string> view_names(const std::string &host, const std::vector<std::string> &extra) {
  std::vector<std::string> names = {"127.0.0.1", "localhost", "::1", lower(host)};
  if (host == "0.0.0.0" || host == "::" || host.empty()) {
    ifaddrs *addresses = nullptr;
    if (getifaddrs(&addresses) == 0) {
      for (const ifaddrs *a = addresses; a; a = a->ifa_next) {
        char text[INET6_ADDRSTRLEN] = "";
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET)
          inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr, text, sizeof text);
        else if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET6)
          inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(a->ifa_addr)->sin6_addr, text, sizeof text);
        if (*text)
          names.push_back(text);
      }
      freeifaddrs(addresses);
    }
  }
  for (const std::string &name : extra)
    names.push_back(lower(name));
  return names;
}

// The gate. cpp-httplib accepts a connection and hands it to the task queue
// below; from 0.11 (Debian 12) on it cannot be told to refuse one there
// (only 0.18's queue may, by returning false), so refusing happens on the
// accepting side instead: once HTTP_VIEW_CONNECTIONS are in hand, the
// queue holds cpp-httplib's accepting thread until one ends, and the gate's
// thread takes every newer connection itself and answers it 503 at once.
// The two never accept at the same time: the gate accepts only under its
// lock while the count is full, and the accepting thread leaves the queue
// only under that lock once it is not.
void connection_taken(http_view_t view) {
  std::unique_lock<std::mutex> hold(view->gate_lock);
  ++view->connections;
  view->gate_changed.notify_all();
  view->gate_changed.wait(hold, [view] { return view->connections < HTTP_VIEW_CONNECTIONS || view->gate_stopping; });
}

void connection_ended(http_view_t view) {
  std::lock_guard<std::mutex> hold(view->gate_lock);
  --view->connections;
  view->gate_changed.notify_all();
}

bool out_of_resources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

void refuse_at_once(int fd) {
  // A browser shown this page asks again by itself a moment later.
  static const std::string TEXT = "<!DOCTYPE html><meta http-equiv=\"refresh\" content=\"2\"><title>LED wall</title>"
                                  "<p>The view has as many connections as it serves; trying again in a moment.\n";
  static const std::string ANSWER = "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 2\r\nContent-Type: text/html\r\n"
                                    "Content-Length: " + std::to_string(TEXT.size()) +
                                    "\r\nConnection: close\r\n\r\n" + TEXT;
  char request[4096];
  // What came already is read first: a socket closed on unread data resets
  // the connection, and the client might lose the answer.
  [[maybe_unused]] const ssize_t n = recv(fd, request, sizeof request, MSG_DONTWAIT);
  [[maybe_unused]] const ssize_t m = send(fd, ANSWER.data(), ANSWER.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  close(fd);
}

void gate_thread(http_view_t view) {
  for (;;) {
    std::unique_lock<std::mutex> hold(view->gate_lock);
    view->gate_changed.wait(hold, [view] { return view->connections >= HTTP_VIEW_CONNECTIONS || view->gate_stopping; });
    if (view->gate_stopping)
      return;
    hold.unlock();
    pollfd ready{view->gate_socket, POLLIN, 0};
    poll(&ready, 1, 100); // without the lock: connections may end meanwhile
    hold.lock();
    ready.revents = 0;
    // Under the lock and with the count full, nobody else accepts: a
    // connection seen now is there to take without waiting.
    if (view->gate_stopping || view->connections < HTTP_VIEW_CONNECTIONS || poll(&ready, 1, 0) <= 0)
      continue;
    const int fd = accept4(view->gate_socket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    const int error = errno;
    hold.unlock();
    if (fd >= 0)
      refuse_at_once(fd);
    else if (out_of_resources(error))
      std::this_thread::sleep_for(std::chrono::milliseconds(100)); // no descriptor to take it with: no busy loop
  }
}

// The queue's enqueue returns nothing in cpp-httplib 0.11 and whether it
// took the task in 0.18; the queue is written for either.
using enqueue_result = decltype(std::declval<httplib::TaskQueue &>().enqueue(std::function<void()>()));

template <typename result> class counted_queue final : public httplib::TaskQueue {
public:
  explicit counted_queue(http_view_t view) : view_(view), pool_(HTTP_VIEW_CONNECTIONS) {}
  result enqueue(std::function<void()> serve) override {
    connection_taken(view_);
    http_view_t view = view_;
    (void)pool_.enqueue([view, serve = std::move(serve)] {
      serve();
      connection_ended(view);
    });
    if constexpr (!std::is_void_v<result>)
      return true;
  }
  void shutdown() override { pool_.shutdown(); }

private:
  http_view_t view_;
  httplib::ThreadPool pool_;
};

} // namespace

http_view_t http_view_init(const tool_address &address, const std::vector<std::string> &names) {
  const std::string &host = address.host;
  const int port = address.port;
  auto view = std::make_unique<http_view_s>();
  view->host = host;
  view->board = board_json();
  view->leds.assign(std::size_t(6 * MATRIX_LEDS), '0');
  publish(view.get(), "waiting for a client");
  http_view_t v = view.get();
  view->server.new_task_queue = [v] { return new counted_queue<enqueue_result>(v); };
  view->server.set_write_timeout(HTTP_VIEW_WRITE_TIMEOUT_S, 0);
  view->server.set_read_timeout(HTTP_VIEW_READ_TIMEOUT_S, 0);
  view->server.set_keep_alive_timeout(HTTP_VIEW_IDLE_TIMEOUT_S);
  view->server.set_keep_alive_max_count(16);
  view->server.set_payload_max_length(HTTP_VIEW_BODY_MAX_BYTES);
  view->server.set_pre_routing_handler([v](const httplib::Request &request, httplib::Response &response) {
    if (request.method != "GET" && request.method != "HEAD")
      return refuse(response, 405, "only GET and HEAD are served here\n");
    if (request.has_header("Host") && !host_allowed(v, request.get_header_value("Host")))
      return refuse(response, 421, "not a name of this view: give it with --http-host NAME\n");
    return httplib::Server::HandlerResponse::Unhandled;
  });
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
  view->names = view_names(host, names);
  view->gate_socket = fcntl(view->server.listening_socket(), F_DUPFD_CLOEXEC, 0);
  if (view->gate_socket < 0) {
    std::fprintf(stderr, "ledsim: cannot serve the browser view: %s\n", std::strerror(errno));
    return nullptr;
  }
  // cpp-httplib listens with a backlog of 5, which a burst of connections
  // overflows (each then waits a second for its SYN to be sent again);
  // listening again only sets a longer one.
  listen(view->gate_socket, 128);
  view->gate = std::thread(gate_thread, v);
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
  {
    std::lock_guard<std::mutex> hold(view->gate_lock);
    view->gate_stopping = true;
    view->gate_changed.notify_all();
  }
  view->server.stop();
  if (view->serving.joinable())
    view->serving.join();
  if (view->gate.joinable())
    view->gate.join();
  if (view->gate_socket >= 0)
    close(view->gate_socket);
  delete view;
}
