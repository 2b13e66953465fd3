#include "plot.h"

#include "dsp.h"

#include <gd.h>
#include <gdfonts.h>
#include <gdfontt.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>

namespace {

constexpr int WIDTH = 1280;      // one column per 0.33 s
constexpr int SPECTROGRAM_HEIGHT = 300;
constexpr int LOUD_HEIGHT = 130;
constexpr int LEFT = 56, RIGHT = 16, TOP = 28, GAP = 14, BOTTOM = 34;
constexpr int FFT_SIZE = 4096;
constexpr int FFTS_PER_COLUMN = 4;
constexpr double LOW_HZ = 30.0, HIGH_HZ = 22050.0;
constexpr double RANGE_DB = 96.0;
constexpr double LOUD_TOP = -4.0, LOUD_BOTTOM = -40.0;

using image_ptr = std::unique_ptr<gdImage, decltype(&gdImageDestroy)>;

// gd takes text as unsigned char * and never writes through it.
void text(gdImagePtr im, gdFontPtr font, int x, int y, const std::string &s, int colour) {
  std::vector<unsigned char> bytes(s.begin(), s.end());
  bytes.push_back(0);
  gdImageString(im, font, x, y, bytes.data(), colour);
}

void dashed(gdImagePtr im, int x0, int y0, int x1, int y1, int colour, int on, int off) {
  std::vector<int> style(size_t(on), colour);
  style.insert(style.end(), size_t(off), gdTransparent);
  gdImageSetStyle(im, style.data(), int(style.size()));
  gdImageLine(im, x0, y0, x1, y1, gdStyled);
}

// In-place radix-2 transform; `twiddle` holds exp(-2 pi i k / n) for k < n/2.
void fft(std::vector<std::complex<double>> &a, const std::vector<std::complex<double>> &twiddle) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j)
      std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const size_t step = n / len;
    for (size_t i = 0; i < n; i += len)
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * twiddle[k * step];
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
  }
}

// Averaged Hann-windowed power spectrum of a column's span.
std::vector<double> column_power(const std::vector<float> &mono, std::int64_t from, std::int64_t to) {
  static const std::vector<std::complex<double>> twiddle = [] {
    std::vector<std::complex<double>> t(FFT_SIZE / 2);
    for (int k = 0; k < FFT_SIZE / 2; ++k)
      t[size_t(k)] = std::polar(1.0, -2.0 * SYNTH_PI * k / FFT_SIZE);
    return t;
  }();
  std::vector<double> power(FFT_SIZE / 2, 0.0);
  std::vector<std::complex<double>> buf(FFT_SIZE);
  for (int f = 0; f < FFTS_PER_COLUMN; ++f) {
    const std::int64_t start = from + (to - from) * f / FFTS_PER_COLUMN;
    for (int i = 0; i < FFT_SIZE; ++i) {
      const std::int64_t at = start + i;
      const double x = at < std::int64_t(mono.size()) ? mono[size_t(at)] : 0.0;
      const double window = 0.5 - 0.5 * std::cos(2.0 * SYNTH_PI * i / FFT_SIZE);
      buf[size_t(i)] = x * window;
    }
    fft(buf, twiddle);
    for (int k = 0; k < FFT_SIZE / 2; ++k)
      power[size_t(k)] += std::norm(buf[size_t(k)]);
  }
  return power;
}

// Black through violet and magenta to orange and pale yellow.
int heat(double t) {
  static const int stops[5][3] = {{0, 0, 0}, {24, 12, 96}, {168, 24, 150}, {250, 126, 36}, {255, 246, 190}};
  t = std::clamp(t, 0.0, 1.0) * 4.0;
  const int i = std::min(3, int(t));
  const double f = t - i;
  const auto mix = [&](int c) { return int(std::lround(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * f)); };
  return gdTrueColor(mix(0), mix(1), mix(2));
}

void draw_spectrogram(gdImagePtr im, const std::vector<float> &mono) {
  const std::int64_t frames = std::int64_t(mono.size());
  std::vector<std::vector<double>> rows(WIDTH, std::vector<double>(SPECTROGRAM_HEIGHT));
  double loudest = 1e-30;
  for (int x = 0; x < WIDTH; ++x) {
    const std::vector<double> power = column_power(mono, frames * x / WIDTH, frames * (x + 1) / WIDTH);
    for (int y = 0; y < SPECTROGRAM_HEIGHT; ++y) {
      // Row y spans a slice of the log axis; average the bins inside it.
      const double top = LOW_HZ * std::pow(HIGH_HZ / LOW_HZ, 1.0 - double(y) / SPECTROGRAM_HEIGHT);
      const double bottom = LOW_HZ * std::pow(HIGH_HZ / LOW_HZ, 1.0 - double(y + 1) / SPECTROGRAM_HEIGHT);
      const int k0 = std::clamp(int(bottom * FFT_SIZE / SYNTH_RATE), 1, FFT_SIZE / 2 - 1);
      const int k1 = std::clamp(int(top * FFT_SIZE / SYNTH_RATE), k0, FFT_SIZE / 2 - 1);
      double sum = 0.0;
      for (int k = k0; k <= k1; ++k)
        sum += power[size_t(k)];
      rows[size_t(x)][size_t(y)] = sum / (k1 - k0 + 1);
      loudest = std::max(loudest, rows[size_t(x)][size_t(y)]);
    }
  }
  for (int x = 0; x < WIDTH; ++x)
    for (int y = 0; y < SPECTROGRAM_HEIGHT; ++y) {
      const double db = 10.0 * std::log10(rows[size_t(x)][size_t(y)] / loudest + 1e-30);
      gdImageSetPixel(im, LEFT + x, TOP + y, heat(1.0 + db / RANGE_DB));
    }
}

