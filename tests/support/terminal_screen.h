// What a terminal shows for a text, for tests of the terminal view: the
// simulator's own output, or a terminal's copy of its screen (tmux
// capture-pane -e). A small model: glyphs with the colours the SGR escapes
// set, the cursor moved by CUP, CR and LF (LF also returns the carriage, as
// a screen copy's lines begin at the left), erasing as EL and ED do; other
// sequences move nothing.
//
// The wall is read back in the view's units: a text cell is two units, one
// above the other, told by its glyph (a blank shows its background twice).
// A unit is one column by half a row: square, taking a cell as twice as tall
// as wide.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

inline constexpr int SCREEN_DEFAULT = -1; // the terminal's own colour

struct screen_cell {
  std::string glyph = " ";
  int fg = SCREEN_DEFAULT, bg = SCREEN_DEFAULT;
};
using screen_rows = std::vector<std::vector<screen_cell>>;

inline screen_rows screen_of(const std::string &t) {
  screen_rows rows;
  std::size_t row = 0, column = 0;
  int fg = SCREEN_DEFAULT, bg = SCREEN_DEFAULT;
  const auto at = [&](std::size_t r, std::size_t c) -> screen_cell & {
    if (rows.size() <= r)
      rows.resize(r + 1);
    if (rows[r].size() <= c)
      rows[r].resize(c + 1);
    return rows[r][c];
  };
  for (std::size_t i = 0; i < t.size();) {
    if (t.compare(i, 2, "\x1b[") == 0) {
      std::size_t end = i + 2;
      while (end < t.size() && !(t[end] >= 0x40 && t[end] <= 0x7e))
        ++end;
      if (end == t.size())
        break;
      std::vector<int> p;
      std::stringstream params(t.substr(i + 2, end - i - 2));
      for (std::string n; std::getline(params, n, ';');)
        p.push_back(std::atoi(n.c_str()));
      const char final = t[end];
      if (final == 'm') {
        if (p.empty())
          fg = bg = SCREEN_DEFAULT;
        for (std::size_t k = 0; k < p.size(); ++k)
          if (p[k] == 0)
            fg = bg = SCREEN_DEFAULT;
          else if (p[k] == 39 || p[k] == 49)
            (p[k] == 39 ? fg : bg) = SCREEN_DEFAULT;
          else if ((p[k] == 38 || p[k] == 48) && k + 4 < p.size() && p[k + 1] == 2)
            (p[k] == 38 ? fg : bg) = p[k + 2] << 16 | p[k + 3] << 8 | p[k + 4], k += 4;
      } else if (final == 'H') {
        row = p.size() > 0 && p[0] > 0 ? std::size_t(p[0] - 1) : 0;
        column = p.size() > 1 && p[1] > 0 ? std::size_t(p[1] - 1) : 0;
      } else if (final == 'K' || final == 'J') {
        if (row < rows.size() && rows[row].size() > column)
          rows[row].resize(column);
        if (final == 'J' && p.size() == 1 && p[0] == 2)
          rows.clear();
        else if (final == 'J' && rows.size() > row + 1)
          rows.resize(row + 1);
      }
      i = end + 1;
    } else if (t[i] == '\r') {
      column = 0;
      ++i;
    } else if (t[i] == '\n') {
      ++row, column = 0;
      ++i;
    } else {
      std::size_t n = 1;
      while (i + n < t.size() && (static_cast<unsigned char>(t[i + n]) & 0xc0) == 0x80)
        ++n;
      at(row, column++) = {t.substr(i, n), fg, bg};
      i += n;
    }
  }
  return rows;
}

// The glyphs of a row, blanks at its end left out.
inline std::string screen_line(const screen_rows &rows, std::size_t row) {
  std::string line;
  if (row < rows.size())
    for (const screen_cell &c : rows[row])
      line += c.glyph;
  return line.substr(0, line.find_last_not_of(' ') + 1);
}

// The rows that show text: a glyph other than a blank or a half block.
inline std::vector<std::string> screen_text_lines(const screen_rows &rows) {
  std::vector<std::string> lines;
  for (std::size_t r = 0; r < rows.size(); ++r)
    if (std::any_of(rows[r].begin(), rows[r].end(), [](const screen_cell &c) {
          return c.glyph != " " && c.glyph != "\u2580" && c.glyph != "\u2584";
        }))
      lines.push_back(screen_line(rows, r));
  return lines;
}

