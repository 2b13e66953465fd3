#include "wiring_pattern.h"

#include "gdfont4x8.h"
#include "matrix_wiring.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<int, WIRING_PANELS> panel_colours = {0xFF2020, 0x20FF20, 0x2040FF, 0xFFE020,
                                                          0xFF20FF, 0x20FFFF, 0xFF8010, 0xFFFFFF};

struct rect {
  int x0, y0, x1, y1;
};

// Where the chain's panel `panel` belongs in the picture, from the wiring table.
rect panel_rect(int panel) {
  rect r{MATRIX_WIDTH, MATRIX_HEIGHT, -1, -1};
  for (int led = MATRIX_PANEL_SIZE * MATRIX_PANEL_SIZE * panel;
       led < MATRIX_PANEL_SIZE * MATRIX_PANEL_SIZE * (panel + 1); ++led) {
    const int p = matrix_led_to_position[std::size_t(led)];
    const int x = p % MATRIX_WIDTH, y = p / MATRIX_WIDTH;
    r = {std::min(r.x0, x), std::min(r.y0, y), std::max(r.x1, x), std::max(r.y1, y)};
  }
  return r;
}

void draw_panel(gdImagePtr im, int panel) {
  const rect r = panel_rect(panel);
  gdImageFilledRectangle(im, r.x0, r.y0, r.x1, r.y1, panel_colours[std::size_t(panel)]);
  unsigned char number[] = {static_cast<unsigned char>('1' + panel), 0};
  gdImageString(im, gdFontGet4x8(), r.x0 + 2, r.y0, number, 0x000000);
}

const char *position_of(int panel) {
  static constexpr std::array<const char *, WIRING_PANELS> where = {
      "top row, 1st from the left",    "top row, 2nd from the left",    "top row, 3rd from the left",
      "top row, 4th from the left",    "bottom row, 1st from the left", "bottom row, 2nd from the left",
      "bottom row, 3rd from the left", "bottom row, 4th from the left"};
  return where[std::size_t(panel)];
}

} // namespace

void wiring_pattern_draw(gdImagePtr im, int step) {
  gdImageFilledRectangle(im, 0, 0, MATRIX_WIDTH - 1, MATRIX_HEIGHT - 1, 0x000000);
  if (step < WIRING_PANELS) {
    draw_panel(im, step);
  } else if (step < WIRING_PANELS + WIRING_ROWS) {
    const int y = step - WIRING_PANELS;
    gdImageLine(im, 0, y, MATRIX_WIDTH - 1, y, 0xFFFFFF);
  } else {
    for (int panel = 0; panel < WIRING_PANELS; ++panel)
      draw_panel(im, panel);
  }
}

std::string wiring_pattern_caption(int step) {
  if (step < WIRING_PANELS)
    return "panel " + std::to_string(step + 1) + " of the chain lit, with its number: it belongs " +
           position_of(step);
  if (step < WIRING_PANELS + WIRING_ROWS)
    return "row " + std::to_string(step - WIRING_PANELS + 1) + " of 16 lit white, straight across the wall";
  return "all panels with their numbers: 1 2 3 4 on the top row, 5 6 7 8 below";
}
