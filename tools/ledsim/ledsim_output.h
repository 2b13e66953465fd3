// Opening a file the simulator writes: the frame log, the GIF, the contact
// sheet, the summary.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>

// `path` opened for writing; null, after "ledsim: cannot write PATH: REASON"
// on the standard error stream, when it cannot be.
inline std::FILE *ledsim_open_output(const char *path) {
  std::FILE *file = std::fopen(path, "wb");
  if (!file)
    std::fprintf(stderr, "ledsim: cannot write %s: %s\n", path, std::strerror(errno));
  return file;
}
