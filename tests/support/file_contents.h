// A whole file as a test reads it: the bytes, or the text; empty when the
// file cannot be read.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<unsigned char> file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string file_text(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
