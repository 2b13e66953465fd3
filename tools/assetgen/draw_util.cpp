#include "draw_util.h"

#include "gdfont4x8.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

int clamp_channel(float v) { return std::clamp(int(v + 0.5f), 0, 255); }

}  // namespace

draw_rng_s draw_rng_make(u32 seed) { return {seed == 0 ? 0x9e3779b9u : seed}; }

u32 draw_rng_next(draw_rng_s &rng) {
  u32 x = rng.state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  rng.state = x;
  return x;
}

int draw_rng_below(draw_rng_s &rng, int n) { return int(draw_rng_next(rng) % u32(n)); }

int draw_rng_between(draw_rng_s &rng, int lo, int hi) {
  return lo + draw_rng_below(rng, hi - lo + 1);
}

u32 draw_hash(int x, int y, u32 seed) {
  // A murmur-style finaliser over the packed position: neighbours decorrelate.
  u32 h = u32(x) * 0x8da6b343u ^ u32(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 16;
  h *= 0x7feb352du;
  h ^= h >> 15;
  h *= 0x846ca68bu;
  h ^= h >> 16;
  return h;
}

void draw_allocate_palette(gdImagePtr im, std::span<const draw_rgb_s> colours) {
  for (const draw_rgb_s &c : colours) gdImageColorAllocate(im, c.r, c.g, c.b);
}

int draw_mix(int from, int to, float t) {
  auto channel = [t](int a, int b) { return clamp_channel(float(a) + (float(b) - float(a)) * t); };
  return gdTrueColor(channel(gdTrueColorGetRed(from), gdTrueColorGetRed(to)),
                     channel(gdTrueColorGetGreen(from), gdTrueColorGetGreen(to)),
                     channel(gdTrueColorGetBlue(from), gdTrueColorGetBlue(to)));
}

int draw_scale(int colour, float factor) {
  return gdTrueColor(clamp_channel(float(gdTrueColorGetRed(colour)) * factor),
                     clamp_channel(float(gdTrueColorGetGreen(colour)) * factor),
                     clamp_channel(float(gdTrueColorGetBlue(colour)) * factor));
}

void draw_text_blocks(gdImagePtr im, int x, int y, const char *text, int scale, int colour) {
  const gdFontPtr font = gdFontGet4x8();
  for (const char *p = text; *p != '\0'; ++p, x += font->w * scale) {
    const int code = static_cast<unsigned char>(*p);
    if (code < font->offset || code >= font->offset + font->nchars) continue;
    const char *glyph = font->data + (code - font->offset) * font->w * font->h;
    for (int r = 0; r < font->h; ++r)
      for (int k = 0; k < font->w; ++k)
        if (glyph[r * font->w + k] != 0)
          gdImageFilledRectangle(im, x + k * scale, y + r * scale, x + (k + 1) * scale - 1,
                                 y + (r + 1) * scale - 1, colour);
  }
}

int draw_text_blocks_width(const char *text, int scale) {
  const int n = int(std::strlen(text));
  // Glyphs use three of their four columns; the fourth is the gap.
  return n == 0 ? 0 : (n * 4 - 1) * scale;
}

void draw_outlined_ellipse(gdImagePtr im, int cx, int cy, int w, int h, int thickness, int fill,
                           int rim) {
  gdImageFilledEllipse(im, cx, cy, w + 2 * thickness, h + 2 * thickness, rim);
  gdImageFilledEllipse(im, cx, cy, w, h, fill);
}

void draw_outlined_polygon(gdImagePtr im, std::span<const gdPoint> points, int thickness,
                           int fill, int rim) {
  // gd takes a non-const point array but does not write to it.
  std::vector<gdPoint> copy(points.begin(), points.end());
  gdImageFilledPolygon(im, copy.data(), int(copy.size()), fill);
  gdImageSetThickness(im, thickness);
  gdImagePolygon(im, copy.data(), int(copy.size()), rim);
  gdImageSetThickness(im, 1);
}

void draw_thick_line(gdImagePtr im, int x0, int y0, int x1, int y1, int thickness, int colour) {
  gdImageSetThickness(im, thickness);
  gdImageLine(im, x0, y0, x1, y1, colour);
  gdImageSetThickness(im, 1);
}
