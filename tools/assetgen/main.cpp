// assetgen OUTPUT_DIR [PREVIEW_PNG] | assetgen --help
//
// Draws every picture of the show (pictures.h) and writes it into OUTPUT_DIR
// in the exact format the show expects, together with the
// logo script logo_draw.bin; optionally writes a preview sheet of everything,
// with a row showing each asset as the 32x16 wall would show it. Each drawing
// is checked for its size and kind first; a wrong one stops the run with a
// message and exit status 1. Output is the same on every run.
#include "opcgd.h"
#include "gdfont4x8.h"
#include "hsv.h"
#include "logo.h"
#include "pictures.h"
#include "png_write.h"
#include "scene_math.h"

#include <gd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

struct asset_s {
  const char *file;
  gdImagePtr (*draw)();
  int width, height;
  int palette_entries; // 0 for a true-colour drawing
  png_write_options_s options;
};

std::vector<asset_s> assets() {
  const png_write_options_s rgb{png_write_rgb8, false, false, false, false, {}};
  const png_write_options_s caption{png_write_palette8, false, false, false, false, {}};
  return {
      {"greetings.png", draw_greetings, 2048, 1024, 0, {png_write_rgb8, true, true, false, false, {}}},
      {"into_the_blue.png", draw_into_the_blue, 320, 200, 17,
       {png_write_palette8, false, false, true, true,
        {{"Title", "Into the blue"}, {"Author", "NEON DRIFT"}, {"Software", "assetgen"}}}},
      {"super_world.png", draw_panorama, 3392, 232, 13, {png_write_palette4, false, true, false, true, {}}},
      {"drink.png", draw_drink, 119, 305, 0, rgb},
      {"credits_gfx_lead.png", draw_credit_lead, 180, 297, 0, rgb},
      {"credits_gfx_gfx.png", draw_credit_gfx, 198, 332, 0, {png_write_rgba8, false, false, false, false, {}}},
      {"credits_gfx_music.png", draw_credit_music, 198, 250, 0, rgb},
      {"credits_gfx_code.png", draw_credit_code, 198, 235, 0, rgb},
      {"credits_txt_lead.png", draw_caption_lead, 32, 16, 2, caption},
      {"credits_txt_gfx.png", draw_caption_gfx, 32, 16, 2, caption},
      {"credits_txt_music.png", draw_caption_music, 32, 16, 2, caption},
      {"credits_txt_code.png", draw_caption_code, 32, 16, 2, caption},
  };
}

// The drawing must be what the show's scenes and the format expect.
bool drawing_is_right(const asset_s &a, gdImagePtr im) {
  if (!im) {
    std::fprintf(stderr, "assetgen: %s: the drawing failed\n", a.file);
    return false;
  }
  if (gdImageSX(im) != a.width || gdImageSY(im) != a.height) {
    std::fprintf(stderr, "assetgen: %s: drawn %dx%d, must be %dx%d\n", a.file, gdImageSX(im), gdImageSY(im),
                 a.width, a.height);
    return false;
  }
  if (a.palette_entries == 0 && !gdImageTrueColor(im)) {
    std::fprintf(stderr, "assetgen: %s: drawn as a palette image, must be true colour\n", a.file);
    return false;
  }
  if (a.palette_entries > 0) {
    if (gdImageTrueColor(im)) {
      std::fprintf(stderr, "assetgen: %s: drawn in true colour, must be a palette image\n", a.file);
      return false;
    }
    if (gdImageColorsTotal(im) != a.palette_entries) {
      std::fprintf(stderr, "assetgen: %s: palette of %d entries, must be %d\n", a.file, gdImageColorsTotal(im),
                   a.palette_entries);
      return false;
    }
  }
  return true;
}