void draw_loudness(gdImagePtr im, const plot_input &in, int frames_total) {
  const int top = TOP + SPECTROGRAM_HEIGHT + GAP;
  const int grid = gdTrueColor(40, 40, 56), line = gdTrueColor(70, 230, 255), target = gdTrueColor(255, 90, 160);
  const auto y_of = [&](double lufs) {
    const double t = (LOUD_TOP - std::clamp(lufs, LOUD_BOTTOM, LOUD_TOP)) / (LOUD_TOP - LOUD_BOTTOM);
    return top + int(std::lround(t * (LOUD_HEIGHT - 1)));
  };
  for (int db = -40; db <= -10; db += 10) {
    gdImageLine(im, LEFT, y_of(db), LEFT + WIDTH - 1, y_of(db), grid);
    text(im, gdFontGetSmall(), 8, y_of(db) - 6, std::to_string(db), gdTrueColor(170, 170, 190));
  }
  dashed(im, LEFT, y_of(in.integrated_lufs), LEFT + WIDTH - 1, y_of(in.integrated_lufs), target, 3, 2);
  const std::vector<double> &st = *in.short_term;
  int last_y = -1;
  for (int x = 0; x < WIDTH; ++x) {
    // Short-term value i covers the 3 s ending at block i + 30.
    const double seconds = double(frames_total) * (x + 0.5) / WIDTH / SYNTH_RATE;
    const long i = std::lround(seconds * 10.0) - 30;
    if (i < 0 || i >= long(st.size()) || !std::isfinite(st[size_t(i)]))
      continue;
    const int y = y_of(st[size_t(i)]);
    if (last_y >= 0)
      gdImageLine(im, LEFT + x - 1, last_y, LEFT + x, y, line);
    last_y = y;
  }
  char label[64];
  std::snprintf(label, sizeof label, "short-term LUFS (integrated %.1f)", in.integrated_lufs);
  text(im, gdFontGetSmall(), LEFT + 4, top + 2, label, line);
}

void draw_axes_and_cues(gdImagePtr im, const plot_input &in, int frames_total) {
  const int grey = gdTrueColor(200, 200, 215), cue = gdTrueColor(120, 255, 170);
  const int bottom = TOP + SPECTROGRAM_HEIGHT + GAP + LOUD_HEIGHT;
  for (int s = 0; s <= frames_total / SYNTH_RATE; s += 30) {
    const int x = LEFT + int(std::lround(double(s) * SYNTH_RATE * WIDTH / frames_total));
    gdImageLine(im, x, bottom, x, bottom + 4, grey);
    char label[16];
    std::snprintf(label, sizeof label, "%d:%02d", s / 60, s % 60);
    text(im, gdFontGetSmall(), x - 12, bottom + 6, label, grey);
  }
  for (double hz : {50.0, 100.0, 500.0, 1000.0, 5000.0, 10000.0, 20000.0}) {
    const int y = TOP + int(std::lround((1.0 - std::log(hz / LOW_HZ) / std::log(HIGH_HZ / LOW_HZ)) * SPECTROGRAM_HEIGHT));
    char label[16];
    std::snprintf(label, sizeof label, hz >= 1000.0 ? "%.0fk" : "%.0f", hz >= 1000.0 ? hz / 1000.0 : hz);
    text(im, gdFontGetSmall(), 14, y - 6, label, grey);
    gdImageLine(im, LEFT - 4, y, LEFT - 1, y, grey);
  }
  for (const plot_cue &c : in.cues) {
    const int x = LEFT + int(std::lround(double(c.frame) * WIDTH / frames_total));
    dashed(im, x, TOP - 4, x, bottom, cue, 2, 2);
    text(im, gdFontGetTiny(), x + 2, TOP - 12, c.label, cue);
  }
  text(im, gdFontGetSmall(), LEFT, 2, in.title, grey);
}

} // namespace

bool plot_write(const char *path, const plot_input &in) {
  const int height = TOP + SPECTROGRAM_HEIGHT + GAP + LOUD_HEIGHT + BOTTOM;
  image_ptr im(gdImageCreateTrueColor(LEFT + WIDTH + RIGHT, height), gdImageDestroy);
  if (!im)
    return false;
  gdImageFilledRectangle(im.get(), 0, 0, LEFT + WIDTH + RIGHT - 1, height - 1, gdTrueColor(12, 12, 20));
  const int frames = int(in.mono->size());
  draw_spectrogram(im.get(), *in.mono);
  draw_loudness(im.get(), in, frames);
  draw_axes_and_cues(im.get(), in, frames);
  std::FILE *out = std::fopen(path, "wb");
  if (!out) {
    std::perror(path);
    return false;
  }
  gdImagePng(im.get(), out);
  return std::fclose(out) == 0;
}
