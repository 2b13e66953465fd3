// A picture of the song for the docs: a spectrogram over a log-frequency
// axis and the short-term loudness below it, the scene cues drawn across
// both. Drawn with libgd, written as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct plot_cue {
  std::int64_t frame;
  std::string label;
};

struct plot_input {
  const std::vector<float> *mono; // the whole song
  const std::vector<double> *short_term; // LUFS every 100 ms, first at 3 s
  double integrated_lufs;
  std::vector<plot_cue> cues;
  std::string title;
};

bool plot_write(const char *path, const plot_input &in);
