// A UDP receiver on 127.0.0.1 for tests of the bridge: it keeps every
// datagram that comes, with its time, on a thread of its own, so that a test
// can read them afterwards or wait for a number of them.
#pragma once

#include "loopback_socket.h"
#include "poll_until.h"
#include "types.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct received_datagram {
  std::vector<u8> bytes;
  std::chrono::steady_clock::time_point when;
};

class udp_receiver {
public:
  udp_receiver() {
    fd_ = loopback_socket(SOCK_DGRAM, 0, &port_);
    const int size = 8 << 20; // a whole show's burst; root may go past the system's limit
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    thread_ = std::thread([this] { run(); });
  }
  ~udp_receiver() {
    running_ = false;
    thread_.join();
    close(fd_);
  }
  udp_receiver(const udp_receiver &) = delete;
  udp_receiver &operator=(const udp_receiver &) = delete;

  int port() const { return port_; }
  std::string at() const { return "127.0.0.1:" + std::to_string(port_); }
  std::size_t count() const {
    std::lock_guard<std::mutex> hold(lock_);
    return datagrams_.size();
  }
  std::vector<received_datagram> datagrams() const {
    std::lock_guard<std::mutex> hold(lock_);
    return datagrams_;
  }
  bool wait_for(std::size_t n, std::chrono::milliseconds limit) const {
    return poll_until([&] { return count() >= n; }, limit);
  }
  void clear() {
    std::lock_guard<std::mutex> hold(lock_);
    datagrams_.clear();
  }

private:
  void run() {
    std::vector<u8> buffer(65536);
    while (running_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1)
        continue;
      const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
      if (n < 0)
        continue;
      std::lock_guard<std::mutex> hold(lock_);
      datagrams_.push_back({std::vector<u8>(buffer.begin(), buffer.begin() + n), std::chrono::steady_clock::now()});
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> running_{true};
  mutable std::mutex lock_;
  std::vector<received_datagram> datagrams_;
  std::thread thread_;
};
