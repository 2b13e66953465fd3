#include "wav.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

void put16(std::vector<unsigned char> &b, unsigned v) {
  b.push_back(static_cast<unsigned char>(v & 0xFF));
  b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void put32(std::vector<unsigned char> &b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

std::int16_t to_pcm(float x) {
  return static_cast<std::int16_t>(std::lround(std::clamp(double(x), -1.0, 32767.0 / 32768.0) * 32768.0));
}

} // namespace

bool wav_open(wav_s *w, const char *path, int rate, std::int64_t frames) {
  w->out = std::fopen(path, "wb");
  if (!w->out) {
    std::perror(path);
    return false;
  }
  const std::uint32_t data = std::uint32_t(frames * 4);
  std::vector<unsigned char> h;
  for (char c : {'R', 'I', 'F', 'F'})
    h.push_back(static_cast<unsigned char>(c));
  put32(h, 36 + data);
  for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '})
    h.push_back(static_cast<unsigned char>(c));
  put32(h, 16);
  put16(h, 1); // PCM
  put16(h, 2);
  put32(h, std::uint32_t(rate));
  put32(h, std::uint32_t(rate) * 4);
  put16(h, 4);
  put16(h, 16);
  for (char c : {'d', 'a', 't', 'a'})
    h.push_back(static_cast<unsigned char>(c));
  put32(h, data);
  return std::fwrite(h.data(), 1, h.size(), w->out) == h.size();
}

bool wav_write(wav_s *w, const float *left, const float *right, int frames) {
  std::vector<unsigned char> b;
  b.reserve(size_t(frames) * 4);
  for (int i = 0; i < frames; ++i) {
    put16(b, std::uint16_t(to_pcm(left[i])));
    put16(b, std::uint16_t(to_pcm(right[i])));
  }
  return std::fwrite(b.data(), 1, b.size(), w->out) == b.size();
}

bool wav_close(wav_s *w) {
  const bool ok = std::fclose(w->out) == 0;
  w->out = nullptr;
  return ok;
}
