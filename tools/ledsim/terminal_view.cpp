#include "terminal_view.h"

#include "led_board.h"
#include "matrix_wiring.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

struct terminal_view_s {
  int fd;
  std::string text;
};

namespace {

const char *const UPPER_HALF_BLOCK = "\u2580";

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

// Colour changes only, so that runs of equal colours cost no escapes.
struct pen {
  int fg = -1, bg = -1;
};

void set_colour(std::string *text, int *current, int colour, int selector) {
  if (*current == colour)
    return;
  char escape[24];
  const int n = std::snprintf(escape, sizeof escape, "\x1b[%d;2;%d;%d;%dm", selector, colour >> 16,
                              (colour >> 8) & 255, colour & 255);
  text->append(escape, std::size_t(n));
  *current = colour;
}

} // namespace

terminal_view_t terminal_view_init(int fd) {
  auto *view = new terminal_view_s{fd, {}};
  write_all(fd, "\x1b[?1049h\x1b[?25l\x1b[2J");
  return view;
}

void terminal_view_render(const wall_frame &frame, const char *status_line, std::string *text) {
  text->clear();
  text->append("\x1b[H");
  for (int row = 0; row < MATRIX_HEIGHT / 2; ++row) {
    pen p;
    for (int x = 0; x < MATRIX_WIDTH; ++x) {
      if (x > 0 && x % MATRIX_PANEL_SIZE == 0)
        text->push_back(' '); // on the board colour the previous gap left
      set_colour(text, &p.fg, led_colour(frame, x, 2 * row), 38);
      set_colour(text, &p.bg, led_colour(frame, x, 2 * row + 1), 48);
      text->append(UPPER_HALF_BLOCK);
      set_colour(text, &p.bg, LED_BOARD_COLOUR, 48);
      text->push_back(' ');
    }
    // Reset before erasing, so the rest of the row keeps the terminal's own background.
    text->append("\x1b[0m\x1b[K\r\n");
  }
  text->append("\x1b[K");
  for (const char *c = status_line ? status_line : ""; *c; ++c)
    text->push_back((u8(*c) < 0x20 || *c == 0x7f) ? '?' : *c);
}

void terminal_view_draw(terminal_view_t view, const wall_frame &frame, const char *status_line) {
  terminal_view_render(frame, status_line, &view->text);
  write_all(view->fd, view->text);
}

void terminal_view_done(terminal_view_t view) {
  write_all(view->fd, "\x1b[0m\x1b[?25h\x1b[?1049l");
  delete view;
}
