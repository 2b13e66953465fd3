// The simulator's views: the LED board drawing, the animated GIF (decoded back
// frame by frame), the contact sheet and the terminal text.
#include "contact_sheet.h"
#include "file_contents.h"
#include "gif_writer.h"
#include "led_board.h"
#include "terminal_screen.h"
#include "terminal_view.h"

#include <gdfonts.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
constexpr int BOARD = 0x101010, MARKER = 0xff00ff;

wall_frame make_frame(std::int64_t ns, const std::function<int(int x, int y)> &colour) {
  wall_frame frame{};
  frame.received_ns = ns;
  for (int p = 0; p < 512; ++p) {
    const int c = colour(p % 32, p / 32);
    frame.rgb[std::size_t(3 * p)] = u8(c >> 16), frame.rgb[std::size_t(3 * p + 1)] = u8(c >> 8);
    frame.rgb[std::size_t(3 * p + 2)] = u8(c);
  }
  return frame;
}
int led(const wall_frame &f, int x, int y) {
  const u8 *c = &f.rgb[std::size_t(3 * (32 * y + x))];
  return c[0] << 16 | c[1] << 8 | c[2];
}
// 240 colours told apart by their red; at most 240 in a frame, so a GIF palette holds them.
int index_colour(int j) {
  j %= 240;
  return j << 16 | (255 - j) << 8 | (j * 37 & 255);
}
wall_frame indexed(std::int64_t ns, int shift) {
  return make_frame(ns, [shift](int x, int y) { return index_colour(x + 32 * y + shift); });
}

// The board geometry as led_board.h states it, along either axis.
int cell(int scale, int n) { return scale / 2 + scale * n + scale / 2 * (n / 8); }
int centre(int scale, int n) { return cell(scale, n) + scale / 2; }

int rgb_at(gdImagePtr im, int x, int y) {
  const int c = gdImageGetPixel(im, x, y);
  return gdImageRed(im, c) << 16 | gdImageGreen(im, c) << 8 | gdImageBlue(im, c);
}

// LEDs whose dot centre is off by more than `tolerance` in a channel, plus cells
// whose corner is not board.
int board_mismatches(gdImagePtr im, int x0, int y0, int scale, const wall_frame &f, int tolerance = 0) {
  int bad = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const int got = rgb_at(im, x0 + centre(scale, x), y0 + centre(scale, y)), want = led(f, x, y);
      for (int shift = 0; shift <= 16; shift += 8)
        if (std::abs((got >> shift & 255) - (want >> shift & 255)) > tolerance) {
          ++bad;
          break;
        }
      bad += rgb_at(im, x0 + cell(scale, x), y0 + cell(scale, y)) != BOARD;
    }
  return bad;
}

std::string temp_path(const char *name) { return testing::TempDir() + "ledsim_views_" + name; }

led_board_image read_png(const std::string &path) {
  bytes png = file_bytes(path);
  return led_board_image(png.empty() ? nullptr : gdImageCreateFromPngPtr(int(png.size()), png.data()));
}

// A GIF cut into its frames: each from its graphic control extension to the
// end of its image data, with the delay it carries.
struct gif_frame {
  std::size_t begin, end;
  int delay;
};
struct gif_file {
  bytes data;
  std::size_t head = 0; // header, screen and global colour table
  std::vector<gif_frame> frames;
  bool well_formed = false;
};

gif_file read_gif(const std::string &path) {
  gif_file gif;
  gif.data = file_bytes(path);
  const bytes &g = gif.data;
  const auto colour_table = [&](std::size_t flags_at) { return g[flags_at] & 0x80 ? 3u << ((g[flags_at] & 7) + 1) : 0u; };
  const auto past_sub_blocks = [&](std::size_t p) {
    while (p < g.size() && g[p])
      p += g[p] + 1u;
    return p + 1;
  };
  if (g.size() < 13 || std::string(g.begin(), g.begin() + 6) != "GIF89a")
    return gif;
  std::size_t p = gif.head = 13 + colour_table(10), begin = 0;
  int delay = -1;
  while (p < g.size()) {
    if (g[p] == 0x3b) {
      gif.well_formed = p + 1 == g.size();
      break;
    } else if (g[p] == 0x21 && p + 5 < g.size()) {
      if (g[p + 1] == 0xf9)
        begin = p, delay = g[p + 4] | g[p + 5] << 8;
      p = past_sub_blocks(p + 2);
    } else if (g[p] == 0x2c && p + 10 < g.size()) {
      begin = delay < 0 ? p : begin;
      p = past_sub_blocks(p + 11 + colour_table(p + 9));
      gif.frames.push_back({begin, p, delay});
      delay = -1;
    } else {
      break;
    }
  }
  return gif;
}

