#include "opc.h"
#include "monotonic_now.h"
#include "time_source.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

struct opc_sink_info {
  sockaddr_in address;
  int sock;
  char address_string[64];
};

static std::array<opc_sink_info, OPC_MAX_SINKS> opc_sinks;
static opc_sink opc_next_sink = 0;

namespace {

enum class resolve_result { found, not_found, bad_port };

// Reads the leading decimal digits of `text` ("" and no digits give 0). A value
// above 65535 is refused rather than wrapped to 16 bits, which would quietly
// send the frames to some other port.
bool parse_port(const char *text, unsigned *port) {
  unsigned value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + unsigned(*text - '0');
    if (value > 65535)
      return false;
  }
  *port = value;
  return true;
}

resolve_result resolve_hostport(const char *s, sockaddr_in *address, u16 default_port) {
  std::string host = s;
  unsigned port = 0;
  if (const auto colon = host.find(':'); colon != std::string::npos) {
    if (!parse_port(host.c_str() + colon + 1, &port))
      return resolve_result::bad_port;
    host.erase(colon);
  }
  if (host.empty())
    host = OPC_DEFAULT_HOST;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  addrinfo *results = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0)
    return resolve_result::not_found;
  const addrinfo *ipv4 = results;
  while (ipv4 && ipv4->ai_family != AF_INET)
    ipv4 = ipv4->ai_next;
  if (ipv4)
    std::memcpy(address, ipv4->ai_addr, sizeof *address);
  freeaddrinfo(results);
  if (!ipv4)
    return resolve_result::not_found;

  address->sin_port = htons(port != 0 ? u16(port) : default_port);
  return resolve_result::found;
}

void report_bad_port(const char *hostport) {
  std::fprintf(stderr, "OPC: Port out of range (1 to 65535): %s\n", hostport);
}

bool sink_exists(opc_sink sink) {
  if (sink >= 0 && sink < opc_next_sink)
    return true;
  std::fprintf(stderr, "OPC: Sink %d does not exist\n", sink);
  return false;
}

timeval timeval_from_ms(u32 ms) {
  timeval tv{};
  tv.tv_sec = time_t(ms / 1000);
  tv.tv_usec = suseconds_t(ms % 1000) * 1000;
  return tv;
}

// Waits until `sock` can take more data or `deadline_ms` passes.
bool wait_writable(int sock, long long deadline_ms) {
  for (;;) {
    const long long left = deadline_ms - monotonic_ms();
    if (left <= 0)
      return false;
    pollfd pfd{sock, POLLOUT, 0};
    const int ready = poll(&pfd, 1, int(left));
    if (ready > 0)
      return true;
    if (ready < 0 && errno != EINTR)
      return false;
  }
}

} // namespace

static void opc_close(opc_sink sink) {
  if (!sink_exists(sink))
    return;
  opc_sink_info &info = opc_sinks[size_t(sink)];
  if (info.sock < 0)
    return;
  close(info.sock);
  info.sock = -1;
  std::fprintf(stderr, "OPC: Closed connection to %s\n", info.address_string);
}

static u8 opc_connect(opc_sink sink, u32 timeout_ms) {
  if (!sink_exists(sink))
    return 0;
  opc_sink_info &info = opc_sinks[size_t(sink)];
  if (info.sock >= 0)
    return 1;

  const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (sock < 0) {
    std::fprintf(stderr, "OPC: Failed to connect to %s: %s\n", info.address_string, std::strerror(errno));
    return 0;
  }
  // select can only wait for descriptors below FD_SETSIZE: FD_SET on a higher
  // one would write past the set.
  if (sock >= FD_SETSIZE) {
    std::fprintf(stderr, "OPC: Failed to connect to %s: socket descriptor %d is beyond what select can wait for\n",
                 info.address_string, sock);
    close(sock);
    return 0;
  }
  // A blocking connect would hold the show for as long as the system tries.
  const int flags = fcntl(sock, F_GETFL);
  if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) {
    std::fprintf(stderr, "OPC: Failed to connect to %s: %s\n", info.address_string, std::strerror(errno));
    close(sock);
    return 0;
  }

  if (connect(sock, reinterpret_cast<const sockaddr *>(&info.address), sizeof info.address) < 0 &&
      errno != EINPROGRESS) {
    std::fprintf(stderr, "OPC: Failed to connect to %s: %s\n", info.address_string, std::strerror(errno));
    close(sock);
    return 0;
  }

  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(sock, &writable);
  timeval timeout = timeval_from_ms(timeout_ms);
  if (select(sock + 1, nullptr, &writable, nullptr, &timeout) <= 0) {
    std::fprintf(stderr, "OPC: No connection to %s after %d ms\n", info.address_string, int(timeout_ms));
    close(sock);
    return 0;
  }

  int opt_errno = 0;
  socklen_t opt_len = sizeof opt_errno;
  if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &opt_errno, &opt_len) < 0)
    opt_errno = errno;
  if (opt_errno != 0) {
    std::fprintf(stderr, "OPC: Failed to connect to %s: %s\n", info.address_string, std::strerror(opt_errno));
    close(sock);
    // The pause goes through the show's time source like every other wait,
    // so that a refused server costs the show the same time in virtual time.
    if (opt_errno == ECONNREFUSED)
      time_source_sleep_us(useconds_t(timeout_ms) * 1000);
    return 0;
  }

  // The header and the pixel data of a frame are two small writes; without
  // this the second would wait for the first one's acknowledgement.
  const int on = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  info.sock = sock;
  return 1;
}

