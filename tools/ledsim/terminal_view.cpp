#include "terminal_view.h"

#include "led_board.h"
#include "matrix_wiring.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

struct terminal_view_s {
  int fd;
  int columns, rows;
  wall_frame frame;
  std::string status;       // as last given
  std::string shown_status; // as last written, to skip writing it again
  bool too_small_shown;     // the too-small line is up and needs no rewriting
  std::string text;
};

namespace {

const char *const UPPER_HALF_BLOCK = "\u2580";
constexpr int DEFAULT_COLOUR = -1; // the terminal's own

// Sends all of `text`; gives up on the first error other than an interruption.
void write_all(int fd, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    done += std::size_t(n);
  }
}

int led_colour(const wall_frame &frame, int x, int y) {
  const u8 *rgb = &frame.rgb[std::size_t(3 * (MATRIX_WIDTH * y + x))];
  return rgb[0] << 16 | rgb[1] << 8 | rgb[2];
}

// Colour changes only, so that runs of equal colours cost no escapes. A row
// starts after a reset, in the terminal's own colours.
struct pen {
  int fg = DEFAULT_COLOUR, bg = DEFAULT_COLOUR;
};

void set_colour(std::string *text, int *current, int colour, int selector) {
  if (*current == colour)
    return;
  char escape[24];
  const int n = colour == DEFAULT_COLOUR ? std::snprintf(escape, sizeof escape, "\x1b[%dm", selector + 1)
                                         : std::snprintf(escape, sizeof escape, "\x1b[%d;2;%d;%d;%dm", selector,
                                                         colour >> 16, (colour >> 8) & 255, colour & 255);
  text->append(escape, std::size_t(n));
  *current = colour;
}

// Units across `leds` LEDs of whole panels: no gap after the last LED.
int span_units(const terminal_layout &l, int leds) {
  return leds * l.pitch - (l.pitch - l.lit) + (leds / MATRIX_PANEL_SIZE - 1) * l.panel_gap;
}

// Along one axis of `leds` LEDs: the LED each unit lights, -1 for the gaps.
std::vector<int> unit_leds(const terminal_layout &l, int leds, int units) {
  std::vector<int> led_of(std::size_t(units), -1);
  for (int i = 0; i < leds; ++i) {
    const int origin = i * l.pitch + i / MATRIX_PANEL_SIZE * l.panel_gap;
    for (int k = 0; k < l.lit; ++k)
      led_of[std::size_t(origin + k)] = i;
  }
  return led_of;
}

void render_wall(const wall_frame &frame, const terminal_layout &l, bool erase_rest, std::string *text) {
  const int wide = span_units(l, MATRIX_WIDTH), high = span_units(l, MATRIX_HEIGHT);
  const std::vector<int> xs = unit_leds(l, MATRIX_WIDTH, wide), ys = unit_leds(l, MATRIX_HEIGHT, high);
  const auto colour = [&](int ux, int uy) {
    if (uy >= high)
      return DEFAULT_COLOUR;
    const int x = xs[std::size_t(ux)], y = ys[std::size_t(uy)];
    return x < 0 || y < 0 ? LED_BOARD_COLOUR : led_colour(frame, x, y);
  };
  text->append("\x1b[H\x1b[0m");
  for (int row = 0; row < l.rows; ++row) {
    pen p;
    for (int ux = 0; ux < wide; ++ux) {
      const int upper = colour(ux, 2 * row), lower = colour(ux, 2 * row + 1);
      set_colour(text, &p.bg, lower, 48);
      if (upper == lower) {
        text->push_back(' ');
      } else {
        set_colour(text, &p.fg, upper, 38);
        text->append(UPPER_HALF_BLOCK);
      }
    }
    // Reset before erasing, so the rest of the row keeps the terminal's own
    // background; a row as wide as the terminal has no rest, and erasing
    // there would take its last column.
    text->append("\x1b[0m");
    if (erase_rest)
      text->append("\x1b[K");
    text->append("\r\n");
  }
}

