#include "terminal_view.h"

#include "led_board.h"
#include "matrix_wiring.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct terminal_view_s {
  int fd;

  // Handed over by the caller's thread, taken by the drawing thread.
  std::mutex lock;
  std::condition_variable wake;
  wall_frame frame{};
  std::string status;
  bool changed = false; // a frame or status line not drawn yet
  bool resized = false;
  bool closing = false;
  std::int64_t closing_deadline_ns = 0;

  // The drawing thread's own.
  int columns = 80, rows = 24;
  std::vector<std::string> shown; // each row's text as last written
  std::vector<std::string> lines;
  std::string text;
  std::thread drawing;
};

namespace {

const char *const UPPER_HALF_BLOCK = "\u2580";
constexpr int DEFAULT_COLOUR = -1; // the terminal's own

std::int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Sends all of `text` in pieces as the terminal takes them, so that a slow
// terminal holds up only this thread. Gives up on an error, or once the view
// is closing and its deadline has passed (a terminal that takes nothing must
// not keep the program from ending). False when not all of it went out.
bool write_all(terminal_view_t view, const std::string &text) {
  constexpr std::size_t PIECE = 4096;
  std::size_t done = 0;
  while (done < text.size()) {
    {
      std::lock_guard<std::mutex> hold(view->lock);
      if (view->closing && now_ns() > view->closing_deadline_ns)
        return false;
    }
    pollfd ready{view->fd, POLLOUT, 0};
    const int r = poll(&ready, 1, 100);
    if (r < 0 && errno != EINTR)
      return false;
    if (r <= 0)
      continue;
    const ssize_t n = write(view->fd, text.data() + done, std::min(PIECE, text.size() - done));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n <= 0)
      return false;
    done += std::size_t(n);
  }
  return true;
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

// Moves to the start of text row `row` (from 0) in the terminal's own colours.
std::string row_start(int row) {
  char move[32];
  const int n = std::snprintf(move, sizeof move, "\x1b[%d;1H\x1b[0m", row + 1);
  return std::string(move, std::size_t(n));
}

// One text per row of the wall, each placing itself, so that a row can be
// written alone.
void render_wall(const wall_frame &frame, const terminal_layout &l, bool erase_rest, std::vector<std::string> *lines) {
  const int wide = span_units(l, MATRIX_WIDTH), high = span_units(l, MATRIX_HEIGHT);
  const std::vector<int> xs = unit_leds(l, MATRIX_WIDTH, wide), ys = unit_leds(l, MATRIX_HEIGHT, high);
  const auto colour = [&](int ux, int uy) {
    if (uy >= high)
      return DEFAULT_COLOUR;
    const int x = xs[std::size_t(ux)], y = ys[std::size_t(uy)];
    return x < 0 || y < 0 ? LED_BOARD_COLOUR : led_colour(frame, x, y);
  };
  for (int row = 0; row < l.rows; ++row) {
    std::string text = row_start(row);
    pen p;
    for (int ux = 0; ux < wide; ++ux) {
      const int upper = colour(ux, 2 * row), lower = colour(ux, 2 * row + 1);
      set_colour(&text, &p.bg, lower, 48);
      if (upper == lower) {
        text.push_back(' ');
      } else {
        set_colour(&text, &p.fg, upper, 38);
        text.append(UPPER_HALF_BLOCK);
      }
    }
    // Reset before erasing, so the rest of the row keeps the terminal's own
    // background; a row as wide as the terminal has no rest, and erasing
    // there would take its last column.
    text.append("\x1b[0m");
    if (erase_rest)
      text.append("\x1b[K");
    lines->push_back(std::move(text));
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

std::string status_row(const char *status_line, int columns, int row) {
  return row_start(row) + "\x1b[J" + fitted(status_line, columns);
}

std::string too_small_row(int columns, int rows) {
  const terminal_layout least = terminal_view_layout_at(1);
  char line[128];
  const int n = std::snprintf(line, sizeof line, "terminal %dx%d is too small for the wall: it needs at least %dx%d",
                              columns, rows, least.columns, least.rows + 1);
  return "\x1b[H\x1b[0m\x1b[2J" + std::string(line, std::size_t(std::clamp(n, 0, std::max(columns, 0))));
}

// The screen as rows of text: the wall's rows and the status line, or the
// one line saying the terminal is too small.
void render_rows(const wall_frame &frame, const char *status_line, int columns, int rows,
                 std::vector<std::string> *lines) {
  lines->clear();
  const terminal_layout l = terminal_view_layout(columns, rows);
  if (l.pitch == 0) {
    lines->push_back(too_small_row(columns, rows));
    return;
  }
  render_wall(frame, l, l.columns < columns, lines);
  lines->push_back(status_row(status_line, columns, l.rows));
}

void take_size(terminal_view_t view) {
  winsize size{};
  const bool told = ioctl(view->fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
  view->columns = told ? size.ws_col : 80;
  view->rows = told ? size.ws_row : 24;
}

// Writes the rows that differ from those on the screen, in one text. After a
// write that did not go through, nothing on the screen is known any more.
void draw(terminal_view_t view, const wall_frame &frame, const std::string &status) {
  render_rows(frame, status.c_str(), view->columns, view->rows, &view->lines);
  view->text.clear();
  if (view->shown.size() != view->lines.size())
    view->shown.assign(view->lines.size(), std::string());
  for (std::size_t row = 0; row < view->lines.size(); ++row)
    if (view->lines[row] != view->shown[row])
      view->text += view->lines[row];
  if (view->text.empty())
    return;
  if (write_all(view, view->text))
    view->shown.swap(view->lines);
  else
    view->shown.clear();
}

// The drawing thread: takes the newest frame and status line whenever it is
// free to draw, so that a slow terminal skips frames instead of queueing
// them. Draws what was handed over last before it ends.
void drawing_thread(terminal_view_t view) {
  wall_frame frame{};
  std::string status;
  for (;;) {
    bool resized = false;
    {
      std::unique_lock<std::mutex> hold(view->lock);
      view->wake.wait(hold, [&] { return view->changed || view->resized || view->closing; });
      if (!view->changed && !view->resized)
        return;
      frame = view->frame;
      status = view->status;
      resized = view->resized;
      view->changed = view->resized = false;
    }
    if (resized) {
      take_size(view);
      view->shown.clear();
    }
    draw(view, frame, status);
  }
}

void hand_over(terminal_view_t view, const wall_frame *frame, const char *status_line) {
  std::lock_guard<std::mutex> hold(view->lock);
  if (frame)
    view->frame = *frame;
  view->status = status_line ? status_line : "";
  view->changed = true;
  view->wake.notify_one();
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
  auto *view = new terminal_view_s;
  view->fd = fd;
  take_size(view);
  write_all(view, "\x1b[?1049h\x1b[?25l\x1b[2J");
  view->drawing = std::thread(drawing_thread, view);
  return view;
}

void terminal_view_render(const wall_frame &frame, const char *status_line, int columns, int rows, std::string *text) {
  std::vector<std::string> lines;
  render_rows(frame, status_line, columns, rows, &lines);
  text->clear();
  for (const std::string &line : lines)
    *text += line;
}

void terminal_view_draw(terminal_view_t view, const wall_frame &frame, const char *status_line) {
  hand_over(view, &frame, status_line);
}

void terminal_view_status(terminal_view_t view, const char *status_line) { hand_over(view, nullptr, status_line); }

void terminal_view_resize(terminal_view_t view) {
  std::lock_guard<std::mutex> hold(view->lock);
  view->resized = true;
  view->wake.notify_one();
}

void terminal_view_done(terminal_view_t view) {
  if (!view)
    return;
  {
    std::lock_guard<std::mutex> hold(view->lock);
    view->closing = true;
    view->closing_deadline_ns = now_ns() + TERMINAL_VIEW_CLOSING_MS * 1'000'000;
    view->wake.notify_one();
  }
  view->drawing.join();
  write_all(view, "\x1b[0m\x1b[?25h\x1b[?1049l");
  delete view;
}
