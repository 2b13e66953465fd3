// Collects what the code under test writes to the standard error stream
// (file descriptor 2) while the capture is alive.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

class stderr_capture {
public:
  stderr_capture() : file_(std::tmpfile()), saved_(dup(2)) {
    std::fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~stderr_capture() {
    restore();
    std::fclose(file_);
  }
  stderr_capture(const stderr_capture &) = delete;
  stderr_capture &operator=(const stderr_capture &) = delete;

  // Everything written so far; the capture goes on.
  std::string text() const {
    std::fflush(stderr);
    std::string out;
    char chunk[4096];
    for (off_t at = 0;;) {
      const ssize_t n = pread(fileno(file_), chunk, sizeof chunk, at);
      if (n <= 0)
        break;
      out.append(chunk, size_t(n));
      at += n;
    }
    return out;
  }

private:
  void restore() {
    if (saved_ < 0)
      return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  std::FILE *file_;
  int saved_;
};