// The status line as it fits `columns`: control characters as '?', cut at
// the end of the last whole field, or anywhere when the first is too long.
std::string fitted(const char *status_line, int columns) {
  std::string line;
  int shown = 0;
  std::size_t field_end = 0;
  bool cut = false;
  for (const char *c = status_line ? status_line : ""; *c; ++c) {
    const bool starts_glyph = (u8(*c) & 0xc0) != 0x80;
    if (starts_glyph && shown == columns) {
      cut = true;
      break;
    }
    if (*c == ' ' && c[1] == ' ' && !line.empty() && line.back() != ' ')
      field_end = line.size();
    line.push_back((u8(*c) < 0x20 || *c == 0x7f) ? '?' : *c);
    shown += starts_glyph;
  }
  if (cut && field_end > 0)
    line.resize(field_end);
  return line;
}

void append_status(const char *status_line, int columns, int row, std::string *text) {
  char move[32];
  const int n = std::snprintf(move, sizeof move, "\x1b[%d;1H\x1b[0m\x1b[J", row + 1);
  text->append(move, std::size_t(n));
  text->append(fitted(status_line, columns));
}

void render_too_small(int columns, int rows, std::string *text) {
  const terminal_layout least = terminal_view_layout_at(1);
  char line[128];
  const int n = std::snprintf(line, sizeof line, "terminal %dx%d is too small for the wall: it needs at least %dx%d",
                              columns, rows, least.columns, least.rows + 1);
  text->append("\x1b[H\x1b[0m\x1b[2J");
  text->append(line, std::size_t(std::clamp(n, 0, std::max(columns, 0))));
}

void take_size(terminal_view_t view) {
  winsize size{};
  const bool told = ioctl(view->fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
  view->columns = told ? size.ws_col : 80;
  view->rows = told ? size.ws_row : 24;
  view->shown_status.clear();
  view->too_small_shown = false;
}

void redraw(terminal_view_t view) {
  const bool too_small = terminal_view_layout(view->columns, view->rows).pitch == 0;
  if (too_small && view->too_small_shown)
    return;
  terminal_view_render(view->frame, view->status.c_str(), view->columns, view->rows, &view->text);
  write_all(view->fd, view->text);
  view->too_small_shown = too_small;
  view->shown_status = view->status;
}

} // namespace

terminal_layout terminal_view_layout_at(int pitch) {
  terminal_layout l{};
  l.pitch = pitch;
  l.lit = pitch - (pitch >= 3 ? std::max(1, pitch / 4) : 0);
  l.panel_gap = std::max(1, pitch / 2);
  l.columns = span_units(l, MATRIX_WIDTH);
  l.rows = (span_units(l, MATRIX_HEIGHT) + 1) / 2;
  return l;
}

terminal_layout terminal_view_layout(int columns, int rows) {
  terminal_layout fits{};
  for (int pitch = 1; pitch <= TERMINAL_VIEW_MAX_PITCH; ++pitch) {
    const terminal_layout l = terminal_view_layout_at(pitch);
    if (l.columns > columns || l.rows + 1 > rows)
      break;
    fits = l;
  }
  return fits;
}

terminal_view_t terminal_view_init(int fd) {
  auto *view = new terminal_view_s{fd, 80, 24, {}, {}, {}, false, {}};
  take_size(view);
  write_all(fd, "\x1b[?1049h\x1b[?25l\x1b[2J");
  return view;
}

void terminal_view_render(const wall_frame &frame, const char *status_line, int columns, int rows, std::string *text) {
  text->clear();
  const terminal_layout l = terminal_view_layout(columns, rows);
  if (l.pitch == 0) {
    render_too_small(columns, rows, text);
    return;
  }
  render_wall(frame, l, l.columns < columns, text);
  append_status(status_line, columns, l.rows, text);
}

void terminal_view_draw(terminal_view_t view, const wall_frame &frame, const char *status_line) {
  view->frame = frame;
  view->status = status_line ? status_line : "";
  redraw(view);
}

void terminal_view_status(terminal_view_t view, const char *status_line) {
  view->status = status_line ? status_line : "";
  const terminal_layout l = terminal_view_layout(view->columns, view->rows);
  if (l.pitch == 0 || view->status == view->shown_status)
    return;
  view->text.clear();
  append_status(status_line, view->columns, l.rows, &view->text);
  write_all(view->fd, view->text);
  view->shown_status = view->status;
}

void terminal_view_resize(terminal_view_t view) {
  take_size(view);
  redraw(view);
}

void terminal_view_done(terminal_view_t view) {
  write_all(view->fd, "\x1b[0m\x1b[?25h\x1b[?1049l");
  delete view;
}
