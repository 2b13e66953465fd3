#include "frame_plot.h"

#include "frame_stats.h"

#include <gdfonts.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The plot area's margins: the title and three rows of scene labels above,
// the y labels left of it, the two levels' labels right of it (the dots
// would hide them inside), the x labels and the axis name below.
constexpr int LEFT = 56, RIGHT = 48, TOP = 62, BOTTOM = 40;
constexpr int PLOT_W = FRAME_PLOT_WIDTH - LEFT - RIGHT, PLOT_H = FRAME_PLOT_HEIGHT - TOP - BOTTOM;
constexpr int X_RIGHT = LEFT + PLOT_W - 1, Y_BOTTOM = TOP + PLOT_H - 1;
constexpr int LABEL_ROWS = 3, LABEL_ROW_Y = 18, LABEL_GAP = 4;
constexpr double Y_STEP_MS = 20.0, X_STEP_S = 30.0;

constexpr int INK = 0x202020, AXIS = 0x606060, GRID = 0xe6e6e6, SCENE = 0xb0b0b0, SCENE_INK = 0x404040;
constexpr int PERIOD_LINE = 0x30a030, LIMIT_LINE = 0xe09020;

void text(gdImagePtr im, int x, int y, const std::string &s, int colour) {
  gdImageString(im, gdFontGetSmall(), x, y, reinterpret_cast<unsigned char *>(const_cast<char *>(s.c_str())), colour);
}

int text_width(const std::string &s) { return int(s.size()) * gdFontGetSmall()->w; }

std::string format(const char *pattern, double value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

void draw_axes(gdImagePtr im, double span_s) {
  const int line_h = gdFontGetSmall()->h;
  for (double ms = 0; ms <= FRAME_PLOT_TOP_MS; ms += Y_STEP_MS) {
    const int y = frame_plot_y(ms);
    gdImageLine(im, LEFT, y, X_RIGHT, y, GRID);
    const std::string label = format("%.0f", ms);
    text(im, LEFT - 6 - text_width(label), y - line_h / 2, label, INK);
  }
  for (double s = 0; s <= span_s; s += X_STEP_S) {
    const int x = frame_plot_x(s, span_s);
    gdImageLine(im, x, TOP, x, Y_BOTTOM, GRID);
    const std::string label = format("%.0f", s);
    text(im, x - text_width(label) / 2, Y_BOTTOM + 4, label, INK);
  }
  gdImageRectangle(im, LEFT, TOP, X_RIGHT, Y_BOTTOM, AXIS);
  const std::string x_name = "seconds from the first frame";
  text(im, LEFT + (PLOT_W - text_width(x_name)) / 2, Y_BOTTOM + 4 + line_h + 2, x_name, INK);
}

void draw_level(gdImagePtr im, double ms, int colour) {
  const int y = frame_plot_y(ms);
  gdImageLine(im, LEFT + 1, y, X_RIGHT - 1, y, colour);
  const std::string label = format("%.0f ms", ms);
  text(im, X_RIGHT + 5, y - gdFontGetSmall()->h / 2, label, colour);
}

// Each label goes in the first row where it clears the one before it, else in
// the row that frees up first.
void draw_scenes(gdImagePtr im, const std::vector<std::int64_t> &t, const std::vector<scene_mark> &marks,
                 double span_s) {
  const int line_h = gdFontGetSmall()->h;
  int row_end[LABEL_ROWS];
  std::fill(row_end, row_end + LABEL_ROWS, 0);
  for (const scene_mark &mark : marks) {
    const int x = frame_plot_x(double(t[mark.frame] - t.front()) / 1e9, span_s);
    int row = int(std::min_element(row_end, row_end + LABEL_ROWS) - row_end);
    for (int r = 0; r < LABEL_ROWS; ++r)
      if (row_end[r] <= x) {
        row = r;
        break;
      }
    const int label_y = LABEL_ROW_Y + row * line_h;
    gdImageLine(im, x, label_y + line_h, x, Y_BOTTOM - 1, SCENE);
    text(im, x + 2, label_y, mark.label, SCENE_INK);
    row_end[row] = x + 2 + text_width(mark.label) + LABEL_GAP;
  }
}

void draw_gaps(gdImagePtr im, const std::vector<std::int64_t> &t, double span_s) {
  const std::vector<double> gaps = frame_gaps_ms(t);
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    const int x = frame_plot_x(double(t[i + 1] - t.front()) / 1e9, span_s), y = frame_plot_y(gaps[i]);
    const int colour = gaps[i] > FRAME_LONG_GAP_MS ? FRAME_PLOT_LONG : FRAME_PLOT_REGULAR;
    gdImageFilledRectangle(im, x, y - FRAME_PLOT_DOT + 1, x + FRAME_PLOT_DOT - 1, y, colour);
  }
  // The lengths of the gaps off the scale, after every dot so none covers them.
  for (std::size_t i = 0; i < gaps.size(); ++i)
    if (gaps[i] > FRAME_PLOT_TOP_MS)
      text(im, frame_plot_x(double(t[i + 1] - t.front()) / 1e9, span_s) + 4, TOP + 2, format("%.0f ms", gaps[i]),
           FRAME_PLOT_LONG);
}

} // namespace

int frame_plot_x(double seconds, double span_s) {
  if (span_s <= 0)
    return LEFT;
  return LEFT + int(std::lround(std::clamp(seconds / span_s, 0.0, 1.0) * (PLOT_W - 1)));
}

int frame_plot_y(double ms) {
  return Y_BOTTOM - int(std::lround(std::clamp(ms, 0.0, FRAME_PLOT_TOP_MS) / FRAME_PLOT_TOP_MS * (PLOT_H - 1)));
}

gdImagePtr frame_plot_draw(const std::vector<std::int64_t> &received_ns, const std::vector<scene_mark> &marks,
                           double period_ms) {
  const gdImagePtr im = gdImageCreateTrueColor(FRAME_PLOT_WIDTH, FRAME_PLOT_HEIGHT);
  gdImageFilledRectangle(im, 0, 0, FRAME_PLOT_WIDTH - 1, FRAME_PLOT_HEIGHT - 1, FRAME_PLOT_BACKGROUND);
  const double span_s = received_ns.size() < 2 ? 0.0 : double(received_ns.back() - received_ns.front()) / 1e9;

  const std::string title =
      format("Gap between consecutive frames as received, ms (red: over %.0f ms)", FRAME_LONG_GAP_MS);
  text(im, LEFT, 2, title, INK);
  const std::string extent = std::to_string(received_ns.size()) + format(" frames over %.1f s", span_s);
  text(im, X_RIGHT - text_width(extent), 2, extent, INK);

  draw_axes(im, span_s);
  draw_level(im, FRAME_LONG_GAP_MS, LIMIT_LINE);
  draw_level(im, period_ms, PERIOD_LINE);
  if (!received_ns.empty())
    draw_scenes(im, received_ns, marks, span_s);
  draw_gaps(im, received_ns, span_s);
  return im;
}

int frame_plot_write(gdImagePtr im, const char *path) {
  int size = 0;
  void *png = gdImagePngPtr(im, &size);
  std::FILE *file = png ? std::fopen(path, "wb") : nullptr;
  if (!file) {
    std::fprintf(stderr, "frameplot: cannot write %s: %s\n", path, png ? std::strerror(errno) : "no PNG encoded");
    gdFree(png);
    return 0;
  }
  const bool written = std::fwrite(png, 1, std::size_t(size), file) == std::size_t(size);
  gdFree(png);
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "frameplot: cannot write %s\n", path);
    return 0;
  }
  return 1;
}
