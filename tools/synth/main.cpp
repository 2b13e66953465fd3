// Renders the show's soundtrack from its score and encodes it:
//
//   synth OUT.ogg [OUT.wav] [--plot PICTURE.png] [--tracks]
//
// The render is deterministic: the same build writes the same samples. It
// prints the mix's measurements (peak, loudness, loudness range, DC) and the
// time spent rendering and encoding; --tracks adds each track's level per
// section, --plot draws the spectrogram and loudness curve with the cues.
#include "dsp.h"
#include "encoder.h"
#include "loudness.h"
#include "mixer.h"
#include "plot.h"
#include "score.h"
#include "wav.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int CHUNK = 1024;
constexpr double MASTER_GAIN_DB = -0.4;
constexpr float QUALITY = 0.6f;
constexpr int SERIAL = 0x4E44524D;
constexpr encoder_tags TAGS = {"Neon Drift", "Lumen Ferro"};

struct options {
  const char *ogg = nullptr;
  const char *wav = nullptr;
  const char *plot = nullptr;
  bool tracks = false;
};

bool parse(int argc, char **argv, options *o) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plot") == 0 && i + 1 < argc)
      o->plot = argv[++i];
    else if (std::strcmp(argv[i], "--tracks") == 0)
      o->tracks = true;
    else if (argv[i][0] == '-')
      return false;
    else if (!o->ogg)
      o->ogg = argv[i];
    else if (!o->wav)
      o->wav = argv[i];
    else
      return false;
  }
  return o->ogg != nullptr;
}

struct stats_s {
  double peak = 0.0;
  double sum[2] = {0.0, 0.0};
  double difference = 0.0; // energy of left minus right
};

void measure(stats_s *s, const float *l, const float *r, int n) {
  for (int i = 0; i < n; ++i) {
    s->peak = std::max({s->peak, std::fabs(double(l[i])), std::fabs(double(r[i]))});
    s->sum[0] += l[i];
    s->sum[1] += r[i];
    s->difference += (double(l[i]) - r[i]) * (double(l[i]) - r[i]);
  }
}

