// Wiring of the 32x16 LED wall: eight 8x8 panels, four across and two down,
// chained left to right along the top half, then along the bottom half. Inside
// a panel the rows run top to bottom, even rows left to right, odd rows right
// to left (serpentine). The demo uses the table to put image pixels into LED
// order; the LED wall simulator uses the same table to put them back.
#pragma once

#include "types.h"

#include <array>
#include <cstddef>

inline constexpr int MATRIX_WIDTH = 32;
inline constexpr int MATRIX_HEIGHT = 16;
inline constexpr int MATRIX_LEDS = MATRIX_WIDTH * MATRIX_HEIGHT;
// One frame on the wire: red, green and blue, a byte each, per LED in LED order.
inline constexpr int MATRIX_BYTES_PER_LED = 3;
inline constexpr int MATRIX_FRAME_BYTES = MATRIX_LEDS * MATRIX_BYTES_PER_LED;
inline constexpr int MATRIX_PANEL_SIZE = 8;

// The LED index that shows image pixel (x, y).
constexpr u16 matrix_led_index(int x, int y) {
  const int px = x / MATRIX_PANEL_SIZE, lx = x % MATRIX_PANEL_SIZE;
  const int py = y / MATRIX_PANEL_SIZE, ly = y % MATRIX_PANEL_SIZE;
  const int panels_across = MATRIX_WIDTH / MATRIX_PANEL_SIZE;
  const int panel = panels_across * py + px;
  const int in_row = (ly % 2 == 0) ? lx : MATRIX_PANEL_SIZE - 1 - lx;
  return u16(MATRIX_PANEL_SIZE * MATRIX_PANEL_SIZE * panel + MATRIX_PANEL_SIZE * ly + in_row);
}

// Entry p = MATRIX_WIDTH * y + x is the LED index of image pixel (x, y).
inline constexpr std::array<u16, MATRIX_LEDS> tlm_32x16z = [] {
  std::array<u16, MATRIX_LEDS> table{};
  for (int p = 0; p < MATRIX_LEDS; ++p)
    table[std::size_t(p)] = matrix_led_index(p % MATRIX_WIDTH, p / MATRIX_WIDTH);
  return table;
}();

// The inverse: entry led is the image position MATRIX_WIDTH * y + x that LED shows.
inline constexpr std::array<u16, MATRIX_LEDS> matrix_led_to_position = [] {
  std::array<u16, MATRIX_LEDS> inverse{};
  for (int p = 0; p < MATRIX_LEDS; ++p)
    inverse[tlm_32x16z[std::size_t(p)]] = u16(p);
  return inverse;
}();
