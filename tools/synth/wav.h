// A 16-bit stereo WAV file for listening to the render without a decoder.
#pragma once

#include <cstdint>
#include <cstdio>

struct wav_s {
  std::FILE *out;
};

bool wav_open(wav_s *w, const char *path, int rate, std::int64_t frames);
bool wav_write(wav_s *w, const float *left, const float *right, int frames);
bool wav_close(wav_s *w);
