// The credit portraits and their captions. The credits scene pans a window of
// the portrait's full width and half that height up and down, five to six
// picture pixels per LED, so the portraits are cartoons of flat colours with
// thick dark outlines, and each horizontal slice of them holds one big shape
// (a bulb, a face, a keyboard).
#include "draw_util.h"
#include "gdfont4x8.h"
#include "pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kOutline = 4;
const int kInk = gdTrueColor(16, 10, 24);
const int kWhite = gdTrueColor(252, 250, 244);

enum class mouth { grin, smile, whistle };

struct face_s {
  int cx, cy, w, h;
  int skin, skin_shadow;
  bool eyes_closed;
  mouth kind;
  bool ears;  // false under a hood
};

void draw_mouth(gdImagePtr im, const face_s &f) {
  const int y = f.cy + f.h / 5;
  switch (f.kind) {
    case mouth::grin:  // a dark half-disc with teeth and a tongue
      gdImageFilledArc(im, f.cx, y, f.w * 2 / 5, f.h / 4, 0, 180, kInk, gdPie);
      gdImageFilledArc(im, f.cx, y + f.h / 16, f.w / 5, f.h / 10, 0, 180,
                       gdTrueColor(230, 90, 110), gdPie);
      gdImageFilledRectangle(im, f.cx - f.w / 6, y, f.cx + f.w / 6, y + 3, kWhite);
      break;
    case mouth::smile:
      gdImageSetThickness(im, kOutline);
      gdImageArc(im, f.cx, y - f.h / 16, f.w * 2 / 5, f.h / 5, 20, 160, kInk);
      gdImageSetThickness(im, 1);
      break;
    case mouth::whistle:
      draw_outlined_ellipse(im, f.cx + f.w / 16, y + f.h / 20, f.w / 8, f.h / 8, 3,
                            gdTrueColor(150, 40, 60), kInk);
      break;
  }
}

// A round cartoon face: shaded skin, ears, eyes (open and looking up, or
// closed as arcs), a nose and a mouth. Hair and hats go on afterwards.
void face(gdImagePtr im, const face_s &f) {
  if (f.ears)
    for (int side : {-1, 1})
      draw_outlined_ellipse(im, f.cx + side * f.w / 2, f.cy + f.h / 12, f.w / 6, f.h / 4, kOutline,
                            f.skin_shadow, kInk);
  draw_outlined_ellipse(im, f.cx, f.cy, f.w, f.h, kOutline, f.skin_shadow, kInk);
  gdImageFilledEllipse(im, f.cx - f.w / 16, f.cy - f.h / 16, f.w * 7 / 8, f.h * 7 / 8, f.skin);
  const int eye_dx = f.w / 5, eye_y = f.cy - f.h / 12;
  for (int side : {-1, 1}) {
    const int ex = f.cx + side * eye_dx;
    if (f.eyes_closed) {
      // Thicker than the outlines: a closed eye must still be an LED wide.
      gdImageSetThickness(im, kOutline + 3);
      gdImageArc(im, ex, eye_y, f.w / 5, f.h / 8, 0, 180, kInk);
      gdImageSetThickness(im, 1);
    } else {
      draw_outlined_ellipse(im, ex, eye_y, f.w / 5, f.h / 4, 3, kWhite, kInk);
      gdImageFilledEllipse(im, ex + side * 2, eye_y - f.h / 24, f.w / 10, f.h / 8, kInk);
      gdImageFilledEllipse(im, ex + side * 2 - 3, eye_y - f.h / 12, 5, 5, kWhite);
    }
  }
  gdImageFilledEllipse(im, f.cx, f.cy + f.h / 12, f.w / 8, f.h / 10, f.skin_shadow);
  draw_mouth(im, f);
}

// Wedges of two colours turning around a point, behind the whole picture.
void sunburst(gdImagePtr im, int cx, int cy, int a, int b, int wedges) {
  const int w = gdImageSX(im), h = gdImageSY(im);
  gdImageFilledRectangle(im, 0, 0, w - 1, h - 1, a);
  const int r = 2 * (w + h);
  for (int i = 0; i < wedges; i += 2)
    gdImageFilledArc(im, cx, cy, r, r, i * 360 / wedges, (i + 1) * 360 / wedges, b, gdPie);
}

