#include "http_view.h"

#include "led_board.h"
#include "matrix_wiring.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

  // The watch on what connections send (its thread waits on gate_changed).
  sockaddr_storage address{};  // the listening socket's own
  DIR *descriptors = nullptr;  // /proc/self/fd, opened once: a walk takes no descriptor
  std::thread watch;

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
    else if (tool_accept_lacks_resources(error))
      std::this_thread::sleep_for(std::chrono::milliseconds(100)); // no descriptor to take it with: no busy loop
  }
}

// The watch. cpp-httplib 0.11 reads a request line or a header line into
// memory however long it grows, and hands out neither the line nor the
// connection's socket; so a thread of the view's own looks at every socket
// of the process now and then and cuts (shuts down, never closes: the socket
// is cpp-httplib's) a connection of the view that has received more than
// HTTP_VIEW_RECEIVE_MAX_BYTES. cpp-httplib then reads the end of the stream
// and lets the connection go with its line. What a connection sends beyond
// its share until the next look is what cpp-httplib takes into memory: at
// the 70 MB/s it reads a line on loopback, 50 ms make a few megabytes (200 ms
// made 26 MB). A look costs a few system calls per descriptor, and none is
// made while the view has no connection.
constexpr auto WATCH_PERIOD = std::chrono::milliseconds(50);

// The kernel's struct tcp_info (linux/tcp.h) as far as tcpi_bytes_received
// (Linux 4.1 on). glibc's netinet/tcp.h, which cpp-httplib includes, declares
// it only up to tcpi_total_retrans, and the two headers cannot be included
// together; the kernel only ever appends to it, so these offsets hold on
// every architecture.
struct kernel_tcp_info {
  std::uint8_t state[8];    // tcpi_state to tcpi_fastopen_client_fail
  std::uint32_t counts[24]; // tcpi_rto to tcpi_total_retrans
  std::uint64_t pacing_rate, max_pacing_rate, bytes_acked, bytes_received;
};
static_assert(offsetof(kernel_tcp_info, bytes_received) == 128);

bool is_wildcard(const sockaddr_storage &a) {
  if (a.ss_family == AF_INET)
    return reinterpret_cast<const sockaddr_in &>(a).sin_addr.s_addr == htonl(INADDR_ANY);
  return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr);
}

bool same_address(const sockaddr_storage &a, const sockaddr_storage &b) {
  if (a.ss_family != b.ss_family)
    return false;
  if (a.ss_family == AF_INET)
    return reinterpret_cast<const sockaddr_in &>(a).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in &>(b).sin_addr.s_addr;
  return IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr,
                            &reinterpret_cast<const sockaddr_in6 &>(b).sin6_addr);
}

int socket_option(int fd, int level, int name) {
  int value = -1;
  socklen_t size = sizeof value;
  return getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
}

// Whether `fd` is a connection of the view (a TCP socket, not listening, on
// the view's own address and port: neither the OPC server's nor a bridge
// output's) that has received more than its share.
bool sent_too_much(http_view_t view, int fd) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (socket_option(fd, SOL_SOCKET, SO_PROTOCOL) != IPPROTO_TCP || socket_option(fd, SOL_SOCKET, SO_ACCEPTCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0 ||
      (local.ss_family != AF_INET && local.ss_family != AF_INET6))
    return false;
  // Both families keep the port at the same place.
  if (ntohs(reinterpret_cast<const sockaddr_in &>(local).sin_port) != view->port ||
      (!is_wildcard(view->address) && !same_address(local, view->address)))
    return false;
  kernel_tcp_info info{};
  size = sizeof info;
  return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && size >= sizeof info &&
         info.bytes_received > std::uint64_t(HTTP_VIEW_RECEIVE_MAX_BYTES);
}

