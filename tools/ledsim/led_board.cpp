#include "led_board.h"

#include "matrix_wiring.h"

#include <cassert>
#include <cstddef>

namespace {

static_assert(MATRIX_WIDTH % MATRIX_PANEL_SIZE == 0 && MATRIX_HEIGHT % MATRIX_PANEL_SIZE == 0);

int margin(int scale) { return scale / 2; }
int panel_gap(int scale) { return scale / 2; }

int cell_origin(int scale, int led) {
  return margin(scale) + scale * led + panel_gap(scale) * (led / MATRIX_PANEL_SIZE);
}

// An odd diameter keeps the dot symmetric about its centre pixel: the odd
// number nearest to 3/4 of the cell, rounding down so a gap always remains.
int dot_radius(int scale) { return ((3 * scale + 2) / 4 - 1) / 2; }

// Half the width of the dot's row dy from its centre. Measuring against
// r * r + r (about (r + 1/2) squared) gives rounder small dots than r * r.
int half_width(int r, int dy) {
  int w = 0;
  while ((w + 1) * (w + 1) + dy * dy <= r * r + r)
    ++w;
  return w;
}

} // namespace

int led_board_width(int scale) { return cell_origin(scale, MATRIX_WIDTH) - panel_gap(scale) + margin(scale); }

int led_board_height(int scale) { return cell_origin(scale, MATRIX_HEIGHT) - panel_gap(scale) + margin(scale); }

int led_board_centre(int scale, int led) { return cell_origin(scale, led) + scale / 2; }

int led_board_dot_radius(int scale) { return dot_radius(scale); }

namespace {

// The board's drawing, whatever it draws into: `fill(x0, x1, y, rgb)` paints
// pixels x0..x1 of row y (inclusive) in a colour, rgb null meaning the board.
template <typename Fill> void draw_board(int x0, int y0, int scale, const wall_frame &frame, Fill fill) {
  assert(scale >= LED_BOARD_MIN_SCALE && scale <= LED_BOARD_MAX_SCALE && "led_board_draw: scale out of range");
  for (int y = 0; y < led_board_height(scale); ++y)
    fill(x0, x0 + led_board_width(scale) - 1, y0 + y, nullptr);

  const int r = dot_radius(scale);
  int spans[LED_BOARD_MAX_SCALE];
  for (int dy = 0; dy <= r; ++dy)
    spans[dy] = half_width(r, dy);
  for (int y = 0; y < MATRIX_HEIGHT; ++y)
    for (int x = 0; x < MATRIX_WIDTH; ++x) {
      const u8 *rgb = &frame.rgb[std::size_t(3 * (MATRIX_WIDTH * y + x))];
      const int cx = x0 + led_board_centre(scale, x), cy = y0 + led_board_centre(scale, y);
      for (int dy = -r; dy <= r; ++dy) {
        const int w = spans[dy < 0 ? -dy : dy];
        fill(cx - w, cx + w, cy + dy, rgb);
      }
    }
}

constexpr u8 BOARD_RGB[3] = {LED_BOARD_COLOUR >> 16, (LED_BOARD_COLOUR >> 8) & 255, LED_BOARD_COLOUR & 255};

} // namespace

void led_board_draw(gdImagePtr im, int x0, int y0, int scale, const wall_frame &frame) {
  const int board = gdImageColorResolve(im, BOARD_RGB[0], BOARD_RGB[1], BOARD_RGB[2]);
  draw_board(x0, y0, scale, frame, [&](int from, int to, int y, const u8 *rgb) {
    gdImageLine(im, from, y, to, y, rgb ? gdImageColorResolve(im, rgb[0], rgb[1], rgb[2]) : board);
  });
}

void led_board_draw_rgb(u8 *pixels, int stride, int x0, int y0, int scale, const wall_frame &frame) {
  draw_board(x0, y0, scale, frame, [&](int from, int to, int y, const u8 *rgb) {
    const u8 *colour = rgb ? rgb : BOARD_RGB;
    u8 *at = pixels + std::ptrdiff_t(y) * stride + 3 * from;
    for (int x = from; x <= to; ++x, at += 3) {
      at[0] = colour[0];
      at[1] = colour[1];
      at[2] = colour[2];
    }
  });
}