// The body below a face: round shoulders running off the bottom edge, the
// side away from the light in shadow.
void shoulders(gdImagePtr im, int cx, int top, int half_width, int cloth, int cloth_shadow) {
  const int h = gdImageSY(im), depth = 2 * (h - top) + 40;
  draw_outlined_ellipse(im, cx, top + depth / 2, 2 * half_width, depth, kOutline, cloth_shadow, kInk);
  gdImageFilledEllipse(im, cx - half_width / 5, top + depth / 2 + 6, 2 * half_width * 3 / 4,
                       depth - 4, cloth);
}

// --- the lead: a grinning character with an idea lit above the head ---

void light_bulb(gdImagePtr im, int cx, int cy) {
  const int glow = gdTrueColor(255, 236, 120);
  for (int i = 0; i < 12; ++i) {
    const float a = float(i) * std::numbers::pi_v<float> / 6.0f;
    draw_thick_line(im, cx + int(std::cos(a) * 38.0f), cy + int(std::sin(a) * 38.0f),
                    cx + int(std::cos(a) * 50.0f), cy + int(std::sin(a) * 50.0f), 5, glow);
  }
  draw_outlined_ellipse(im, cx, cy, 56, 56, kOutline, gdTrueColor(255, 214, 40), kInk);
  gdImageFilledEllipse(im, cx - 10, cy - 10, 16, 16, kWhite);
  for (int i = 0; i < 3; ++i) {
    const int y = cy + 28 + i * 8;
    gdImageFilledRectangle(im, cx - 14 - kOutline, y, cx + 14 + kOutline, y + 7, kInk);
    gdImageFilledRectangle(im, cx - 14, y + 1, cx + 14, y + 5, gdTrueColor(180, 184, 200));
  }
}

// Spikes all round the top of a head of the given half-axes, and a jagged
// fringe across the brow.
void spiky_hair(gdImagePtr im, int cx, int cy, int rx, int ry, int colour) {
  std::vector<gdPoint> hair;
  const int spikes = 9;
  for (int i = 0; i <= 2 * spikes; ++i) {
    const float a = std::numbers::pi_v<float> * (1.05f + 0.9f * float(i) / float(2 * spikes));
    const float reach = i % 2 == 1 ? 1.38f + 0.1f * float(i % 4) : 1.02f;
    hair.push_back({cx + int(std::cos(a) * float(rx) * reach), cy + int(std::sin(a) * float(ry) * reach)});
  }
  for (int i = 0; i <= 6; ++i) {
    const int x = cx + rx - i * 2 * rx / 6;
    hair.push_back({x, cy - ry / 2 + (i % 2 == 0 ? 0 : ry / 5)});
  }
  draw_outlined_polygon(im, hair, kOutline, colour, kInk);
}

// --- the graphics artist: cut out of an arch, see-through around it ---

constexpr int kGfxW = 198, kGfxH = 332;
// The credits scene resamples each window over the previous frame, so an LED
// whose window cell is all see-through keeps what it showed before. Around
// every see-through pixel the portrait is therefore opaque black this far out:
// across, the columns one LED cell touches (198/32 = 6.2 pixels); down, a cell
// (6.2 rows) plus the furthest the pan moves between two frames (8.2 rows).
// Any cell holding a see-through pixel then averages only black, and so did
// the cell that LED showed the frame before: nothing but black is left behind.
constexpr int kClearX = 8, kClearY = 18;

bool outside_arch(int x, int y) {
  const int r = kGfxW / 2 - 2, cy = r + 2;
  if (y >= cy) return false;
  const int dx = x - kGfxW / 2, dy = y - cy;
  return dx * dx + dy * dy > r * r;
}

