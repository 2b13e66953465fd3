#include "ledsim_server.h"

#include "matrix_wiring.h"
#include "monotonic_now.h"
#include "opc.h"
#include "opc_stream.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace {

constexpr long long IDLE_GIVES_WAY_NS = 1'000'000'000;
// After accepting failed for want of a descriptor or memory, the time until
// the next try: the waiting connection keeps the socket readable, and
// trying at once would spin.
constexpr long long ACCEPT_RETRY_NS = 100'000'000;

} // namespace

struct ledsim_server_s {
  int listen_fd = -1;
  int port = 0;
  ledsim_faults faults;
  bool listening = false;
  long long started_ns = 0;
  bool accept_failing = false;     // said once, and once more when it works again
  long long accept_retry_ns = 0;   // no accepting before this (monotonic)

  int client = -1;
  int frames_on_client = 0;
  long long client_heard_ns = 0;
  opc_stream_s stream{};

  int connections = 0;
  int frames = 0;
  bool pause_done = false;
  long long paused_until_ns = 0;

  std::array<u8, MATRIX_LEDS * 3> leds{}; // the wall in LED order
  wall_frame frame{};
  ledsim_frame_callback on_frame = nullptr;
  void *user = nullptr;
};

namespace {

void drop_client(ledsim_server_t s) {
  if (s->client >= 0)
    close(s->client);
  s->client = -1;
}

void take_client(ledsim_server_t s, int fd) {
  drop_client(s);
  s->client = fd;
  s->frames_on_client = 0;
  s->client_heard_ns = monotonic_ns();
  opc_stream_reset(&s->stream);
  ++s->connections;
}

void on_message(void *user, const opc_message &m) {
  auto *s = static_cast<ledsim_server_t>(user);
  // A connection due to close shows nothing more, even from the same read.
  if (s->faults.close_after_frames > 0 && s->frames_on_client >= s->faults.close_after_frames)
    return;
  // An empty message sets no pixel: it is no frame.
  if (m.command != OPC_COMMAND_SET_PIXELS || (m.channel != 0 && m.channel != OPC_BROADCAST_CHANNEL) || m.length == 0)
    return;
  // Whole pixels only; the stream keeps at most one wall's worth of bytes.
  const std::size_t bytes = m.kept / 3 * 3;
  std::memcpy(s->leds.data(), m.data, bytes);
  for (int led = 0; led < MATRIX_LEDS; ++led)
    std::memcpy(&s->frame.rgb[3 * size_t(matrix_led_to_position[size_t(led)])], &s->leds[3 * size_t(led)], 3);
  s->frame.received_ns = monotonic_ns();
  s->frame.connection = s->connections - 1;
  ++s->frames;
  ++s->frames_on_client;
  if (s->on_frame)
    s->on_frame(s->user, s->frame);
}

// Reads what the client has; false once it is gone.
bool read_client(ledsim_server_t s) {
  u8 buffer[8192];
  const ssize_t n = read(s->client, buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return true;
  if (n <= 0)
    return false;
  s->client_heard_ns = monotonic_ns();
  opc_stream_feed(&s->stream, buffer, size_t(n), on_message, s);
  return true;
}

} // namespace

ledsim_server_t ledsim_server_init(const char *hostport, const ledsim_faults &faults) {
  tool_address address;
  std::string why;
  if (!tool_address_parse(hostport, &address, &why)) {
    std::fprintf(stderr, "ledsim: cannot listen on %s: %s\n", hostport, why.c_str());
    return nullptr;
  }
  return ledsim_server_init(address, faults);
}

ledsim_server_t ledsim_server_init(const tool_address &where, const ledsim_faults &faults) {
  const std::string text = tool_address_text(where);
  sockaddr_storage address{};
  socklen_t length = 0;
  std::string why;
  if (!tool_address_resolve(where, &address, &length, &why)) {
    std::fprintf(stderr, "ledsim: cannot listen on %s: %s\n", text.c_str(), why.c_str());
    return nullptr;
  }
  auto *s = new ledsim_server_s;
  s->faults = faults;
  s->listen_fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  setsockopt(s->listen_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (s->listen_fd < 0 || bind(s->listen_fd, reinterpret_cast<sockaddr *>(&address), length) < 0) {
    std::fprintf(stderr, "ledsim: cannot listen on %s: %s\n", text.c_str(), std::strerror(errno));
    ledsim_server_done(s);
    return nullptr;
  }
  length = sizeof address;
  getsockname(s->listen_fd, reinterpret_cast<sockaddr *>(&address), &length);
  s->port = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                                                 : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
  s->started_ns = monotonic_ns();
  // Without a refusal to stage, listen at once: a client may connect before
  // the server loop runs.
  if (faults.refuse_ms <= 0) {
    if (listen(s->listen_fd, 8) < 0) {
      std::fprintf(stderr, "ledsim: cannot listen on %s: %s\n", text.c_str(), std::strerror(errno));
      ledsim_server_done(s);
      return nullptr;
    }
    s->listening = true;
  }
  return s;
}

int ledsim_server_port(ledsim_server_t server) { return server->port; }

int ledsim_server_connections(ledsim_server_t server) { return server->connections; }

bool ledsim_server_has_client(ledsim_server_t server) { return server->client >= 0; }

namespace {

enum class step { go_on, stopped, failed };

// One turn of the server: waits up to `wait_ms` (less while a refusal or a
// pause is running out) for the stop descriptor, a connection or data, and
// handles what came. `*busy` tells whether anything did.
// A bound socket that does not listen yet refuses connections, which is how
// the refusal at start is staged.
step serve_once(ledsim_server_t s, int stop_fd, int wait_ms, bool *busy) {
  *busy = false;
  const long long now = monotonic_ns();
  int timeout_ms = wait_ms;
  if (!s->listening) {
    const long long refuse_until = s->started_ns + (long long)s->faults.refuse_ms * 1'000'000;
    if (now >= refuse_until) {
      if (listen(s->listen_fd, 8) < 0) {
        std::fprintf(stderr, "ledsim: listen: %s\n", std::strerror(errno));
        return step::failed;
      }
      s->listening = true;
    } else {
      timeout_ms = int(std::min<long long>(timeout_ms, (refuse_until - now) / 1'000'000 + 1));
    }
  }
  const bool paused = now < s->paused_until_ns;
  if (paused)
    s->client_heard_ns = now; // our silence is not the client's
  if (paused)
    timeout_ms = int(std::min<long long>(timeout_ms, (s->paused_until_ns - now) / 1'000'000 + 1));

  // One client at a time: a waiting client is taken when the wall is free,
  // or when the current client has been silent (while we were reading) for
  // a second. Until then the listening socket is left out of the poll.
  const bool silent = s->client >= 0 && now - s->client_heard_ns > IDLE_GIVES_WAY_NS;
  const bool retry_wait = now < s->accept_retry_ns;
  const bool accepting = s->listening && !paused && !retry_wait && (s->client < 0 || silent);
  if (retry_wait && s->listening && (s->client < 0 || silent))
    timeout_ms = int(std::min<long long>(timeout_ms, (s->accept_retry_ns - now) / 1'000'000 + 1));
  pollfd fds[3] = {{stop_fd, POLLIN, 0}, {accepting ? s->listen_fd : -1, POLLIN, 0},
                   {paused ? -1 : s->client, POLLIN, 0}};
  if (poll(fds, 3, timeout_ms) < 0) {
    if (errno == EINTR)
      return step::go_on;
    std::fprintf(stderr, "ledsim: poll: %s\n", std::strerror(errno));
    return step::failed;
  }
  if (fds[0].revents)
    return step::stopped;
  *busy = fds[1].revents || fds[2].revents;

  if (fds[2].revents && !read_client(s))
    drop_client(s);

  if (s->client >= 0 && s->faults.close_after_frames > 0 && s->frames_on_client >= s->faults.close_after_frames)
    drop_client(s);
  if (!s->pause_done && s->faults.pause_ms > 0 && s->frames >= s->faults.pause_after_frames) {
    s->pause_done = true;
    s->paused_until_ns = monotonic_ns() + (long long)s->faults.pause_ms * 1'000'000;
  }

  if (fds[1].revents) {
    const int fd = accept4(s->listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      if (s->accept_failing)
        std::fprintf(stderr, "ledsim: accepting connections again\n");
      s->accept_failing = false;
      take_client(s, fd);
    } else if (tool_accept_lacks_resources(errno)) {
      // The current client, if any, is served on meanwhile.
      if (!s->accept_failing)
        std::fprintf(stderr, "ledsim: cannot accept a connection: %s; trying again every %lld ms\n",
                     std::strerror(errno), ACCEPT_RETRY_NS / 1'000'000);
      s->accept_failing = true;
      s->accept_retry_ns = monotonic_ns() + ACCEPT_RETRY_NS;
    }
  }
  return step::go_on;
}

} // namespace

int ledsim_server_run(ledsim_server_t s, int stop_fd, ledsim_frame_callback on_frame, void *user,
                      ledsim_tick_callback on_tick) {
  s->on_frame = on_frame;
  s->user = user;
  for (;;) {
    bool busy = false;
    switch (serve_once(s, stop_fd, 200, &busy)) {
    case step::go_on:
      if (on_tick)
        on_tick(user);
      break;
    case step::stopped:
      return 0;
    case step::failed:
      return -1;
    }
  }
}

int ledsim_server_take_waiting(ledsim_server_t s, ledsim_frame_callback on_frame, void *user) {
  s->on_frame = on_frame;
  s->user = user;
  for (bool busy = true; busy;)
    if (serve_once(s, -1, 0, &busy) == step::failed)
      return -1;
  return 0;
}

void ledsim_server_done(ledsim_server_t s) {
  if (!s)
    return;
  drop_client(s);
  if (s->listen_fd >= 0)
    close(s->listen_fd);
  delete s;
}
