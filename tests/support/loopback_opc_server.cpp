#include "loopback_opc_server.h"

#include "matrix_wiring.h"
#include "opc_stream.h"
#include "poll_until.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <system_error>
#include <sys/socket.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(int fd, const char *what) {
  const int error = errno;
  if (fd >= 0)
    close(fd);
  throw std::system_error(error, std::generic_category(), what);
}

struct connection_context {
  loopback_opc_server *server;
  int connection;
  std::size_t messages;
};

} // namespace

loopback_opc_server::loopback_opc_server(u16 port, int receive_buffer_bytes) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0)
    fail(-1, "socket");
  const int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Set before listen(): accepted connections inherit it, and the window
  // they offer is chosen from it.
  if (receive_buffer_bytes > 0 &&
      setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer_bytes, sizeof receive_buffer_bytes) < 0)
    fail(listen_fd_, "setsockopt SO_RCVBUF");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0)
    fail(listen_fd_, "bind");
  if (listen(listen_fd_, 4) < 0)
    fail(listen_fd_, "listen");
  socklen_t length = sizeof address;
  getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

loopback_opc_server::~loopback_opc_server() {
  running_ = false;
  thread_.join();
  close(listen_fd_);
}

void loopback_opc_server::set_reading(bool reading) { reading_ = reading; }

void loopback_opc_server::close_after(std::size_t messages) { close_after_ = messages; }

void loopback_opc_server::set_keeping(bool keeping) { keeping_ = keeping; }

void loopback_opc_server::on_message(int connection, u8 channel, u8 command, u16 length, const u8 *data,
                                     std::size_t kept) {
  ++message_count_;
  if (!keeping_)
    return;
  std::lock_guard lock(mutex_);
  messages_.push_back({connection, channel, command, length, std::vector<u8>(data, data + kept),
                       std::chrono::steady_clock::now()});
  changed_.notify_all();
}

// Short poll intervals keep the flags responsive without a wake-up pipe.
void loopback_opc_server::serve() {
  int client = -1;
  int connection = -1;
  opc_stream_s stream{};
  connection_context context{this, -1, 0};
  u8 buffer[4096];

  while (running_) {
    if (!reading_) {
      idle_polls_ = 0;
      usleep(5000);
      continue;
    }
    pollfd pfd{client >= 0 ? client : listen_fd_, POLLIN, 0};
    const int ready = poll(&pfd, 1, 10);
    if (ready == 0 && client < 0)
      ++idle_polls_;
    else
      idle_polls_ = 0;
    if (ready <= 0)
      continue;

    if (client < 0) {
      client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0)
        continue;
      opc_stream_reset(&stream);
      std::lock_guard lock(mutex_);
      connection = int(bytes_.size());
      bytes_.emplace_back();
      context = {this, connection, 0};
      changed_.notify_all();
      continue;
    }

    const ssize_t n = read(client, buffer, sizeof buffer);
    if (n <= 0) {
      close(client);
      client = -1;
      continue;
    }
    if (keeping_) {
      std::lock_guard lock(mutex_);
      bytes_[size_t(connection)].insert(bytes_[size_t(connection)].end(), buffer, buffer + n);
    }
    opc_stream_feed(
        &stream, buffer, size_t(n),
        [](void *user, const opc_message &m) {
          auto *c = static_cast<connection_context *>(user);
          c->server->on_message(c->connection, m.channel, m.command, m.length, m.data, m.kept);
          ++c->messages;
        },
        &context);
    const std::size_t limit = close_after_;
    if (limit != 0 && context.messages >= limit) {
      close(client);
      client = -1;
    }
  }
  if (client >= 0)
    close(client);
}

bool loopback_opc_server::wait_for_messages(std::size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return messages_.size() >= count; });
}

bool loopback_opc_server::wait_until_drained(std::chrono::milliseconds limit) {
  // Three empty polls of the listening socket in a row, with no client open:
  // at most one of them began before this call, and a connection queued
  // before it would have made the others ready.
  constexpr int EMPTY_POLLS = 3;
  if (!reading_)
    return false;
  idle_polls_ = 0;
  return poll_until([this] { return idle_polls_ >= EMPTY_POLLS || !reading_; }, limit,
                    std::chrono::milliseconds(5)) &&
         reading_;
}

bool loopback_opc_server::wait_for_connections(std::size_t count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return bytes_.size() >= count; });
}

std::vector<received_message> loopback_opc_server::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::vector<u8>> loopback_opc_server::bytes_per_connection() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

std::size_t loopback_opc_server::connections() const {
  std::lock_guard lock(mutex_);
  return bytes_.size();
}

std::vector<wall_pixels> received_frames(loopback_opc_server &server, std::size_t expected) {
  server.wait_for_messages(expected, std::chrono::seconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<wall_pixels> out;
  for (const auto &m : server.messages()) {
    wall_pixels image{};
    for (std::size_t p = 0; p < MATRIX_LEDS; ++p) {
      const std::size_t led = tlm_32x16z[p];
      image[p] = {m.data[3 * led], m.data[3 * led + 1], m.data[3 * led + 2]};
    }
    out.push_back(image);
  }
  return out;
}