// Max filter of a mask along one axis.
std::vector<u8> spread(const std::vector<u8> &mask, int w, int h, int reach, bool along_x) {
  std::vector<u8> out(mask.size(), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (mask[size_t(y * w + x)] == 0) continue;
      for (int d = -reach; d <= reach; ++d) {
        const int nx = along_x ? x + d : x, ny = along_x ? y : y + d;
        if (nx >= 0 && nx < w && ny >= 0 && ny < h) out[size_t(ny * w + nx)] = 1;
      }
    }
  return out;
}

void cut_out_arch(gdImagePtr im) {
  std::vector<u8> clear(size_t(kGfxW * kGfxH));
  for (int y = 0; y < kGfxH; ++y)
    for (int x = 0; x < kGfxW; ++x) clear[size_t(y * kGfxW + x)] = outside_arch(x, y) ? 1 : 0;
  const std::vector<u8> blackened =
      spread(spread(clear, kGfxW, kGfxH, kClearX, true), kGfxW, kGfxH, kClearY, false);
  gdImageAlphaBlending(im, 0);
  for (int y = 0; y < kGfxH; ++y)
    for (int x = 0; x < kGfxW; ++x) {
      const size_t i = size_t(y * kGfxW + x);
      // See-through pixels are black too, so nothing can average colour out of them.
      if (clear[i] != 0) gdImageSetPixel(im, x, y, gdTrueColorAlpha(0, 0, 0, gdAlphaTransparent));
      else if (blackened[i] != 0) gdImageSetPixel(im, x, y, gdTrueColor(0, 0, 0));
    }
}

// A mosaic of big colour tiles: the artist's canvas behind them.
void mosaic(gdImagePtr im, int tile) {
  const std::array<int, 5> colours{gdTrueColor(30, 70, 120), gdTrueColor(40, 120, 150),
                                   gdTrueColor(60, 40, 120), gdTrueColor(26, 90, 110),
                                   gdTrueColor(240, 170, 60)};
  for (int y = 0; y < gdImageSY(im); y += tile)
    for (int x = 0; x < gdImageSX(im); x += tile) {
      const u32 n = draw_hash(x / tile, y / tile, 3);
      const int c = colours[n % 23 == 0 ? 4 : n % 4];
      gdImageFilledRectangle(im, x, y, x + tile - 1, y + tile - 1, c);
    }
}

// A little pixel-art heart, the kind of thing the artist draws, in squares
// of one LED or so.
void pixel_heart(gdImagePtr im, int x, int y, int cell) {
  const char *rows[6] = {".##.##.", "#######", "#######", ".#####.", "..###..", "...#..."};
  for (int r = 0; r < 6; ++r)
    for (int k = 0; rows[r][k] != '\0'; ++k)
      if (rows[r][k] == '#')
        gdImageFilledRectangle(im, x + k * cell, y + r * cell, x + (k + 1) * cell - 2,
                               y + (r + 1) * cell - 2, r < 2 && k < 3 ? gdTrueColor(255, 170, 190)
                                                                      : gdTrueColor(240, 40, 90));
}

void beret(gdImagePtr im, int cx, int top) {
  const int red = gdTrueColor(220, 40, 60);
  draw_outlined_ellipse(im, cx - 8, top + 22, 128, 46, kOutline, red, kInk);
  gdImageFilledEllipse(im, cx - 26, top + 14, 44, 14, gdTrueColor(255, 110, 120));
  draw_outlined_ellipse(im, cx - 4, top - 2, 12, 12, 3, red, kInk);
}

void stylus(gdImagePtr im, gdPoint grip, gdPoint tip) {
  draw_thick_line(im, grip.x, grip.y, tip.x, tip.y, 16 + 2 * kOutline, kInk);
  draw_thick_line(im, grip.x, grip.y, tip.x, tip.y, 16, gdTrueColor(255, 200, 40));
  const int mx = (grip.x * 3 + tip.x) / 4, my = (grip.y * 3 + tip.y) / 4;
  draw_thick_line(im, grip.x, grip.y, mx, my, 16, gdTrueColor(80, 200, 230));
  draw_outlined_ellipse(im, tip.x, tip.y, 14, 14, kOutline, gdTrueColor(255, 80, 170), kInk);
}

