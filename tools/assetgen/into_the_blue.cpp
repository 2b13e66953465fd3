// A figure reaching out of a field of maze-like glyphs. The scene roams the
// whole picture at one to three picture pixels per LED and ends zoomed in on
// the hand, so the glyphs are built from 2-pixel strokes and brighten in rings
// around the fingertips.
#include "draw_util.h"
#include "pictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;
constexpr int kCell = 10;

enum colour : int {
  void_black, navy, deep_blue, blue, bright_blue, ice, deep_violet, violet, orchid, lavender,
  white, skin_shadow, skin, skin_light, hair, sleeve, sleeve_dark
};

constexpr std::array<draw_rgb_s, 17> kPalette{{
    {4, 4, 18}, {12, 16, 58}, {20, 38, 118}, {30, 78, 200}, {70, 138, 252}, {158, 210, 255},
    {46, 12, 88}, {104, 38, 176}, {172, 96, 238}, {228, 188, 255}, {255, 255, 255},
    {156, 66, 92}, {238, 158, 124}, {255, 216, 186}, {58, 16, 48}, {255, 128, 38},
    {168, 48, 34},
}};

// Where the fingertips meet the pattern: the rings and the last close-up centre here.
constexpr int kHandX = 170, kHandY = 76;

// One glyph: a self-avoiding walk of 2-pixel strokes on a 3x3 lattice of nodes
// inside the cell, which reads as a fragment of a maze.
void glyph(gdImagePtr im, int cx, int cy, draw_rng_s &rng, int ink) {
  int i = draw_rng_below(rng, 3), j = draw_rng_below(rng, 3);
  unsigned visited = 1u << (j * 3 + i);
  const int steps = draw_rng_between(rng, 3, 6);
  for (int s = 0; s < steps; ++s) {
    const int dirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    const int start = draw_rng_below(rng, 4);
    for (int k = 0; k < 4; ++k) {
      const int ni = i + dirs[(start + k) % 4][0], nj = j + dirs[(start + k) % 4][1];
      if (ni < 0 || ni > 2 || nj < 0 || nj > 2 || (visited >> (nj * 3 + ni) & 1u) != 0) continue;
      const int x0 = cx + 1 + 4 * std::min(i, ni), y0 = cy + 1 + 4 * std::min(j, nj);
      const int x1 = cx + 2 + 4 * std::max(i, ni), y1 = cy + 2 + 4 * std::max(j, nj);
      gdImageFilledRectangle(im, x0, y0, x1, y1, ink);
      i = ni;
      j = nj;
      visited |= 1u << (j * 3 + i);
      break;
    }
  }
}

// Brightness 0..3 of the glyphs at a cell: rings spreading from the hand,
// fading with distance, plus a little noise so the field does not band.
int glow_tier(int x, int y, u32 noise) {
  const float d = std::hypot(float(x - kHandX), float(y - kHandY));
  const float ring = std::pow(0.5f + 0.5f * std::cos(d * 0.15f), 3.0f);
  const float fall = std::max(0.0f, 1.0f - d / 220.0f);
  const float v = 0.15f + fall * (0.1f + 0.95f * ring) + float(noise % 64) / 320.0f;
  return std::clamp(int(v * 4.0f), 0, 3);
}

void glyph_field(gdImagePtr im, draw_rng_s &rng) {
  gdImageFilledRectangle(im, 0, 0, kWidth - 1, kHeight - 1, void_black);
  const std::array<int, 4> blues{deep_blue, blue, bright_blue, ice};
  const std::array<int, 4> violets{deep_violet, violet, orchid, lavender};
  for (int cy = 0; cy < kHeight; cy += kCell)
    for (int cx = 0; cx < kWidth; cx += kCell) {
      const u32 noise = draw_hash(cx, cy, 17);
      if ((cx / kCell + cy / kCell) % 2 == 0)
        gdImageFilledRectangle(im, cx, cy, cx + kCell - 1, cy + kCell - 1, navy);
      // Violet sweeps in diagonal bands through the blue.
      const float band = std::sin(float(cx) * 0.021f - float(cy) * 0.034f + 0.6f);
      const auto &family = band + float(noise % 100) / 250.0f > 0.55f ? violets : blues;
      const int tier = glow_tier(cx + kCell / 2, cy + kCell / 2, noise >> 8);
      glyph(im, cx, cy, rng, family[size_t(tier)]);
      if (tier == 3 && noise % 7 == 0)
        gdImageFilledRectangle(im, cx + 4, cy + 4, cx + 5, cy + 5, white);
    }
}

