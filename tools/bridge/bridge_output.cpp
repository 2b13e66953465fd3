#include "bridge_output.h"

#include "monotonic_now.h"
#include "tool_address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int CONNECT_TIMEOUT_MS = 2000;
constexpr int WRITE_TIMEOUT_MS = 2000;
constexpr std::int64_t RETRY_NS = 1'000'000'000; // between resolutions and connection attempts

// Whether an IPv4 address is a broadcast address: all ones, or the broadcast
// address of one of this machine's interfaces. Only Art-Net sends there, and
// only when the user named such an address.
bool is_broadcast(const sockaddr_storage &address) {
  if (address.ss_family != AF_INET)
    return false;
  const in_addr_t ip = reinterpret_cast<const sockaddr_in &>(address).sin_addr.s_addr;
  if (ip == htonl(INADDR_BROADCAST))
    return true;
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0)
    return false;
  bool found = false;
  for (ifaddrs *i = list; i && !found; i = i->ifa_next)
    found = i->ifa_broadaddr && i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in *>(i->ifa_broadaddr)->sin_addr.s_addr == ip;
  freeifaddrs(list);
  return found;
}

} // namespace

struct bridge_output_s {
  bridge_output_config config;
  bridge_settings settings;
  bridge_feed_t feed = nullptr;
  pixel_layout_s layout;
  std::thread thread;

  std::mutex status_lock; // the status is read by the view's thread
  bridge_output_status status;

  // Only the output's thread touches what follows.
  int fd = -1;
  bool connected = false;        // the socket is ready to send on
  std::int64_t retry_ns = 0;     // no new socket before this
  std::vector<u8> channels;
  std::vector<u8> message;       // an OPC message, kept between frames
  std::array<u8, LED_PACKET_MAX> packet{};
  int ddp_sequence = 0;
  std::vector<u8> e131_sequences; // one per universe
  u8 e131_sync_sequence = 0;
  std::vector<u8> artnet_sequences;
  bridge_feed_reader reader;     // joined to the feed before the thread starts (UDP), so that no frame is missed
  bool keeps_up = false;         // sends never wait: the OPC side may wait for this output
  long skipped = 0;              // the feed reader's count, for the status
  long frame_packets = 0;
  int frame_errors = 0;
  std::string frame_error;
};

