// Opening a file the generator writes.
#pragma once

#include <cstdio>
#include <memory>

struct file_closer {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
using output_file = std::unique_ptr<std::FILE, file_closer>;

// `path` opened for writing; empty, after perror(path), when it cannot be.
inline output_file open_output(const char *path) {
  output_file file(std::fopen(path, "wb"));
  if (!file)
    std::perror(path);
  return file;
}