struct limb_s {
  gdPoint from, to;
  int width, fill, shade, light;
};

// Limbs are drawn in two passes, all rims first, so that where fingers or arm
// parts meet the dark rim stays between them instead of being painted over.
void limb_rims(gdImagePtr im, std::span<const limb_s> limbs) {
  for (const limb_s &l : limbs)
    draw_thick_line(im, l.from.x, l.from.y, l.to.x, l.to.y, l.width + 4, void_black);
}

void limb_fills(gdImagePtr im, std::span<const limb_s> limbs) {
  for (const limb_s &l : limbs) {
    draw_thick_line(im, l.from.x, l.from.y, l.to.x, l.to.y, l.width, l.shade);
    draw_thick_line(im, l.from.x - 1, l.from.y - 1, l.to.x - 1, l.to.y - 1, l.width - 3, l.fill);
    draw_thick_line(im, l.from.x - 2, l.from.y - 2, l.to.x - 2, l.to.y - 2, 2, l.light);
  }
}

limb_s finger(float degrees, int length, int width) {
  const float a = degrees * std::numbers::pi_v<float> / 180.0f;
  const float dx = std::cos(a), dy = std::sin(a);
  return {{kHandX + int(dx * 6.0f), kHandY + 6 + int(dy * 6.0f)},
          {kHandX + int(dx * float(length)), kHandY + 6 + int(dy * float(length))},
          width, skin, skin_shadow, skin_light};
}

// The open hand fills the last close-up: four fingers fanned up and to the
// right with dark gaps between them, the thumb out to the side.
void arm_and_hand(gdImagePtr im) {
  const gdPoint shoulder{146, 170}, elbow{150, 128}, wrist{kHandX - 6, kHandY + 18};
  const std::array<limb_s, 2> arm{{
      {shoulder, elbow, 26, sleeve, sleeve_dark, skin_light},
      {elbow, wrist, 15, skin, skin_shadow, skin_light},
  }};
  const std::array<limb_s, 5> fingers{{
      finger(-112, 27, 7), finger(-86, 31, 7), finger(-60, 30, 7), finger(-34, 26, 7),
      finger(14, 20, 8),
  }};
  limb_rims(im, arm);
  limb_fills(im, std::span(arm).last(1));
  limb_fills(im, std::span(arm).first(1));
  limb_rims(im, fingers);
  gdImageFilledEllipse(im, kHandX, kHandY + 8, 30, 28, void_black);
  limb_fills(im, fingers);
  gdImageFilledEllipse(im, kHandX, kHandY + 8, 25, 23, skin_shadow);
  gdImageFilledEllipse(im, kHandX - 1, kHandY + 6, 20, 17, skin);
  gdImageFilledEllipse(im, kHandX - 3, kHandY + 3, 8, 6, skin_light);
  // The cuff where the sleeve ends.
  draw_thick_line(im, 137, 138, 163, 130, 7, sleeve_dark);
}

