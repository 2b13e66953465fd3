#include "contact_sheet.h"

#include "led_board.h"
#include "ledsim_output.h"

#include <gd.h>
#include <gdfonts.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct contact_sheet_kept {
  decltype(wall_frame::rgb) rgb;
  int second; // whole seconds after the first frame
};

struct contact_sheet_s {
  std::FILE *file;
  std::string path;
  int scale;
  int columns;
  std::int64_t first_ns;
  std::vector<contact_sheet_kept> frames;
};

namespace {

void draw_tile(gdImagePtr im, int x0, int y0, int scale, const contact_sheet_kept &kept) {
  wall_frame frame{};
  frame.rgb = kept.rgb;
  led_board_draw(im, x0, y0, scale, frame);
  char label[16];
  contact_sheet_label(kept.second, label, sizeof label);
  const gdFontPtr font = gdFontGetSmall();
  const int width = int(std::strlen(label)) * font->w;
  gdImageString(im, font, x0 + (led_board_width(scale) - width) / 2,
                y0 + led_board_height(scale) + (CONTACT_SHEET_LABEL_HEIGHT - font->h) / 2,
                reinterpret_cast<unsigned char *>(label), CONTACT_SHEET_INK);
}

// The whole sheet, or null when it is too large to be had.
led_board_image draw_sheet(const contact_sheet_s &sheet) {
  const long long tiles = (long long)sheet.frames.size();
  const long long across = std::min<long long>(sheet.columns, tiles);
  const long long down = across ? (tiles + across - 1) / across : 0;
  const int tile_w = led_board_width(sheet.scale), tile_h = led_board_height(sheet.scale) + CONTACT_SHEET_LABEL_HEIGHT;
  const long long width = CONTACT_SHEET_MARGIN + across * (tile_w + CONTACT_SHEET_MARGIN);
  const long long height = CONTACT_SHEET_MARGIN + down * (tile_h + CONTACT_SHEET_MARGIN);
  if (width > INT_MAX / 4 || height > INT_MAX / 4)
    return nullptr;
  led_board_image im(gdImageCreateTrueColor(int(width), int(height)));
  if (!im)
    return nullptr;
  gdImageFilledRectangle(im.get(), 0, 0, int(width) - 1, int(height) - 1, CONTACT_SHEET_BACKGROUND);
  for (long long k = 0; k < tiles; ++k)
    draw_tile(im.get(), int(CONTACT_SHEET_MARGIN + (k % across) * (tile_w + CONTACT_SHEET_MARGIN)),
              int(CONTACT_SHEET_MARGIN + (k / across) * (tile_h + CONTACT_SHEET_MARGIN)), sheet.scale,
              sheet.frames[std::size_t(k)]);
  return im;
}

} // namespace

void contact_sheet_label(int second, char *text, std::size_t size) {
  std::snprintf(text, size, "%d:%02d", second / 60, second % 60);
}

contact_sheet_t contact_sheet_init(const char *path, int scale, int columns) {
  if (scale < LED_BOARD_MIN_SCALE || scale > LED_BOARD_MAX_SCALE || columns < 1) {
    std::fprintf(stderr, "ledsim: contact sheet needs a scale of %d to %d and at least one column (got %d, %d)\n",
                 LED_BOARD_MIN_SCALE, LED_BOARD_MAX_SCALE, scale, columns);
    return nullptr;
  }
  std::FILE *file = ledsim_open_output(path);
  if (!file)
    return nullptr;
  return new contact_sheet_s{file, path, scale, columns, 0, {}};
}

void contact_sheet_add(contact_sheet_t sheet, const wall_frame &frame) {
  if (sheet->frames.empty()) {
    sheet->first_ns = frame.received_ns;
    sheet->frames.push_back({frame.rgb, 0});
    return;
  }
  const std::int64_t since = frame.received_ns - sheet->first_ns;
  if (since < 0 || since / 1'000'000'000 > INT_MAX)
    return;
  const int second = int(since / 1'000'000'000);
  if (second > sheet->frames.back().second)
    sheet->frames.push_back({frame.rgb, second});
}

int contact_sheet_done(contact_sheet_t sheet) {
  if (!sheet)
    return 1;
  if (sheet->frames.empty())
    std::fprintf(stderr, "ledsim: no frames received; %s is a blank sheet\n", sheet->path.c_str());
  const char *failure = nullptr;
  int size = 0;
  void *png = nullptr;
  if (const led_board_image im = draw_sheet(*sheet); !im)
    failure = "the sheet is too large";
  else if (!(png = gdImagePngPtr(im.get(), &size)))
    failure = "the PNG encoder failed";
  errno = 0;
  if (png && std::fwrite(png, 1, std::size_t(size), sheet->file) != std::size_t(size))
    failure = std::strerror(errno ? errno : EIO);
  gdFree(png);
  errno = 0;
  if (std::fclose(sheet->file) != 0 && !failure)
    failure = std::strerror(errno ? errno : EIO);
  if (failure)
    std::fprintf(stderr, "ledsim: cannot write %s: %s\n", sheet->path.c_str(), failure);
  delete sheet;
  return failure ? 0 : 1;
}
