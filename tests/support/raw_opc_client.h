// A plain TCP client on the loopback address for tests of OPC servers: it
// writes exactly the bytes it is given, so that a test can split, merge,
// truncate or garble the stream, and closes when it goes out of scope.
#pragma once

#include "types.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

// A plain TCP client that writes exactly the bytes it is given.
struct raw_client {
  int fd = -1;
  explicit raw_client(int port) {
    std::signal(SIGPIPE, SIG_IGN); // a closed connection shows as a failed write
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(u16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    error = errno;
  }
  ~raw_client() { close(fd); }
  void send_bytes(const std::vector<u8> &bytes, size_t piece = 1 << 20) const {
    for (size_t at = 0; at < bytes.size(); at += piece)
      ASSERT_GT(write(fd, bytes.data() + at, std::min(piece, bytes.size() - at)), 0);
  }
  bool connected;
  int error;
};

inline std::vector<u8> opc_message(u8 channel, u8 command, const std::vector<u8> &body) {
  std::vector<u8> bytes(4 + body.size());
  bytes[0] = channel;
  bytes[1] = command;
  bytes[2] = u8(body.size() >> 8);
  bytes[3] = u8(body.size() & 0xff);
  std::copy(body.begin(), body.end(), bytes.begin() + 4);
  return bytes;
}