void paint_palette(gdImagePtr im, int cx, int cy) {
  draw_outlined_ellipse(im, cx, cy, 92, 56, kOutline, gdTrueColor(200, 150, 100), kInk);
  const std::array<int, 4> blobs{gdTrueColor(230, 40, 60), gdTrueColor(60, 200, 90),
                                 gdTrueColor(60, 120, 250), gdTrueColor(255, 220, 40)};
  for (size_t i = 0; i < blobs.size(); ++i)
    gdImageFilledEllipse(im, cx - 30 + int(i) * 20, cy - 8 + int(i % 2) * 14, 16, 14, blobs[i]);
}

// --- the musician: headphones on, eyes closed, notes around ---

void note(gdImagePtr im, int x, int y, int colour) {
  draw_outlined_ellipse(im, x, y, 22, 18, 3, colour, kInk);
  gdImageFilledRectangle(im, x + 5, y - 36, x + 13, y - 2, kInk);
  gdImageFilledRectangle(im, x + 5, y - 36, x + 24, y - 28, kInk);
  gdImageFilledRectangle(im, x + 8, y - 33, x + 10, y - 4, colour);
  gdImageFilledRectangle(im, x + 8, y - 33, x + 21, y - 31, colour);
}

void equaliser(gdImagePtr im) {
  gdImageFilledRectangle(im, 0, 0, gdImageSX(im) - 1, gdImageSY(im) - 1, gdTrueColor(14, 12, 44));
  const int base = gdImageSY(im) - 1;
  for (int x = 2, i = 0; x < gdImageSX(im); x += 18, ++i) {
    const int height = 60 + int(draw_hash(i, 0, 9) % 150);
    for (int y = base; y > base - height; y -= 10) {
      const float t = float(base - y) / 210.0f;
      gdImageFilledRectangle(im, x, y - 7, x + 13, y,
                             draw_mix(gdTrueColor(60, 60, 220), gdTrueColor(200, 60, 220), t));
    }
  }
}

void headphones(gdImagePtr im, int cx, int cy, int span) {
  const int red = gdTrueColor(232, 44, 80);
  gdImageSetThickness(im, 14 + 2 * kOutline);
  gdImageArc(im, cx, cy, span, span + 10, 180, 360, kInk);
  gdImageSetThickness(im, 10);
  gdImageArc(im, cx, cy, span, span + 10, 182, 358, gdTrueColor(70, 70, 90));
  gdImageSetThickness(im, 1);
  for (int side : {-1, 1}) {
    const int x = cx + side * span / 2;
    draw_outlined_ellipse(im, x, cy + 6, 40, 62, kOutline, red, kInk);
    gdImageFilledEllipse(im, x + side * 4, cy + 6, 20, 38, gdTrueColor(130, 20, 50));
  }
}

void keyboard(gdImagePtr im, int top) {
  const int w = gdImageSX(im), bottom = gdImageSY(im) - 1;
  gdImageFilledRectangle(im, 0, top, w - 1, bottom, kInk);
  gdImageFilledRectangle(im, 0, top + kOutline, w - 1, top + 12, gdTrueColor(60, 60, 80));
  for (int x = 2; x < w; x += 18) gdImageFilledRectangle(im, x, top + 16, x + 14, bottom, kWhite);
  for (int x = 2, i = 0; x < w; x += 18, ++i)
    if (i % 7 != 2 && i % 7 != 6) gdImageFilledRectangle(im, x + 11, top + 16, x + 20, top + 36, kInk);
}

// --- the coder: hood up, glasses lit by the screen, laptop in front ---

