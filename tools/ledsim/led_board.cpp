#include "led_board.h"

#include "matrix_wiring.h"

#include <cassert>

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

void led_board_draw(gdImagePtr im, int x0, int y0, int scale, const wall_frame &frame) {
  assert(scale >= LED_BOARD_MIN_SCALE && scale <= LED_BOARD_MAX_SCALE && "led_board_draw: scale out of range");
  const int board = gdImageColorResolve(im, LED_BOARD_COLOUR >> 16, (LED_BOARD_COLOUR >> 8) & 255, LED_BOARD_COLOUR & 255);
  gdImageFilledRectangle(im, x0, y0, x0 + led_board_width(scale) - 1, y0 + led_board_height(scale) - 1, board);

  const int r = dot_radius(scale);
  int spans[LED_BOARD_MAX_SCALE];
  for (int dy = 0; dy <= r; ++dy)
    spans[dy] = half_width(r, dy);
  for (int y = 0; y < MATRIX_HEIGHT; ++y)
    for (int x = 0; x < MATRIX_WIDTH; ++x) {
      const u8 *rgb = &frame.rgb[std::size_t(3 * (MATRIX_WIDTH * y + x))];
      const int colour = gdImageColorResolve(im, rgb[0], rgb[1], rgb[2]);
      const int cx = x0 + cell_origin(scale, x) + scale / 2, cy = y0 + cell_origin(scale, y) + scale / 2;
      for (int dy = -r; dy <= r; ++dy) {
        const int w = spans[dy < 0 ? -dy : dy];
        gdImageLine(im, cx - w, cy + dy, cx + w, cy + dy, colour);
      }
    }
}