// The colours of units (column, unit row) of the first `text_rows` rows: two
// unit rows a text row. A cell that is no blank or half block is SCREEN_DEFAULT.
inline std::vector<std::vector<int>> screen_units(const screen_rows &rows, std::size_t text_rows) {
  std::vector<std::vector<int>> units(2 * text_rows);
  for (std::size_t r = 0; r < text_rows && r < rows.size(); ++r)
    for (const screen_cell &c : rows[r]) {
      int upper = SCREEN_DEFAULT, lower = SCREEN_DEFAULT;
      if (c.glyph == " ")
        upper = lower = c.bg;
      else if (c.glyph == "\u2580")
        upper = c.fg, lower = c.bg;
      else if (c.glyph == "\u2584")
        upper = c.bg, lower = c.fg;
      units[2 * r].push_back(upper);
      units[2 * r + 1].push_back(lower);
    }
  return units;
}

// Where the LEDs of the 32x16 wall show in the units.
struct wall_squares {
  int size = 0;   // units across each LED's square
  int left[32]{}; // first unit column of each column of LEDs
  int top[16]{};  // first unit row of each row of LEDs
};

// Checks the wall that `units` show for a frame whose LED (x, y) has colour
// `colour(x, y)`, every LED a colour of its own: each LED one solid square,
// all of a size, lined up in columns and rows, evenly spaced within a panel,
// the panels parted by a wider gap; all else in the wall's box `board`; the
// wall twice as wide as high within 10 %. "" when all holds, else what fails.
inline std::string wall_shape_problems(const std::vector<std::vector<int>> &units,
                                       const std::function<int(int x, int y)> &colour, int board, wall_squares *found) {
  std::map<int, int> led_of;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      led_of[colour(x, y)] = 32 * y + x;
  struct box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, count = 0;
  };
  std::vector<box> boxes(512);
  for (std::size_t uy = 0; uy < units.size(); ++uy)
    for (std::size_t ux = 0; ux < units[uy].size(); ++ux) {
      const auto led = led_of.find(units[uy][ux]);
      if (led == led_of.end())
        continue;
      box &b = boxes[std::size_t(led->second)];
      b.x0 = std::min(b.x0, int(ux)), b.x1 = std::max(b.x1, int(ux));
      b.y0 = std::min(b.y0, int(uy)), b.y1 = std::max(b.y1, int(uy));
      ++b.count;
    }
  std::ostringstream why;
  wall_squares w;
  w.size = boxes[0].x1 - boxes[0].x0 + 1;
  for (int led = 0; led < 512; ++led) {
    const box &b = boxes[std::size_t(led)];
    const int x = led % 32, y = led / 32;
    if (b.count == 0) {
      why << "LED " << x << "," << y << " is not shown; ";
      continue;
    }
    if (b.x1 - b.x0 + 1 != w.size || b.y1 - b.y0 + 1 != w.size || b.count != w.size * w.size)
      why << "LED " << x << "," << y << " is no solid square of " << w.size << "; ";
    if (y == 0)
      w.left[x] = b.x0;
    if (x == 0)
      w.top[y] = b.y0;
    if (b.x0 != w.left[x] || b.y0 != w.top[y])
      why << "LED " << x << "," << y << " is out of line; ";
  }
  if (!why.str().empty())
    return why.str();
  const auto spacing = [&](const int *origin, int leds, const char *axis) {
    const int step = origin[1] - origin[0];
    for (int i = 1; i < leds; ++i)
      if (i % 8 == 0 ? origin[i] - origin[i - 1] <= step : origin[i] - origin[i - 1] != step)
        why << axis << " spacing before LED " << i << " is " << origin[i] - origin[i - 1] << ", not " << step
            << (i % 8 == 0 ? " and more" : "") << "; ";
  };
  spacing(w.left, 32, "column");
  spacing(w.top, 16, "row");
  const int x_end = w.left[31] + w.size, y_end = w.top[15] + w.size;
  for (int uy = w.top[0]; uy < y_end; ++uy)
    for (int ux = w.left[0]; ux < x_end; ++ux) {
      const std::vector<int> &row = units[std::size_t(uy)];
      const int c = std::size_t(ux) < row.size() ? row[std::size_t(ux)] : SCREEN_DEFAULT;
      if (c != board && !led_of.count(c)) {
        why << "unit " << ux << "," << uy << " is neither an LED nor the board; ";
        uy = y_end;
        break;
      }
    }
  const double ratio = double(x_end - w.left[0]) / double(y_end - w.top[0]);
  if (ratio < 1.8 || ratio > 2.2)
    why << "the wall is " << ratio << " times as wide as high; ";
  if (found)
    *found = w;
  return why.str();
}