void code_wall(gdImagePtr im) {
  gdImageFilledRectangle(im, 0, 0, gdImageSX(im) - 1, gdImageSY(im) - 1, gdTrueColor(8, 14, 26));
  const std::array<int, 3> inks{gdTrueColor(60, 220, 120), gdTrueColor(60, 190, 240),
                                gdTrueColor(240, 90, 180)};
  draw_rng_s rng = draw_rng_make(0xc0de);
  for (int y = 4; y < gdImageSY(im); y += 13) {
    int x = 4 + 12 * draw_rng_below(rng, 4);
    while (x < gdImageSX(im) - 10) {
      const int len = draw_rng_between(rng, 10, 46);
      const int c = inks[size_t(draw_rng_below(rng, 5) == 0 ? 2 : draw_rng_below(rng, 2))];
      gdImageFilledRectangle(im, x, y, std::min(x + len, gdImageSX(im) - 1), y + 6, draw_scale(c, 0.7f));
      x += len + draw_rng_between(rng, 6, 16);
    }
  }
}

void glasses(gdImagePtr im, int cx, int y) {
  const int lens = gdTrueColor(150, 240, 255);
  for (int side : {-1, 1}) {
    const int x = cx + side * 24;
    gdImageFilledRectangle(im, x - 21, y - 15, x + 21, y + 15, kInk);
    gdImageFilledRectangle(im, x - 16, y - 10, x + 16, y + 10, lens);
    // Reflected lines of the screen.
    for (int k = 0; k < 3; ++k)
      gdImageFilledRectangle(im, x - 12, y - 7 + k * 6, x - 12 + 8 + 6 * ((k + side + 2) % 3), y - 5 + k * 6,
                             gdTrueColor(40, 200, 120));
  }
  gdImageFilledRectangle(im, cx - 4, y - 6, cx + 4, y - 2, kInk);
}

void laptop(gdImagePtr im, int top) {
  const int w = gdImageSX(im), bottom = gdImageSY(im) + kOutline;
  const gdPoint lid[4] = {{26, top}, {w - 27, top}, {w - 14, bottom}, {13, bottom}};
  draw_outlined_polygon(im, lid, kOutline, gdTrueColor(176, 182, 200), kInk);
  gdPoint sheen[4] = {{34, top + 6}, {70, top + 6}, {50, bottom}, {22, bottom}};
  gdImageFilledPolygon(im, sheen, 4, gdTrueColor(214, 220, 232));
  // A sticker with a code bracket on the lid.
  const int sx = w / 2, sy = top + 34;
  draw_outlined_ellipse(im, sx, sy, 52, 40, kOutline, gdTrueColor(240, 80, 170), kInk);
  draw_text_blocks(im, sx - draw_text_blocks_width("</>", 3) / 2, sy - 10, "</>", 3, kWhite);
}

// --- captions ---

// Handle and role, centred, each on its own line of the 4x8 font, in black
// on blue. The palette order is the caption's own (the code caption lists
// blue first).
gdImagePtr caption(const char *handle, const char *role, bool blue_first) {
  gdImagePtr im = gdImageCreate(32, 16);
  const draw_rgb_s black{0, 0, 0}, blue{16, 40, 232};
  const std::array<draw_rgb_s, 2> palette{blue_first ? blue : black, blue_first ? black : blue};
  draw_allocate_palette(im, palette);
  const int ink = blue_first ? 1 : 0, paper = blue_first ? 0 : 1;
  gdImageFilledRectangle(im, 0, 0, 31, 15, paper);
  gdFontPtr font = gdFontGet4x8();
  int y = 0;
  for (std::string line : {handle, role}) {
    const int x = (32 - draw_text_blocks_width(line.c_str(), 1)) / 2;
    gdImageString(im, font, x, y, reinterpret_cast<unsigned char *>(line.data()), ink);
    y += font->h;
  }
  return im;
}

}  // namespace

