// A real OPC server on 127.0.0.1 for tests: it accepts one client at a time,
// records every byte and every message each connection delivers, and can be
// told to stop reading, to close a connection after some messages, or to go
// away altogether (its port then refuses connections).
#pragma once

#include "types.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct received_message {
  int connection; // 0 for the first accepted connection, then 1, 2, ...
  u8 channel;
  u8 command;
  u16 length;
  std::vector<u8> data; // the first bytes of the body, up to one 32x16 frame
  std::chrono::steady_clock::time_point when;
};

class loopback_opc_server {
public:
  // Listens on `port`, or on a free port chosen by the system when 0; throws
  // std::system_error when the port cannot be had. A `receive_buffer_bytes`
  // above 0 fixes every accepted connection's receive buffer at that size
  // (the kernel books twice the value) instead of letting the kernel grow it,
  // so that what a stalled server takes in does not depend on how fast it
  // read before.
  explicit loopback_opc_server(u16 port = 0, int receive_buffer_bytes = 0);
  ~loopback_opc_server();
  loopback_opc_server(const loopback_opc_server &) = delete;
  loopback_opc_server &operator=(const loopback_opc_server &) = delete;

  u16 port() const { return port_; }
  std::string hostport() const { return "127.0.0.1:" + std::to_string(port_); }

  // While false the server neither accepts nor reads: clients fill the socket buffers.
  void set_reading(bool reading);
  // Closes each connection once it has delivered this many messages (0: never).
  void close_after(std::size_t messages);
  // While false, messages are only counted, not kept (for long benchmark runs).
  void set_keeping(bool keeping);
  std::size_t message_count() const { return message_count_; }

  bool wait_for_messages(std::size_t count, std::chrono::milliseconds limit);
  // Waits until every connection made so far has been read to its end and
  // none waits to be accepted: after a client program has ended, all it sent
  // has then been recorded, however late the kernel delivered it. False after
  // `limit`, or at once while reading is off.
  bool wait_until_drained(std::chrono::milliseconds limit);
  bool wait_for_connections(std::size_t count, std::chrono::milliseconds limit);

  std::vector<received_message> messages() const;
  std::vector<std::vector<u8>> bytes_per_connection() const;
  std::size_t connections() const;

private:
  void serve();
  void on_message(int connection, u8 channel, u8 command, u16 length, const u8 *data, std::size_t kept);

  int listen_fd_ = -1;
  u16 port_ = 0;
  std::atomic<bool> running_{true};
  std::atomic<bool> reading_{true};
  std::atomic<std::size_t> close_after_{0};
  std::atomic<bool> keeping_{true};
  std::atomic<std::size_t> message_count_{0};
  std::atomic<int> idle_polls_{0}; // listening polls in a row that found no client and none pending
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<received_message> messages_;
  std::vector<std::vector<u8>> bytes_;
  std::thread thread_;
};

// A frame as the wall shows it: pixel (x, y) at 32 * y + x, red, green, blue.
using wall_pixels = std::array<std::array<int, 3>, 512>;

// Every frame `server` has received, in image order: waits until `expected`
// have arrived, then a moment more to be sure no further frame is on its way.
std::vector<wall_pixels> received_frames(loopback_opc_server &server, std::size_t expected);