namespace {

void close_socket(bridge_output_s *o) {
  if (o->fd >= 0)
    close(o->fd);
  o->fd = -1;
  o->connected = false;
}

void count_error(bridge_output_s *o, const std::string &what) {
  ++o->frame_errors;
  if (o->frame_error.empty())
    o->frame_error = what;
}

// A new socket for the output, to a freshly resolved address; false (after
// counting the error) when it cannot be made now.
bool open_socket(bridge_output_s *o, std::int64_t now_ns) {
  if (now_ns < o->retry_ns) {
    count_error(o, o->status.last_error.empty() ? "not connected" : o->status.last_error);
    return false;
  }
  o->retry_ns = now_ns + RETRY_NS;
  close_socket(o);
  const bridge_output_config &s = o->config;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (s.multicast) {
    auto &v4 = reinterpret_cast<sockaddr_in &>(address);
    v4.sin_family = AF_INET;
    length = sizeof v4;
  } else {
    std::string why;
    if (!tool_address_resolve({s.host, s.port}, &address, &length, &why)) {
      count_error(o, why);
      return false;
    }
  }
  const bool tcp = s.protocol == bridge_protocol::opc;
  o->fd = socket(address.ss_family, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (o->fd < 0) {
    count_error(o, std::string("socket: ") + std::strerror(errno));
    return false;
  }
  if (s.multicast) {
    in_addr from{};
    if (!s.interface.empty())
      inet_pton(AF_INET, s.interface.c_str(), &from);
    if (!s.interface.empty() && setsockopt(o->fd, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof from) != 0) {
      count_error(o, "interface " + s.interface + ": " + std::strerror(errno));
      close_socket(o);
      return false;
    }
    o->connected = true;
    return true;
  }
  if (s.protocol == bridge_protocol::artnet && is_broadcast(address)) {
    const int on = 1;
    setsockopt(o->fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  if (tcp) {
    const int on = 1;
    setsockopt(o->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  // A connected UDP socket hears of a refused port (on the next send).
  if (connect(o->fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
    int error = errno;
    if (tcp && error == EINPROGRESS) {
      pollfd p{o->fd, POLLOUT, 0};
      socklen_t size = sizeof error;
      if (poll(&p, 1, CONNECT_TIMEOUT_MS) == 1 && getsockopt(o->fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
          error == 0) {
        o->connected = true;
        return true;
      }
      if (error == EINPROGRESS)
        error = ETIMEDOUT;
    }
    count_error(o, std::string("cannot connect: ") + std::strerror(error));
    close_socket(o);
    return false;
  }
  o->connected = true;
  return true;
}

// One UDP packet of `size` bytes from o->packet, to the connected address or
// to `group` (multicast).
void send_datagram(bridge_output_s *o, std::size_t size, std::uint32_t group = 0) {
  if (!o->connected)
    return;
  ssize_t sent;
  if (o->config.multicast) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(std::uint16_t(o->config.port));
    to.sin_addr.s_addr = htonl(group);
    sent = sendto(o->fd, o->packet.data(), size, MSG_DONTWAIT, reinterpret_cast<const sockaddr *>(&to), sizeof to);
  } else {
    sent = send(o->fd, o->packet.data(), size, MSG_DONTWAIT);
  }
  if (sent == ssize_t(size)) {
    ++o->frame_packets;
    return;
  }
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
    count_error(o, "the socket's buffer is full");
    return;
  }
  count_error(o, std::string("cannot send: ") + std::strerror(error));
  // Refused: the controller is there but not listening (yet); anything else
  // may be an address that moved: resolve the name again.
  if (error != ECONNREFUSED)
    o->connected = false;
}

void send_ddp(bridge_output_s *o) {
  const std::size_t size = o->channels.size();
  for (std::size_t offset = 0; offset < size || offset == 0; offset += DDP_MAX_DATA) {
    const std::size_t part = std::min(DDP_MAX_DATA, size - offset);
    o->ddp_sequence = o->ddp_sequence % 15 + 1;
    send_datagram(o, ddp_packet(o->packet.data(), u8(o->ddp_sequence), offset + part >= size, offset,
                                o->channels.data() + offset, part));
    if (size == 0)
      break;
  }
}

std::size_t universes(const bridge_output_s *o) {
  return (o->channels.size() + std::size_t(o->config.universe_size) - 1) / std::size_t(o->config.universe_size);
}

void send_e131(bridge_output_s *o, u8 options) {
  const std::size_t count = universes(o), step = std::size_t(o->config.universe_size);
  o->e131_sequences.resize(count);
  const u16 sync = o->config.sync ? u16(o->config.universe) : 0;
  for (std::size_t u = 0; u < count; ++u) {
    const u16 universe = u16(o->config.universe + int(u));
    const std::size_t slots = std::min(step, o->channels.size() - u * step);
    const u8 sequence = o->e131_sequences[u]++;
    send_datagram(o,
                  e131_data_packet(o->packet.data(), o->settings.cid, o->settings.source_name, universe, sequence,
                                   options, sync, o->channels.data() + u * step, slots),
                  e131_multicast_group(universe));
  }
  if (sync && !(options & E131_OPTION_TERMINATED))
    send_datagram(o, e131_sync_packet(o->packet.data(), o->settings.cid, o->e131_sync_sequence++, sync),
                  e131_multicast_group(sync));
}

void send_artnet(bridge_output_s *o) {
  const std::size_t count = universes(o), step = std::size_t(o->config.universe_size);
  o->artnet_sequences.resize(count);
  for (std::size_t u = 0; u < count; ++u) {
    const std::size_t slots = std::min(step, o->channels.size() - u * step);
    u8 &sequence = o->artnet_sequences[u];
    sequence = u8(sequence % 255 + 1); // 1-255: 0 would tell the node not to order them
    send_datagram(o, artnet_dmx_packet(o->packet.data(), u16(o->config.universe + int(u)), sequence,
                                       o->channels.data() + u * step, slots));
  }
  if (o->config.sync)
    send_datagram(o, artnet_sync_packet(o->packet.data()));
}

void send_opc(bridge_output_s *o) {
  const std::size_t size = std::min<std::size_t>(o->channels.size(), 0xffff);
  std::vector<u8> &message = o->message;
  message.resize(4 + size);
  message[0] = 0; // channel
  message[1] = 0; // set pixel colours
  message[2] = u8(size >> 8);
  message[3] = u8(size);
  std::memcpy(message.data() + 4, o->channels.data(), size);
  std::size_t done = 0;
  while (done < message.size()) {
    const ssize_t n = send(o->fd, message.data() + done, message.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += std::size_t(n);
      continue;
    }
    pollfd p{o->fd, POLLOUT, 0};
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && poll(&p, 1, WRITE_TIMEOUT_MS) == 1)
      continue;
    const int error = (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ? errno : ETIMEDOUT;
    count_error(o, std::string("cannot send: ") + std::strerror(error));
    close_socket(o); // a stream cut mid-message cannot go on: start again
    return;
  }
  ++o->frame_packets;
}

// Lays the picture out and sends it; `options` for E1.31 (the stream-terminated bit).
void send_picture(bridge_output_s *o, const std::array<u8, WALL_FRAME_BYTES> &picture, std::int64_t received_ns,
                  u8 options = 0) {
  const std::int64_t now = monotonic_ns();
  o->frame_packets = 0;
  o->frame_errors = 0;
  o->frame_error.clear();
  pixel_layout_apply(o->layout, o->settings.levels, picture, &o->channels);
  if (o->connected || open_socket(o, now)) {
    switch (o->config.protocol) {
    case bridge_protocol::ddp: send_ddp(o); break;
    case bridge_protocol::e131: send_e131(o, options); break;
    case bridge_protocol::artnet: send_artnet(o); break;
    case bridge_protocol::opc: send_opc(o); break;
    }
  }
  const std::int64_t sent_ns = monotonic_ns();
  bool started_failing = false, recovered = false;
  std::string error;
  {
    std::lock_guard<std::mutex> hold(o->status_lock);
    bridge_output_status &s = o->status;
    ++s.frames;
    s.packets += o->frame_packets;
    s.errors += o->frame_errors;
    s.last_latency_ns = sent_ns - received_ns;
    s.skipped = o->skipped;
    if (o->frame_errors) {
      s.last_error = o->frame_error;
      started_failing = !s.failing;
      s.failing = true;
      error = o->frame_error;
    } else if (s.failing) {
      s.failing = false;
      recovered = true;
    }
  }
  if (started_failing)
    std::fprintf(stderr, "ledwall-bridge: %s: %s\n", o->config.url.c_str(), error.c_str());
  if (recovered)
    std::fprintf(stderr, "ledwall-bridge: %s: sending again\n", o->config.url.c_str());
}

void end_streams(bridge_output_s *o, const std::array<u8, WALL_FRAME_BYTES> &picture) {
  if (o->config.protocol != bridge_protocol::e131)
    return;
  for (int i = 0; i < 3; ++i)
    send_picture(o, picture, monotonic_ns(), E131_OPTION_TERMINATED);
}

enum class phase { quiet, live, holding };

void run(bridge_output_s *o) {
  static const std::array<u8, WALL_FRAME_BYTES> black{};
  wall_frame frame{};
  bridge_feed_reader &reader = o->reader;
  phase now_phase = phase::quiet;
  std::int64_t last_sent_ns = 0, hold_end_ns = 0;
  for (;;) {
    std::int64_t deadline = INT64_MAX;
    if (now_phase == phase::live && reader.connected)
      deadline = last_sent_ns + BRIDGE_KEEP_ALIVE_NS;
    else if (now_phase != phase::quiet) // holding, or live with the client just gone
      deadline = std::min(last_sent_ns + BRIDGE_KEEP_ALIVE_NS, hold_end_ns);
    const bridge_feed_event event = bridge_feed_wait(o->feed, &reader, deadline, &frame);
    if (event == bridge_feed_event::stop)
      break;
    const std::int64_t now = monotonic_ns();
    o->skipped = reader.skipped;
    if (event == bridge_feed_event::frame) {
      now_phase = phase::live;
      send_picture(o, frame.rgb, frame.received_ns);
      last_sent_ns = now;
      continue;
    }
    if (event == bridge_feed_event::client && !reader.connected && now_phase == phase::live) {
      now_phase = phase::holding;
      hold_end_ns = reader.changed_ns + o->settings.idle_hold_ns;
      last_sent_ns = now - BRIDGE_KEEP_ALIVE_NS; // black at once
    }
    if (now_phase == phase::holding && now >= hold_end_ns) {
      end_streams(o, black);
      now_phase = phase::quiet;
      continue;
    }
    if (now_phase != phase::quiet && now - last_sent_ns >= BRIDGE_KEEP_ALIVE_NS) {
      send_picture(o, now_phase == phase::holding ? black : frame.rgb, now);
      last_sent_ns = now;
    }
  }
  if (o->keeps_up)
    bridge_feed_leave(o->feed, &reader);
  if (now_phase != phase::quiet)
    end_streams(o, now_phase == phase::holding ? black : frame.rgb);
}

} // namespace

bridge_output_t bridge_output_init(const bridge_output_config &config, const bridge_settings &settings,
                                   bridge_feed_t feed) {
  auto *o = new bridge_output_s;
  o->config = config;
  o->settings = settings;
  o->feed = feed;
  o->status.url = config.url;
  pixel_layout_make(config, &o->layout);
  // Sends over UDP never wait: the OPC side may wait for such an output. It
  // joins now, so that it takes every frame from the first, however late its
  // thread starts.
  o->keeps_up = config.protocol != bridge_protocol::opc;
  if (o->keeps_up)
    bridge_feed_join(feed, &o->reader);
  o->thread = std::thread(run, o);
  return o;
}

bridge_output_status bridge_output_get_status(bridge_output_t output) {
  std::lock_guard<std::mutex> hold(output->status_lock);
  return output->status;
}

void bridge_output_done(bridge_output_t output, bridge_output_status *last) {
  if (!output)
    return;
  if (output->thread.joinable())
    output->thread.join();
  if (last)
    *last = output->status;
  close_socket(output);
  delete output;
}