void head(gdImagePtr im) {
  const int cx = 98, cy = 112;
  gdImageFilledEllipse(im, cx, cy, 62, 70, void_black);
  gdImageFilledEllipse(im, cx, cy, 57, 65, skin_shadow);
  gdImageFilledEllipse(im, cx + 4, cy - 3, 49, 57, skin);
  gdImageFilledEllipse(im, cx + 12, cy - 12, 16, 18, skin_light);
  // Hair swept back, away from the light of the hand.
  gdPoint hair_shape[8] = {{cx - 33, cy + 14}, {cx - 32, cy - 20}, {cx - 14, cy - 38},
                           {cx + 12, cy - 38}, {cx + 30, cy - 26}, {cx + 8, cy - 22},
                           {cx - 6, cy - 10}, {cx - 14, cy + 8}};
  draw_outlined_polygon(im, hair_shape, 3, hair, void_black);
  // Ear, eye and brow, the face turned up towards the hand.
  draw_outlined_ellipse(im, cx - 12, cy + 4, 9, 13, 2, skin_shadow, void_black);
  gdImageFilledRectangle(im, cx + 13, cy - 6, cx + 21, cy + 1, void_black);
  gdImageFilledRectangle(im, cx + 17, cy - 6, cx + 19, cy - 4, white);
  draw_thick_line(im, cx + 9, cy - 13, cx + 24, cy - 16, 3, hair);
  draw_thick_line(im, cx + 14, cy + 18, cx + 22, cy + 16, 3, skin_shadow);
  gdImageFilledEllipse(im, cx + 29, cy + 4, 8, 12, skin);
}

void body(gdImagePtr im) {
  gdPoint torso[6] = {{40, 200}, {46, 166}, {72, 146}, {140, 150}, {164, 176}, {168, 200}};
  draw_outlined_polygon(im, torso, 3, sleeve_dark, void_black);
  gdPoint lit[5] = {{58, 200}, {62, 170}, {84, 156}, {138, 158}, {150, 200}};
  gdImageFilledPolygon(im, lit, 5, sleeve);
  gdImageFilledRectangle(im, 84, 140, 112, 152, skin_shadow);
}

// The figure's lower part dissolves back into the pattern: glyph-shaped holes
// grow denser towards the bottom edge.
void dissolve(gdImagePtr im, draw_rng_s &rng) {
  for (int cy = 160; cy < kHeight; cy += kCell)
    for (int cx = 40; cx < 170; cx += kCell)
      if (int(draw_hash(cx, cy, 5) % 40) < cy - 158) glyph(im, cx, cy, rng, violet);
}

bool is_figure(int c) { return c >= skin_shadow; }

// Glyphs near the figure drop to their darkest tier, so the silhouette stays
// clear of the pattern even when the wide zoom averages both into one LED.
void halo(gdImagePtr im, int radius) {
  std::vector<u8> near(size_t(kWidth * kHeight), 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      if (!is_figure(gdImageGetPixel(im, x, y))) continue;
      for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && nx < kWidth && ny >= 0 && ny < kHeight && dx * dx + dy * dy <= radius * radius)
            near[size_t(ny * kWidth + nx)] = 1;
        }
    }
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      if (near[size_t(y * kWidth + x)] == 0) continue;
      const int c = gdImageGetPixel(im, x, y);
      if (c >= blue && c <= ice) gdImageSetPixel(im, x, y, deep_blue);
      if (c >= violet && c <= lavender) gdImageSetPixel(im, x, y, deep_violet);
    }
}

void sparks(gdImagePtr im) {
  const int at[][2] = {{kHandX + 12, kHandY - 30}, {kHandX + 26, kHandY - 18},
                       {kHandX + 30, kHandY - 2},  {kHandX + 4, kHandY - 34},
                       {kHandX + 38, kHandY - 26}, {kHandX + 20, kHandY - 40}};
  for (const auto &p : at) {
    gdImageFilledRectangle(im, p[0] - 1, p[1] - 3, p[0], p[1] + 3, white);
    gdImageFilledRectangle(im, p[0] - 3, p[1] - 1, p[0] + 2, p[1], white);
  }
}

}  // namespace

gdImagePtr draw_into_the_blue() {
  gdImagePtr im = gdImageCreate(kWidth, kHeight);
  draw_allocate_palette(im, kPalette);
  draw_rng_s rng = draw_rng_make(0x1b1e);
  glyph_field(im, rng);
  body(im);
  head(im);
  arm_and_hand(im);
  halo(im, 7);
  dissolve(im, rng);
  sparks(im);
  return im;
}
