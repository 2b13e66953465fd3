#include "pixel_layout.h"

#include <algorithm>
#include <cmath>

namespace {

struct span {
  int picture; // picture pixel along the axis
  int units;   // how much of it the matrix pixel covers
};

// Along one axis: the picture's `from` pixels fitted into `to` matrix pixels
// (the fitted extent `fitted`, centred). In units of 1/fitted of a picture
// pixel and 1/from of a matrix pixel, picture pixel p spans
// [p * fitted, (p + 1) * fitted) and fitted pixel t spans [t * from, (t + 1) * from);
// their overlaps are the weights, which add up to `from` per matrix pixel.
std::vector<std::vector<span>> axis(int from, int fitted, int to) {
  std::vector<std::vector<span>> spans(static_cast<std::size_t>(to));
  const int offset = (to - fitted) / 2;
  for (int t = 0; t < fitted; ++t) {
    const long low = long(t) * from, high = long(t + 1) * from;
    for (int p = int(low / fitted); p < from && long(p) * fitted < high; ++p) {
      const long overlap = std::min(high, long(p + 1) * fitted) - std::max(low, long(p) * fitted);
      if (overlap > 0)
        spans[std::size_t(offset + t)].push_back({p, int(overlap)});
    }
  }
  return spans;
}

// The matrix position (image order) that physical LED `led` shows, by the
// output's order; -1 where a map leaves the LED dark.
std::vector<int> positions(const bridge_output_config &config) {
  const int w = config.width, h = config.height;
  if (!config.map.empty()) {
    std::vector<int> at(std::size_t(*std::max_element(config.map.begin(), config.map.end()) + 1), -1);
    for (std::size_t p = 0; p < config.map.size(); ++p)
      at[std::size_t(config.map[p])] = int(p);
    return at;
  }
  std::vector<int> at(std::size_t(w * h));
  for (int led = 0; led < w * h; ++led) {
    int x = 0, y = 0;
    switch (config.order) {
    case bridge_order::rows:
      y = led / w, x = led % w;
      if (config.serpentine && y % 2 == 1)
        x = w - 1 - x;
      break;
    case bridge_order::columns:
      x = led / h, y = led % h;
      if (config.serpentine && x % 2 == 1)
        y = h - 1 - y;
      break;
    case bridge_order::wiring: {
      const int p = matrix_led_to_position[std::size_t(led)];
      x = p % MATRIX_WIDTH, y = p / MATRIX_WIDTH;
      break;
    }
    }
    at[std::size_t(led)] = w * y + x;
  }
  return at;
}

} // namespace

pixel_levels pixel_levels_make(double brightness, double gamma) {
  pixel_levels levels{};
  for (int v = 0; v < 256; ++v) {
    const double shaped = gamma == 1.0 ? v / 255.0 : std::pow(v / 255.0, gamma);
    levels[std::size_t(v)] = u8(std::lround(255.0 * shaped * brightness / 100.0));
  }
  return levels;
}

void pixel_layout_make(const bridge_output_config &config, pixel_layout_s *layout) {
  const int w = config.width, h = config.height;
  // The largest whole-picture scale, as a fraction: min(w / 32, h / 16).
  const bool by_width = long(w) * MATRIX_HEIGHT <= long(h) * MATRIX_WIDTH;
  const int fitted_w = by_width ? w : std::max(1, int(std::lround(double(MATRIX_WIDTH) * h / MATRIX_HEIGHT)));
  const int fitted_h = by_width ? std::max(1, int(std::lround(double(MATRIX_HEIGHT) * w / MATRIX_WIDTH))) : h;
  const auto across = axis(MATRIX_WIDTH, fitted_w, w);
  const auto down = axis(MATRIX_HEIGHT, fitted_h, h);
  // The weights along both axes multiply to MATRIX_WIDTH * MATRIX_HEIGHT.

  const std::vector<int> at = positions(config);
  layout->leds = int(at.size());
  layout->colors = config.colors;
  layout->first.assign(1, 0);
  layout->source.clear();
  layout->weight.clear();
  for (const int position : at) {
    if (position >= 0) {
      int x = position % w, y = position / w;
      if (config.flip_x)
        x = w - 1 - x;
      if (config.flip_y)
        y = h - 1 - y;
      for (const span &dy : down[std::size_t(y)])
        for (const span &dx : across[std::size_t(x)]) {
          layout->source.push_back(std::uint16_t(MATRIX_WIDTH * dy.picture + dx.picture));
          layout->weight.push_back(std::uint16_t(dx.units * dy.units));
        }
    }
    layout->first.push_back(std::uint32_t(layout->source.size()));
  }
}

void pixel_layout_apply(const pixel_layout_s &layout, const pixel_levels &levels,
                        const std::array<u8, WALL_FRAME_BYTES> &picture, std::vector<u8> *channels) {
  channels->resize(std::size_t(layout.leds) * 3);
  u8 *out = channels->data();
  for (int led = 0; led < layout.leds; ++led, out += 3) {
    const std::uint32_t begin = layout.first[std::size_t(led)], end = layout.first[std::size_t(led) + 1];
    std::array<u8, 3> rgb{};
    if (end == begin + 1 && layout.weight[begin] == PIXEL_LAYOUT_WEIGHT) {
      const u8 *p = &picture[3 * std::size_t(layout.source[begin])];
      rgb = {p[0], p[1], p[2]};
    } else if (end > begin) {
      std::array<std::uint32_t, 3> sum{};
      for (std::uint32_t s = begin; s < end; ++s) {
        const u8 *p = &picture[3 * std::size_t(layout.source[s])];
        for (int c = 0; c < 3; ++c)
          sum[std::size_t(c)] += std::uint32_t(p[c]) * layout.weight[s];
      }
      for (int c = 0; c < 3; ++c)
        rgb[std::size_t(c)] = u8((sum[std::size_t(c)] + PIXEL_LAYOUT_WEIGHT / 2) / PIXEL_LAYOUT_WEIGHT);
    }
    for (int c = 0; c < 3; ++c)
      out[c] = levels[rgb[std::size_t(layout.colors[std::size_t(c)])]];
  }
}