// The socket stays non-blocking after the connect. A send that cannot proceed
// waits for the socket to become writable, but only until `timeout_ms` after
// the call began, so a server that stops reading holds the caller for at most
// the time-out; then the data is dropped and the connection closed, and the
// next message starts afresh on a new connection.
static u8 opc_send(opc_sink sink, const u8 *data, ssize_t len, u32 timeout_ms) {
  if (!sink_exists(sink))
    return 0;
  const long long deadline_ms = monotonic_ms() + timeout_ms;
  if (!opc_connect(sink, timeout_ms))
    return 0;
  opc_sink_info &info = opc_sinks[size_t(sink)];

  const timeval send_timeout = timeval_from_ms(timeout_ms);
  setsockopt(info.sock, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);

  ssize_t sent = 0;
  while (sent < len) {
    struct sigaction ignore {}, previous{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous);
    const ssize_t n = send(info.sock, data + sent, size_t(len - sent), 0);
    const int send_errno = errno;
    sigaction(SIGPIPE, &previous, nullptr);

    if (n > 0) {
      sent += n;
      continue;
    }
    if (n < 0 && (send_errno == EAGAIN || send_errno == EWOULDBLOCK || send_errno == EINTR) &&
        wait_writable(info.sock, deadline_ms))
      continue;
    errno = (n < 0 && (send_errno == EAGAIN || send_errno == EWOULDBLOCK)) ? ETIMEDOUT : send_errno;
    std::perror("OPC: Error sending data");
    opc_close(sink);
    return 0;
  }
  return 1;
}

opc_sink opc_new_sink(const char *hostport) {
  if (!hostport) {
    hostport = std::getenv(OPC_ENVIRONMENT_VARIABLE);
    if (!hostport)
      hostport = OPC_DEFAULT_HOST;
  }
  if (opc_next_sink >= OPC_MAX_SINKS) {
    std::fprintf(stderr, "OPC: No more sinks available\n");
    return -1;
  }

  opc_sink_info &info = opc_sinks[size_t(opc_next_sink)];
  info.sock = -1;
  switch (resolve_hostport(hostport, &info.address, OPC_DEFAULT_PORT)) {
  case resolve_result::found:
    break;
  case resolve_result::bad_port:
    report_bad_port(hostport);
    return -1;
  case resolve_result::not_found:
    std::fprintf(stderr, "OPC: Host not found: %s\n", hostport);
    return -1;
  }

  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &info.address.sin_addr, dotted, sizeof dotted);
  std::snprintf(info.address_string, sizeof info.address_string, "%s:%d", dotted, ntohs(info.address.sin_port));
  return opc_next_sink++;
}

int opc_resolve(const char *s, sockaddr_in *address, u16 default_port) {
  switch (resolve_hostport(s, address, default_port)) {
  case resolve_result::found:
    return 1;
  case resolve_result::bad_port:
    report_bad_port(s);
    return 0;
  case resolve_result::not_found:
    return 0;
  }
  return 0;
}

// A count over the limit is refused outright: its byte length would not fit
// the 16-bit length field, and sending a cut-down frame would show the caller
// something it did not draw.
u8 opc_put_pixels(opc_sink sink, u8 channel, u16 count, const pixel *pixels) {
  if (count > OPC_MAX_PIXELS) {
    std::fprintf(stderr, "OPC: Maximum pixel count exceeded (%d > %d)\n", count, OPC_MAX_PIXELS);
    return 0;
  }
  const u16 length = u16(count * 3);
  const u8 header[4] = {channel, 0, u8(length >> 8), u8(length & 0xff)};

  // The time-out holds for the whole message: the pixel data gets what the
  // header left of it, so a stalled server never costs more than one time-out.
  const long long start_ms = monotonic_ms();
  if (!opc_send(sink, header, sizeof header, OPC_TIMEOUT_MS))
    return 0;
  const long long used_ms = monotonic_ms() - start_ms;
  const u32 left_ms = used_ms < OPC_TIMEOUT_MS ? u32(OPC_TIMEOUT_MS - used_ms) : 1;
  return opc_send(sink, reinterpret_cast<const u8 *>(pixels), ssize_t(length), left_ms);
}