gdImagePtr draw_credit_lead() {
  gdImagePtr im = gdImageCreateTrueColor(180, 297);
  sunburst(im, 90, 44, gdTrueColor(56, 20, 110), gdTrueColor(110, 36, 150), 20);
  shoulders(im, 90, 206, 92, gdTrueColor(30, 176, 160), gdTrueColor(20, 120, 120));
  // Shirt collar and a star badge.
  const gdPoint collar[3] = {{68, 214}, {112, 214}, {90, 248}};
  draw_outlined_polygon(im, collar, kOutline, kWhite, kInk);
  const gdPoint star[10] = {{128, 238}, {133, 250}, {146, 250}, {136, 258}, {140, 271},
                            {128, 263}, {116, 271}, {120, 258}, {110, 250}, {123, 250}};
  draw_outlined_polygon(im, star, 3, gdTrueColor(255, 214, 40), kInk);
  face(im, {90, 160, 124, 112, gdTrueColor(252, 206, 164), gdTrueColor(222, 150, 118), false, mouth::grin, true});
  spiky_hair(im, 90, 160, 64, 58, gdTrueColor(255, 134, 30));
  light_bulb(im, 90, 40);
  return im;
}

gdImagePtr draw_credit_gfx() {
  gdImagePtr im = gdImageCreateTrueColor(kGfxW, kGfxH);
  gdImageSaveAlpha(im, 1);
  mosaic(im, 22);
  pixel_heart(im, 99 - 7 * 9 / 2, 36, 9);
  shoulders(im, 99, 246, 96, gdTrueColor(40, 40, 60), gdTrueColor(24, 24, 40));
  // A striped shirt under the smock.
  for (int y = 262; y < kGfxH; y += 14)
    gdImageFilledRectangle(im, 78, y, 120, y + 6, kWhite);
  face(im, {99, 196, 120, 116, gdTrueColor(240, 186, 150), gdTrueColor(206, 138, 110), false, mouth::smile, true});
  beret(im, 99, 118);
  paint_palette(im, 50, 292);
  stylus(im, {160, 306}, {176, 214});
  draw_outlined_ellipse(im, 160, 300, 34, 30, kOutline, gdTrueColor(240, 186, 150), kInk);
  cut_out_arch(im);
  return im;
}

gdImagePtr draw_credit_music() {
  gdImagePtr im = gdImageCreateTrueColor(198, 250);
  equaliser(im);
  shoulders(im, 99, 172, 92, gdTrueColor(250, 150, 40), gdTrueColor(200, 96, 30));
  face(im, {99, 112, 114, 116, gdTrueColor(196, 128, 88), gdTrueColor(150, 90, 62), true, mouth::whistle, true});
  // Curly hair: a cluster of dark puffs over the brow.
  for (int i = 0; i < 7; ++i)
    draw_outlined_ellipse(im, 54 + i * 15, 66 + (i % 2) * 6, 30, 28, 2, gdTrueColor(40, 26, 30), kInk);
  headphones(im, 99, 104, 126);
  keyboard(im, 206);
  note(im, 24, 52, gdTrueColor(255, 220, 40));
  note(im, 168, 38, gdTrueColor(120, 240, 200));
  note(im, 178, 170, gdTrueColor(255, 220, 40));
  return im;
}

gdImagePtr draw_credit_code() {
  gdImagePtr im = gdImageCreateTrueColor(198, 235);
  code_wall(im);
  const int hood = gdTrueColor(40, 130, 80), hood_shadow = gdTrueColor(24, 86, 56);
  shoulders(im, 99, 150, 100, hood, hood_shadow);
  draw_outlined_ellipse(im, 99, 100, 150, 158, kOutline, hood, kInk);
  gdImageFilledEllipse(im, 110, 104, 120, 138, hood_shadow);
  face(im, {99, 106, 104, 112, gdTrueColor(236, 190, 150), gdTrueColor(200, 140, 110), false, mouth::smile, false});
  glasses(im, 99, 98);
  laptop(im, 164);
  return im;
}

gdImagePtr draw_caption_lead() { return caption("ZIVEN", "LEAD", false); }
gdImagePtr draw_caption_gfx() { return caption("PIXLA", "GFX", false); }
gdImagePtr draw_caption_music() { return caption("DUBRO", "MUSIC", false); }
gdImagePtr draw_caption_code() { return caption("NIBBLR", "CODE", true); }