// The logo as the logo scene leaves it after its drawing phase: entry n is
// last drawn in frame n + 23, at value 23/24 in that frame's hue.
image_ptr finished_logo() {
  image_ptr im(gdImageCreateTrueColor(32, 16));
  for (int n = 0; n < logo_draw_entries; ++n) {
    const int p = logo_draw[std::size_t(n)];
    if (p < 0)
      continue;
    float h = phase_add(float(n + 23) / 175.0f, -0.08);
    if (h < 0)
      h = float(h + 1.0);
    const hsv_t colour{h, 1.0f, 23.0f / 24.0f};
    gdImageSetPixel(im.get(), p % 32, p / 32, int(hsv_to_rgb(&colour)));
  }
  return im;
}

// --- The preview sheet. ---

constexpr int kSheetW = 1320;
constexpr int kMargin = 20;
constexpr int kBackground = 0x1e1e24;
constexpr int kFrame = 0x505060;
constexpr int kInk = 0xd0d0e0;

struct sheet_item_s {
  std::string label;
  gdImagePtr im; // not owned
  int box_w, box_h;
  bool fill_box;  // drawn at the box's size whatever the picture's shape
};

void label_text(gdImagePtr sheet, int x, int y, const std::string &text, int scale, int colour) {
  // The 4x8 font, each font pixel a scale x scale block.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int code = static_cast<unsigned char>(text[i]);
    if (code < 32 || code > 127)
      continue;
    for (int r = 0; r < 8; ++r)
      for (int k = 0; k < 4; ++k)
        if (gdFont4x8Data[std::size_t((code - 32) * 32 + r * 4 + k)])
          gdImageFilledRectangle(sheet, x + (int(i) * 4 + k) * scale, y + r * scale, x + (int(i) * 4 + k + 1) * scale - 1,
                                 y + (r + 1) * scale - 1, colour);
  }
}

// A picture scaled to fit its box, keeping its shape, framed, label below.
// Returns the tile's height.
int draw_tile(gdImagePtr sheet, int x, int y, const sheet_item_s &item) {
  const int w = gdImageSX(item.im), h = gdImageSY(item.im);
  const double s = std::min(double(item.box_w) / w, double(item.box_h) / h);
  const int tw = std::max(1, int(w * s)), th = std::max(1, int(h * s));
  gdImageRectangle(sheet, x - 1, y - 1, x + tw, y + th, kFrame);
  gdImageFilledRectangle(sheet, x, y, x + tw - 1, y + th - 1, 0);
  if (s >= 2.0)
    gdImageCopyResized(sheet, item.im, x, y, 0, 0, tw, th, w, h); // pixel art stays crisp
  else
    gdImageCopyResampled(sheet, item.im, x, y, 0, 0, tw, th, w, h);
  label_text(sheet, x, y + th + 6, item.label, 2, kInk);
  return th + 6 + 16;
}

// The picture averaged down to 32x16 as the wall shows it, drawn as LEDs.
int draw_wall(gdImagePtr sheet, int x, int y, const sheet_item_s &item) {
  image_ptr wall(gdImageCreateTrueColor(32, 16));
  gdImageCopyResampled(wall.get(), item.im, 0, 0, 0, 0, 32, 16, gdImageSX(item.im), gdImageSY(item.im));
  constexpr int pitch = 7;
  gdImageFilledRectangle(sheet, x - 2, y - 2, x + 32 * pitch, y + 16 * pitch, 0x08080a);
  for (int py = 0; py < 16; ++py)
    for (int px = 0; px < 32; ++px) {
      const int c = gdImageGetTrueColorPixel(wall.get(), px, py) & 0xffffff;
      gdImageFilledRectangle(sheet, x + px * pitch, y + py * pitch, x + px * pitch + pitch - 2,
                             y + py * pitch + pitch - 2, c);
    }
  label_text(sheet, x, y + 16 * pitch + 6, item.label, 2, kInk);
  return 16 * pitch + 6 + 16;
}