void print_tracks(const mixer_s &mixer, const std::vector<std::vector<double>> &energy) {
  const song_s &song = *mixer.song;
  std::printf("%-12s", "track dBFS");
  for (int s = 0; s < SCORE_SECTIONS; ++s)
    std::printf(" %8.8s", score_sections[s].name);
  std::printf("   steals\n");
  for (size_t t = 0; t < song.tracks.size(); ++t) {
    std::printf("%-12s", song.tracks[t].name.c_str());
    for (int s = 0; s < SCORE_SECTIONS; ++s) {
      const double from = beat_frame(score_sections[s].beat);
      const double to = s + 1 < SCORE_SECTIONS ? beat_frame(score_sections[s + 1].beat) : double(SCORE_FRAMES);
      const double e = energy[size_t(s + 1)][t] - energy[size_t(s)][t];
      const double rms = std::sqrt(e / (2.0 * (to - from)));
      if (rms > 1e-6)
        std::printf(" %8.1f", 20.0 * std::log10(rms));
      else
        std::printf(" %8s", "-");
    }
    std::printf(" %8d\n", mixer.tracks[t].steals);
  }
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

int main(int argc, char **argv) {
  options opt;
  if (!parse(argc, argv, &opt)) {
    std::fprintf(stderr, "usage: %s OUT.ogg [OUT.wav] [--plot PICTURE.png] [--tracks]\n", argv[0]);
    return 2;
  }
  song_s song;
  score_build(&song);
  mixer_s mixer;
  const auto setup = std::chrono::steady_clock::now();
  mixer_init(&mixer, &song, db_gain(MASTER_GAIN_DB));
  double render_s = seconds_since(setup), encode_s = 0.0;

  encoder_s enc;
  if (!encoder_open(&enc, opt.ogg, SYNTH_RATE, QUALITY, TAGS, SERIAL))
    return 1;
  wav_s wav{};
  if (opt.wav && !wav_open(&wav, opt.wav, SYNTH_RATE, SCORE_FRAMES))
    return 1;

  loudness_s meter;
  loudness_init(&meter, SYNTH_RATE);
  stats_s stats;
  std::vector<float> mono;
  if (opt.plot)
    mono.reserve(size_t(SCORE_FRAMES));
  std::vector<std::vector<double>> energy{mixer.track_energy};
  std::vector<std::int64_t> limited{mixer.limiter.reduced};
  int next_section = 1;

  bool ok = true;
  std::vector<float> left(CHUNK), right(CHUNK);
  for (std::int64_t done = 0; done < SCORE_FRAMES;) {
    const int n = int(std::min<std::int64_t>(CHUNK, SCORE_FRAMES - done));
    auto t = std::chrono::steady_clock::now();
    mixer_render(&mixer, left.data(), right.data(), n);
    render_s += seconds_since(t);
    measure(&stats, left.data(), right.data(), n);
    loudness_add(&meter, left.data(), right.data(), size_t(n));
    if (opt.plot)
      for (int i = 0; i < n; ++i)
        mono.push_back(0.5f * (left[size_t(i)] + right[size_t(i)]));
    t = std::chrono::steady_clock::now();
    ok = encoder_write(&enc, left.data(), right.data(), n) && ok;
    encode_s += seconds_since(t);
    if (opt.wav)
      ok = wav_write(&wav, left.data(), right.data(), n) && ok;
    done += n;
    // Chunks do not end on section starts; the table is accurate to a chunk.
    while (next_section < SCORE_SECTIONS && done >= beat_frame(score_sections[next_section].beat)) {
      energy.push_back(mixer.track_energy);
      limited.push_back(mixer.limiter.reduced);
      ++next_section;
    }
  }
  energy.push_back(mixer.track_energy);
  limited.push_back(mixer.limiter.reduced);
  const auto t = std::chrono::steady_clock::now();
  ok = encoder_close(&enc) && ok;
  encode_s += seconds_since(t);
  if (opt.wav)
    ok = wav_close(&wav) && ok;
  if (!ok) {
    std::fprintf(stderr, "synth: writing the output failed\n");
    return 1;
  }

  const double lufs = loudness_integrated(&meter);
  const double seconds = double(SCORE_FRAMES) / SYNTH_RATE;
  std::printf("frames %lld, render %.1f s, encode %.1f s\n", static_cast<long long>(SCORE_FRAMES), render_s, encode_s);
  std::printf("peak %.2f dBFS, integrated %.2f LUFS, range %.1f LU, DC %.6f / %.6f, side energy %.3g\n",
              gain_db(stats.peak), lufs, loudness_range(&meter), stats.sum[0] / double(SCORE_FRAMES),
              stats.sum[1] / double(SCORE_FRAMES), stats.difference);
  std::printf("limiter: deepest %.1f dB, over 1 dB on %.2f %% of frames\n", gain_db(mixer.limiter.deepest),
              100.0 * double(mixer.limiter.reduced) / double(SCORE_FRAMES));
  std::printf("%s: %lld bytes, %.1f kbit/s\n", opt.ogg, enc.bytes, double(enc.bytes) * 8.0 / seconds / 1000.0);
  std::printf("LUFS per section:");
  for (int s = 0; s < SCORE_SECTIONS; ++s) {
    const std::int64_t to = s + 1 < SCORE_SECTIONS ? beat_frame(score_sections[s + 1].beat) : SCORE_FRAMES;
    const std::int64_t from = beat_frame(score_sections[s].beat);
    std::printf(" %s %.1f (limited %.1f %%)%s", score_sections[s].name, loudness_integrated_between(&meter, from, to),
                100.0 * double(limited[size_t(s + 1)] - limited[size_t(s)]) / double(to - from),
                s + 1 < SCORE_SECTIONS ? "," : "\n");
  }
  if (opt.tracks)
    print_tracks(mixer, energy);

  if (opt.plot) {
    plot_input in;
    const std::vector<double> short_term = loudness_short_term(&meter);
    in.mono = &mono;
    in.short_term = &short_term;
    in.integrated_lufs = lufs;
    for (int s = 1; s < SCORE_SECTIONS; ++s)
      in.cues.push_back({beat_frame(score_sections[s].beat), score_sections[s].name});
    in.title = std::string(TAGS.artist) + " - " + TAGS.title + ": spectrogram and short-term loudness, scene cues marked";
    if (!plot_write(opt.plot, in)) {
      std::fprintf(stderr, "synth: drawing %s failed\n", opt.plot);
      return 1;
    }
  }
  return 0;
}