// Cuts the view's connections that sent too much; how many.
int cut_greedy_connections(http_view_t view) {
  int cut = 0;
  rewinddir(view->descriptors); // lists the descriptors as they are now
  while (const dirent *entry = readdir(view->descriptors)) {
    char *end = nullptr;
    const long number = std::strtol(entry->d_name, &end, 10);
    struct stat what {};
    if (*end || end == entry->d_name || number == dirfd(view->descriptors) || fstat(int(number), &what) != 0 ||
        !S_ISSOCK(what.st_mode) || !sent_too_much(view, int(number)))
      continue;
    // The number may have been closed and given to a new connection since:
    // checked again through a duplicate, which keeps the socket it names, it
    // is cut only if it still sent too much (a new one has sent nothing).
    // Without a descriptor to spare, the number itself is checked again.
    const int own = fcntl(int(number), F_DUPFD_CLOEXEC, 0);
    const int checked = own >= 0 ? own : int(number);
    if (sent_too_much(view, checked) && shutdown(checked, SHUT_RDWR) == 0)
      ++cut;
    if (own >= 0)
      close(own);
  }
  return cut;
}

void watch_thread(http_view_t view) {
  bool said = false; // a cut is reported once a run
  std::unique_lock<std::mutex> hold(view->gate_lock);
  while (!view->gate_changed.wait_for(hold, WATCH_PERIOD, [view] { return view->gate_stopping; })) {
    if (view->connections == 0) // nothing of the view's to look at
      continue;
    hold.unlock();
    if (cut_greedy_connections(view) > 0 && !said) {
      std::fprintf(stderr, "ledsim: cut a browser view connection that sent more than %d bytes\n",
                   HTTP_VIEW_RECEIVE_MAX_BYTES);
      said = true;
    }
    hold.lock();
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
  // cpp-httplib grows a long line in a string of the connection's thread,
  // and glibc would keep what such strings took in that thread's arena
  // instead of giving it back (100 cut connections left the simulator at
  // 240 MB). With a fixed threshold, blocks this large are mapped apart and
  // unmapped when freed, so the memory comes back after each connection.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  view->server.new_task_queue = [v] { return new counted_queue<enqueue_result>(v); };
  view->server.set_write_timeout(HTTP_VIEW_WRITE_TIMEOUT_S, 0);
  view->server.set_read_timeout(HTTP_VIEW_READ_TIMEOUT_S, 0);
  view->server.set_keep_alive_timeout(HTTP_VIEW_IDLE_TIMEOUT_S);
  view->server.set_keep_alive_max_count(HTTP_VIEW_KEEP_ALIVE_REQUESTS);
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
  const int listing = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  view->descriptors = listing >= 0 ? fdopendir(listing) : nullptr;
  if (view->gate_socket < 0 || !view->descriptors) {
    std::fprintf(stderr, "ledsim: cannot serve the browser view: %s\n", std::strerror(errno));
    if (view->gate_socket >= 0)
      close(view->gate_socket);
    if (view->descriptors)
      closedir(view->descriptors);
    else if (listing >= 0)
      close(listing);
    return nullptr;
  }
  // cpp-httplib listens with a backlog of 5, which a burst of connections
  // overflows (each then waits a second for its SYN to be sent again);
  // listening again only sets a longer one.
  listen(view->gate_socket, 128);
  // Connections inherit the listening socket's receive buffer: a small one
  // (a browser's requests are small) keeps what a cut connection still has
  // queued for cpp-httplib to read small too, where the kernel would let it
  // grow to megabytes.
  const int receive_buffer = HTTP_VIEW_RECEIVE_MAX_BYTES;
  setsockopt(view->gate_socket, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  socklen_t address_size = sizeof view->address;
  getsockname(view->gate_socket, reinterpret_cast<sockaddr *>(&view->address), &address_size); // bound: cannot fail
  view->gate = std::thread(gate_thread, v);
  view->watch = std::thread(watch_thread, v);
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
  if (view->watch.joinable())
    view->watch.join();
  if (view->gate_socket >= 0)
    close(view->gate_socket);
  if (view->descriptors)
    closedir(view->descriptors);
  delete view;
}
