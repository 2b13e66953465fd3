// Collects what the code under test writes to standard error (or standard
// output) while the capture is alive, at the file-descriptor level, so that
// perror, fprintf and printf are all caught.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

class output_capture {
public:
  explicit output_capture(int fd) : fd_(fd), file_(std::tmpfile()), saved_(dup(fd)) {
    flush();
    dup2(fileno(file_), fd_);
  }
  ~output_capture() {
    flush();
    dup2(saved_, fd_);
    close(saved_);
    std::fclose(file_);
  }
  output_capture(const output_capture &) = delete;
  output_capture &operator=(const output_capture &) = delete;

  // Everything written so far; the capture goes on.
  std::string text() const {
    flush();
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
  void flush() const { std::fflush(fd_ == 1 ? stdout : stderr); }
  int fd_;
  std::FILE *file_;
  int saved_;
};

struct stderr_capture : output_capture {
  stderr_capture() : output_capture(2) {}
};

struct stdout_capture : output_capture {
  stdout_capture() : output_capture(1) {}
};