// Frame k alone, as a GIF of its own that libgd decodes.
led_board_image gif_frame_image(const gif_file &gif, std::size_t k) {
  bytes one(gif.data.begin(), gif.data.begin() + long(gif.head));
  one.insert(one.end(), gif.data.begin() + long(gif.frames[k].begin), gif.data.begin() + long(gif.frames[k].end));
  one.push_back(0x3b);
  return led_board_image(gdImageCreateFromGifPtr(int(one.size()), one.data()));
}

gif_file write_gif(const char *name, int scale, const std::vector<wall_frame> &frames) {
  const std::string path = temp_path(name);
  gif_writer_t gif = gif_writer_init(path.c_str(), scale);
  if (!gif)
    return {};
  for (const wall_frame &f : frames)
    gif_writer_add(gif, f);
  return gif_writer_done(gif) ? read_gif(path) : gif_file{};
}

TEST(LedBoard, DotsSitRoundInTheirCellsOnABoardOfItsOwnSize) {
  const wall_frame f = indexed(0, 0);
  for (int scale = LED_BOARD_MIN_SCALE; scale <= 16; ++scale) {
    const int w = 32 * scale + 5 * (scale / 2), h = 16 * scale + 3 * (scale / 2);
    ASSERT_EQ(w, led_board_width(scale));
    ASSERT_EQ(h, led_board_height(scale));
    led_board_image im(gdImageCreateTrueColor(w + 6, h + 6));
    gdImageFilledRectangle(im.get(), 0, 0, w + 5, h + 5, MARKER);
    led_board_draw(im.get(), 3, 3, scale, f);
    EXPECT_EQ(0, board_mismatches(im.get(), 3, 3, scale, f)) << "scale " << scale;
    EXPECT_EQ(MARKER, rgb_at(im.get(), 2, 2));
    EXPECT_EQ(MARKER, rgb_at(im.get(), w + 3, h + 3));
    EXPECT_EQ(BOARD, rgb_at(im.get(), w + 2, h + 2));

    const int cx = 3 + centre(scale, 0), cy = 3 + centre(scale, 0);
    int d = 1;
    while (rgb_at(im.get(), cx - d / 2 - 1, cy) == led(f, 0, 0))
      d += 2;
    EXPECT_EQ(led(f, 0, 0), rgb_at(im.get(), cx + d / 2, cy));
    EXPECT_LT(d, scale);
    EXPECT_LE(std::abs(4 * d - 3 * scale), 5) << "dot " << d << " in a cell of " << scale;
    if (d >= 5) {
      EXPECT_EQ(BOARD, rgb_at(im.get(), cx - d / 2, cy - d / 2)) << "square corner at scale " << scale;
    }
  }
}

TEST(GifWriter, EveryFrameShowsEveryLedInItsColour) {
  const gif_file gif = write_gif("exact.gif", 6, {indexed(5'000'000'000, 0), indexed(5'040'000'000, 100)});
  ASSERT_TRUE(gif.well_formed);
  ASSERT_EQ(2u, gif.frames.size());
  for (std::size_t k = 0; k < 2; ++k) {
    const led_board_image im = gif_frame_image(gif, k);
    ASSERT_TRUE(im);
    EXPECT_EQ(32 * 6 + 5 * 3, gdImageSX(im.get()));
    EXPECT_EQ(16 * 6 + 3 * 3, gdImageSY(im.get()));
    EXPECT_EQ(0, board_mismatches(im.get(), 0, 0, 6, indexed(0, k ? 100 : 0))) << "frame " << k;
  }
}

TEST(GifWriter, MoreColoursThanAPaletteStayCloseAndTheBoardExact) {
  const wall_frame f = make_frame(0, [](int x, int y) { return (8 * x + 4) << 16 | (16 * y + 8) << 8 | (255 - 8 * x); });
  const gif_file gif = write_gif("many.gif", 4, {f});
  ASSERT_EQ(1u, gif.frames.size());
  const led_board_image im = gif_frame_image(gif, 0);
  ASSERT_TRUE(im);
  EXPECT_EQ(0, board_mismatches(im.get(), 0, 0, 4, f, 16)); // one row step of green
}

