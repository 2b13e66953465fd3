// A socket bound on 127.0.0.1, for tests and benchmarks that receive on
// loopback or need a port that refuses.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A socket of `type` (SOCK_DGRAM, SOCK_STREAM) bound to 127.0.0.1:`port`
// (0: a free one), the port it got in *bound. -1 when it cannot be had.
inline int loopback_socket(int type, int port, int *bound) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) != 0) {
    if (fd >= 0)
      close(fd);
    return -1;
  }
  *bound = ntohs(a.sin_port);
  return fd;
}