template <typename Draw>
int flow(gdImagePtr sheet, int y, const std::vector<sheet_item_s> &items, Draw draw, bool measure_only) {
  int x = kMargin, row_h = 0;
  for (const sheet_item_s &item : items) {
    const double s = std::min(double(item.box_w) / gdImageSX(item.im), double(item.box_h) / gdImageSY(item.im));
    const int pw = item.fill_box ? item.box_w : std::max(1, int(gdImageSX(item.im) * s));
    const int ph = item.fill_box ? item.box_h : std::max(1, int(gdImageSY(item.im) * s));
    const int tw = std::max(pw, int(item.label.size()) * 8);
    if (x > kMargin && x + tw > kSheetW - kMargin) {
      x = kMargin;
      y += row_h + 24;
      row_h = 0;
    }
    int h = 0;
    if (measure_only) {
      h = ph + 22;
    } else {
      h = draw(sheet, x, y, item);
    }
    row_h = std::max(row_h, h);
    x += tw + 28;
  }
  return y + row_h;
}

bool write_preview(const char *path, const std::vector<image_ptr> &images, const std::vector<asset_s> &list,
                   gdImagePtr logo) {
  std::vector<sheet_item_s> tiles, walls;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string name = list[i].file;
    name = name.substr(0, name.size() - 4);
    for (char &c : name)
      c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
    int bw = 300, bh = 220;
    if (i == 0)
      bw = 440; // the greetings canvas
    if (list[i].width == 3392)
      bw = kSheetW - 2 * kMargin, bh = 120; // the panorama gets a row
    if (list[i].width == 32)
      bw = 192, bh = 96; // captions, 6x
    tiles.push_back({name, images[i].get(), bw, bh, false});
    walls.push_back({name, images[i].get(), 224, 112, true});
  }
  tiles.push_back({"LOGO_DRAW", logo, 256, 128, false});
  walls.push_back({"LOGO_DRAW", logo, 224, 112, true});

  // Lay out once to measure, then draw.
  const int title_h = 16 * 3 + 20;
  int y = kMargin + title_h;
  y = flow(nullptr, y + 24, tiles, draw_tile, true) + 40;
  y = flow(nullptr, y + 24, walls, draw_wall, true) + kMargin;
  image_ptr sheet(gdImageCreateTrueColor(kSheetW, y));
  gdImageFilledRectangle(sheet.get(), 0, 0, kSheetW - 1, y - 1, kBackground);
  label_text(sheet.get(), kMargin, kMargin, "NEON DRIFT - ASSETS", 3, 0xff50c8);
  y = kMargin + title_h;
  label_text(sheet.get(), kMargin, y, "THE PICTURES", 2, 0x50e6ff);
  y = flow(sheet.get(), y + 24, tiles, draw_tile, false) + 40;
  label_text(sheet.get(), kMargin, y, "ON THE 32X16 WALL (EACH AVERAGED DOWN TO 32X16)", 2, 0x50e6ff);
  flow(sheet.get(), y + 24, walls, draw_wall, false);
  return png_write_file(path, sheet.get(), {png_write_rgb8, false, false, false, false, {}});
}

} // namespace

int main(int argc, char **argv) {
  const char *const usage = "usage: assetgen OUTPUT_DIR [PREVIEW_PNG]\n"
                            "  draws every picture of the show and the logo script into OUTPUT_DIR,\n"
                            "  and with PREVIEW_PNG a preview sheet of them all\n";
  // A folder whose name starts with '-' can still be given as ./-name.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (argv[i][0] == '-') {
      std::fprintf(stderr, "assetgen: unknown option '%s'\n", argv[i]);
      std::fputs(usage, stderr);
      return 1;
    }
  }
  if (argc < 2 || argc > 3) {
    std::fputs(usage, stderr);
    return 1;
  }
  const std::string dir = argv[1];
  const std::vector<asset_s> list = assets();
  std::vector<image_ptr> images;
  for (const asset_s &a : list) {
    image_ptr im(a.draw());
    if (!drawing_is_right(a, im.get()))
      return 1;
    if (!png_write_file((dir + "/" + a.file).c_str(), im.get(), a.options))
      return 1;
    images.push_back(std::move(im));
  }
  if (!logo_draw_write((dir + "/logo_draw.bin").c_str()))
    return 1;
  if (argc == 3) {
    image_ptr logo = finished_logo();
    if (!write_preview(argv[2], images, list, logo.get()))
      return 1;
  }
  return 0;
}