TEST(GifWriter, DelaysFollowTheReceiveTimes) {
  struct timeline {
    const char *what;
    std::vector<std::pair<std::int64_t, int>> frames; // received ms, content
    std::vector<int> delays, shown;
  };
  const timeline cases[] = {
      {"rounding carried forward", {{0, 1}, {33, 2}, {66, 3}, {99, 4}, {132, 5}}, {3, 4, 3, 3, 4}, {1, 2, 3, 4, 5}},
      {"identical frames merged", {{0, 1}, {40, 1}, {80, 1}, {120, 2}, {160, 2}}, {12, 8}, {1, 2}},
      {"a frame too short for viewers gives way", {{0, 1}, {5, 2}, {40, 3}, {80, 4}}, {4, 4, 4}, {2, 3, 4}},
      {"a pause past the longest delay repeats", {{0, 1}, {700'000, 2}}, {65535, 4465, 4}, {1, 1, 2}},
  };
  for (const timeline &t : cases) {
    std::vector<wall_frame> frames;
    for (auto [ms, content] : t.frames)
      frames.push_back(make_frame(123'456'789 + ms * 1'000'000, [c = content](int, int) { return index_colour(c); }));
    const gif_file gif = write_gif("timeline.gif", 4, frames);
    ASSERT_TRUE(gif.well_formed) << t.what;
    ASSERT_EQ(t.delays.size(), gif.frames.size()) << t.what;
    for (std::size_t k = 0; k < gif.frames.size(); ++k) {
      EXPECT_EQ(t.delays[k], gif.frames[k].delay) << t.what << ", frame " << k;
      EXPECT_EQ(index_colour(t.shown[k]), rgb_at(gif_frame_image(gif, k).get(), centre(4, 0), centre(4, 0))) << t.what;
    }
  }
}

TEST(GifWriter, IrregularTimingAddsUpToTheSpan) {
  std::vector<wall_frame> frames;
  std::int64_t ns = 987'654'321;
  std::uint64_t step = 1;
  for (int k = 0; k < 300; ++k, ns += 1'000'000 + std::int64_t(step >> 33) % 69'000'000) {
    step = step * 6364136223846793005u + 1442695040888963407u;
    frames.push_back(make_frame(ns, [k](int x, int) { return index_colour(k + x); }));
  }
  const gif_file gif = write_gif("irregular.gif", 4, frames);
  ASSERT_TRUE(gif.well_formed);
  long total = 0;
  for (const gif_frame &f : gif.frames) {
    EXPECT_GE(f.delay, 2);
    total += f.delay;
  }
  const std::int64_t span = frames.back().received_ns - frames.front().received_ns;
  EXPECT_EQ((span + 5'000'000) / 10'000'000 + 4, total);
}

TEST(ContactSheet, KeepsTheFirstFrameOfEachSecondInAGridWithLabels) {
  const std::string path = temp_path("seconds.png");
  contact_sheet_t sheet = contact_sheet_init(path.c_str(), 4, 3);
  ASSERT_TRUE(sheet);
  const auto at = [](int k) {
    return make_frame(7'000'000'123 + k * 40'000'000LL, [k](int x, int y) { return k << 16 | (8 * x) << 8 | 16 * y; });
  };
  for (int k = 0; k * 40 <= 3500; ++k)
    contact_sheet_add(sheet, at(k));
  ASSERT_EQ(1, contact_sheet_done(sheet));
  const led_board_image im = read_png(path);
  ASSERT_TRUE(im);
  const int bw = 32 * 4 + 5 * 2, bh = 16 * 4 + 3 * 2;
  ASSERT_EQ(8 + 3 * (bw + 8), gdImageSX(im.get()));
  ASSERT_EQ(8 + 2 * (bh + 16 + 8), gdImageSY(im.get()));
  for (int tile = 0; tile < 6; ++tile) {
    const int x0 = 8 + tile % 3 * (bw + 8), y0 = 8 + tile / 3 * (bh + 16 + 8);
    int ink = 0, drawn = 0;
    for (int y = y0; y < y0 + bh + 16; ++y)
      for (int x = x0; x < x0 + bw; ++x) {
        drawn += rgb_at(im.get(), x, y) != CONTACT_SHEET_BACKGROUND;
        ink += y >= y0 + bh && rgb_at(im.get(), x, y) == CONTACT_SHEET_INK;
      }
    if (tile < 4) {
      EXPECT_EQ(0, board_mismatches(im.get(), x0, y0, 4, at(25 * tile))) << "tile " << tile;
      EXPECT_GT(ink, 20) << "label of tile " << tile;
    } else {
      EXPECT_EQ(0, drawn) << "empty place " << tile;
    }
  }
}

TEST(ContactSheet, LabelsGiveTheSecondsAndShowGaps) {
  const std::string path = temp_path("gaps.png");
  contact_sheet_t sheet = contact_sheet_init(path.c_str(), 2, 10);
  ASSERT_TRUE(sheet);
  for (std::int64_t ms : {0, 500, 3200, 3900, 4100, 65000})
    contact_sheet_add(sheet, indexed(ms * 1'000'000, int(ms)));
  ASSERT_EQ(1, contact_sheet_done(sheet));
  const led_board_image im = read_png(path);
  ASSERT_TRUE(im);
  const int bw = 32 * 2 + 5, bh = 16 * 2 + 3;
  ASSERT_EQ(8 + 4 * (bw + 8), gdImageSX(im.get()));
  const char *labels[] = {"0:00", "0:03", "0:04", "1:05"};
  const gdFontPtr font = gdFontGetSmall();
  for (int tile = 0; tile < 4; ++tile) {
    led_board_image want(gdImageCreateTrueColor(bw, 16));
    gdImageFilledRectangle(want.get(), 0, 0, bw - 1, 15, CONTACT_SHEET_BACKGROUND);
    gdImageString(want.get(), font, (bw - 4 * font->w) / 2, (16 - font->h) / 2,
                  reinterpret_cast<unsigned char *>(const_cast<char *>(labels[tile])), CONTACT_SHEET_INK);
    int differ = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < bw; ++x)
        differ += rgb_at(want.get(), x, y) != rgb_at(im.get(), 8 + tile * (bw + 8) + x, 8 + bh + y);
    EXPECT_EQ(0, differ) << labels[tile];
  }
  char text[16];
  for (auto [second, want] : {std::pair{59, "0:59"}, {60, "1:00"}, {421, "7:01"}, {3725, "62:05"}}) {
    contact_sheet_label(second, text, sizeof text);
    EXPECT_STREQ(want, text);
  }
}

TEST(Views, EmptyRecordingsStillMakeValidFiles) {
  const gif_file gif = write_gif("empty.gif", 4, {});
  ASSERT_EQ(1u, gif.frames.size());
  const led_board_image dark = gif_frame_image(gif, 0);
  ASSERT_TRUE(dark);
  EXPECT_EQ(0, board_mismatches(dark.get(), 0, 0, 4, make_frame(0, [](int, int) { return 0; })));
  const std::string path = temp_path("empty.png");
  ASSERT_EQ(1, contact_sheet_done(contact_sheet_init(path.c_str(), 4, 10)));
  const led_board_image im = read_png(path);
  ASSERT_TRUE(im);
  EXPECT_EQ(CONTACT_SHEET_MARGIN, gdImageSX(im.get()));
}

TEST(Views, RefuseWhatTheyCannotWriteAndReportFailedWrites) {
  const std::string nowhere = temp_path("no/such/dir/out");
  EXPECT_EQ(nullptr, gif_writer_init(nowhere.c_str(), 8));
  EXPECT_EQ(nullptr, contact_sheet_init(nowhere.c_str(), 4, 10));
  const std::string ok = temp_path("ok");
  EXPECT_EQ(nullptr, gif_writer_init(ok.c_str(), 3));
  EXPECT_EQ(nullptr, gif_writer_init(ok.c_str(), LED_BOARD_MAX_SCALE + 1));
  EXPECT_EQ(nullptr, contact_sheet_init(ok.c_str(), LED_BOARD_MIN_SCALE - 1, 10));
  EXPECT_EQ(nullptr, contact_sheet_init(ok.c_str(), 4, 0));

  gif_writer_t gif = gif_writer_init("/dev/full", 8);
  contact_sheet_t sheet = contact_sheet_init("/dev/full", 4, 10);
  ASSERT_TRUE(gif && sheet);
  for (int k = 0; k < 50; ++k) {
    gif_writer_add(gif, indexed(k * 40'000'000LL, k));
    contact_sheet_add(sheet, indexed(k * 40'000'000LL, k));
  }
  EXPECT_EQ(0, gif_writer_done(gif));
  EXPECT_EQ(0, contact_sheet_done(sheet));
}

// Every LED a colour of its own, none the board's or black.
int own_colour(int x, int y) { return (8 * x + 4) << 16 | (16 * y + 8) << 8 | 0xc0; }

TEST(TerminalView, SquareLedsInPanelsAtTheLargestPitchThatFits) {
  wall_frame f = make_frame(0, own_colour);
  int last_width = 0;
  for (const auto &[columns, rows] : {std::pair{35, 10}, {80, 24}, {98, 25}, {140, 45}, {200, 60}}) {
    SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows));
    std::string text;
    terminal_view_render(f, "status", columns, rows, &text);
    const screen_rows screen = screen_of(text);
    const terminal_layout l = terminal_view_layout(columns, rows);
    ASSERT_GT(l.pitch, 0);
    // The wall and the status line fit, and the next pitch would not.
    ASSERT_LE(std::size_t(l.rows) + 1, std::size_t(rows));
    const terminal_layout larger = terminal_view_layout_at(l.pitch + 1);
    EXPECT_TRUE(larger.columns > columns || larger.rows + 1 > rows);

    wall_squares w;
    EXPECT_EQ("", wall_shape_problems(screen_units(screen, std::size_t(l.rows)), own_colour, BOARD, &w));
    const int width = w.left[31] + w.size - w.left[0];
    EXPECT_GT(width, last_width) << "a larger terminal, a larger wall";
    last_width = width;
    for (std::size_t r = 0; r < std::size_t(l.rows); ++r)
      EXPECT_LE(screen[r].size(), std::size_t(columns)) << "row " << r << " fits";
    EXPECT_EQ("status", screen_line(screen, std::size_t(l.rows)));
    EXPECT_EQ(std::size_t(l.rows) + 1, screen.size()) << "nothing below the status line";
  }
}

TEST(TerminalView, StatusLineIsCutAtAFieldAndShowsNoControls) {
  const wall_frame f = make_frame(0, own_colour);
  const auto status_shown = [&](const char *status, int columns) {
    std::string text;
    terminal_view_render(f, status, columns, 24, &text);
    const screen_rows screen = screen_of(text);
    return screen_line(screen, std::size_t(terminal_view_layout(columns, 24).rows));
  };
  EXPECT_EQ("25 fps?[2J?ok  two", status_shown("25 fps\x1b[2J\tok  two", 80));
  const std::string fields = "connected on 127.0.0.1:7890  frames 1234  25 fps  show 1:02 ~ panorama  largest gap 81.2 ms";
  EXPECT_EQ(fields, status_shown(fields.c_str(), 100));
  EXPECT_EQ("connected on 127.0.0.1:7890  frames 1234  25 fps  show 1:02 ~ panorama", status_shown(fields.c_str(), 80));
  EXPECT_EQ(std::string(80, 'x'), status_shown(std::string(90, 'x').c_str(), 80));
}

TEST(TerminalView, TooSmallATerminalGetsOneLineSayingSo) {
  const wall_frame f = make_frame(0, own_colour);
  for (const auto &[columns, rows] : {std::pair{34, 10}, {36, 9}, {20, 3}}) {
    std::string text;
    terminal_view_render(f, "status", columns, rows, &text);
    const std::string message = "terminal " + std::to_string(columns) + "x" + std::to_string(rows) +
                                " is too small for the wall: it needs at least 35x10";
    EXPECT_EQ(std::vector<std::string>{message.substr(0, std::size_t(columns))}, screen_text_lines(screen_of(text)));
  }
}

TEST(TerminalView, EntersDrawsInOneTextAndRestoresTheTerminal) {
  std::FILE *file = std::tmpfile();
  ASSERT_TRUE(file);
  const wall_frame f = indexed(0, 3);
  terminal_view_t view = terminal_view_init(fileno(file));
  terminal_view_draw(view, f, "status");
  terminal_view_done(view);
  std::string written(1 << 16, '\0');
  const ssize_t size = pread(fileno(file), written.data(), written.size(), 0);
  std::fclose(file);
  ASSERT_GT(size, 0);
  written.resize(std::size_t(size));

  std::string frame;
  terminal_view_render(f, "status", 80, 24, &frame); // a file tells no size: the view takes 80x24
  const std::size_t at = written.find(frame);
  ASSERT_NE(std::string::npos, at);
  const std::string before = written.substr(0, at), after = written.substr(at + frame.size());
  EXPECT_NE(std::string::npos, before.find("\x1b[?1049h"));
  EXPECT_NE(std::string::npos, before.find("\x1b[?25l"));
  for (const char *restore : {"\x1b[0m", "\x1b[?25h", "\x1b[?1049l"})
    EXPECT_NE(std::string::npos, after.find(restore)) << restore + 1;

  // A descriptor that takes nothing costs the view its frame, nothing more.
  const int read_only = open("/dev/null", O_RDONLY);
  terminal_view_t lost = terminal_view_init(read_only);
  terminal_view_draw(lost, f, "status");
  terminal_view_done(lost);
  close(read_only);
}

} // namespace
