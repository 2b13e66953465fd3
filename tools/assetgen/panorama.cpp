// The long landscape. The wall shows it 232 rows onto 16, so one LED is about
// 14.5 picture pixels: every feature is built from 29-pixel blocks (two LEDs)
// placed on that row grid, with colours far enough apart to survive the
// averaging.
#include "draw_util.h"
#include "pictures.h"

#include <array>

namespace {

constexpr int kWidth = 3392;
constexpr int kHeight = 232;
constexpr int kBlock = 29;
constexpr int kGround = 189;  // 13 LED rows of sky, 3 of ground

enum colour : int {
  sky, haze, white, cloud_shade, hill_far, leaf_dark, leaf_light, clay, clay_dark,
  pink, pink_dark, gold, ink
};

constexpr std::array<draw_rgb_s, 13> kPalette{{
    {52, 104, 228},   // sky
    {118, 176, 250},  // haze near the horizon
    {250, 250, 246},  // white
    {176, 190, 240},  // cloud shade
    {40, 126, 150},   // far hills
    {28, 140, 64},    // bushes, near hills
    {132, 222, 70},   // grass, leaf highlights
    {226, 128, 58},   // clay bricks
    {120, 52, 34},    // clay mortar, deep earth
    {232, 84, 170},   // pipes
    {120, 26, 96},    // pipe shading
    {252, 206, 44},   // bonus blocks, flag
    {22, 14, 40},     // ink
}};

int row(int n) { return n * kBlock / 2; }  // top of LED row n, rounded down

void sky_band(gdImagePtr im) {
  gdImageFilledRectangle(im, 0, 0, kWidth - 1, kGround - 1, sky);
  // A checker of one LED row between the two blues softens the step.
  const int top = row(7), bottom = row(8) - 1;
  for (int y = top; y <= bottom; ++y)
    for (int x = 0; x < kWidth; ++x)
      if ((x + y) % 2 == 0) gdImageSetPixel(im, x, y, haze);
  gdImageFilledRectangle(im, 0, row(8), kWidth - 1, kGround - 1, haze);
}

void cloud(gdImagePtr im, int x, int y, int size) {
  // Shade ellipses first, the white ones a little higher: the underside stays lavender.
  const int puffs[4][3] = {{0, 10, 60}, {34, 0, 74}, {72, 8, 64}, {100, 16, 44}};
  for (const auto &p : puffs)
    gdImageFilledEllipse(im, x + p[0] * size / 10, y + p[1] * size / 10 + 8,
                         p[2] * size / 10, p[2] * size / 14, cloud_shade);
  for (const auto &p : puffs)
    gdImageFilledEllipse(im, x + p[0] * size / 10, y + p[1] * size / 10,
                         p[2] * size / 10, p[2] * size / 14, white);
}

void hill(gdImagePtr im, int x, int width, int height) {
  gdImageFilledEllipse(im, x, kGround, width, 2 * height, hill_far);
  // Rows of darker dots across the slope, as terraces.
  for (int y = kGround - height + 14; y < kGround - 6; y += 22)
    for (int dx = -width / 2; dx < width / 2; dx += 26) {
      const int px = x + dx + (y / 22 % 2) * 13;
      if (gdImageGetPixel(im, px, y) == hill_far && gdImageGetPixel(im, px, y - 8) == hill_far)
        gdImageFilledRectangle(im, px - 3, y - 3, px + 3, y + 3, leaf_dark);
    }
}

void bush(gdImagePtr im, int x, int width) {
  for (int i = 0; i < width / 30; ++i) {
    const int cx = x + i * 30 + 15;
    gdImageFilledEllipse(im, cx, kGround - 10, 44, 44, leaf_dark);
  }
  for (int i = 0; i < width / 30; ++i)
    gdImageFilledEllipse(im, x + i * 30 + 10, kGround - 18, 12, 10, leaf_light);
}

void brick_block(gdImagePtr im, int x, int y) {
  gdImageFilledRectangle(im, x, y, x + kBlock - 1, y + kBlock - 1, clay);
  gdImageRectangle(im, x, y, x + kBlock - 1, y + kBlock - 1, clay_dark);
  gdImageFilledRectangle(im, x, y + 13, x + kBlock - 1, y + 15, clay_dark);
  gdImageFilledRectangle(im, x + 13, y, x + 15, y + 13, clay_dark);
}

void bonus_block(gdImagePtr im, int x, int y) {
  gdImageFilledRectangle(im, x, y, x + kBlock - 1, y + kBlock - 1, ink);
  gdImageFilledRectangle(im, x + 2, y + 2, x + kBlock - 3, y + kBlock - 3, gold);
  // A diamond rather than a glyph: it stays a dark centre on the wall.
  gdPoint diamond[4] = {{x + 14, y + 6}, {x + 22, y + 14}, {x + 14, y + 22}, {x + 6, y + 14}};
  gdImageFilledPolygon(im, diamond, 4, clay_dark);
}

// Darker than the bricks, so stairs and pyramids stand off the clay ground.
void stone_block(gdImagePtr im, int x, int y) {
  gdImageFilledRectangle(im, x, y, x + kBlock - 1, y + kBlock - 1, clay_dark);
  gdImageFilledRectangle(im, x + 2, y + 2, x + kBlock - 3, y + 6, clay);
  gdImageFilledRectangle(im, x + 2, y + 2, x + 6, y + kBlock - 3, clay);
  gdImageFilledRectangle(im, x + 2, y + kBlock - 3, x + kBlock - 1, y + kBlock - 1, ink);
}

// A row of floating blocks on LED row pair n; pattern letters: b brick, o bonus.
void block_row(gdImagePtr im, int x, int n, const char *pattern) {
  for (int i = 0; pattern[i] != '\0'; ++i) {
    const int bx = x + i * kBlock, by = row(n);
    if (pattern[i] == 'b') brick_block(im, bx, by);
    if (pattern[i] == 'o') bonus_block(im, bx, by);
  }
}

void pipe_column(gdImagePtr im, int x, int blocks) {
  const int top = kGround - blocks * kBlock;
  gdImageFilledRectangle(im, x + 4, top + 20, x + 47, kGround - 1, pink_dark);
  gdImageFilledRectangle(im, x + 8, top + 20, x + 30, kGround - 1, pink);
  // Rings down the body instead of a plain shaft.
  for (int y = top + 34; y < kGround - 6; y += 22)
    gdImageFilledRectangle(im, x + 4, y, x + 47, y + 4, pink_dark);
  gdImageFilledRectangle(im, x - 4, top, x + 55, top + 19, pink_dark);
  gdImageFilledRectangle(im, x, top + 3, x + 38, top + 15, pink);
  gdImageFilledRectangle(im, x + 4, top + 5, x + 12, top + 9, white);
}

// Steps of stone blocks rising to the right (rising > 0) or falling.
void stairs(gdImagePtr im, int x, int steps, bool rising) {
  for (int s = 0; s < steps; ++s) {
    const int h = rising ? s + 1 : steps - s;
    for (int k = 0; k < h; ++k) stone_block(im, x + s * kBlock, kGround - (k + 1) * kBlock);
  }
}

void pyramid(gdImagePtr im, int x, int steps) {
  stairs(im, x, steps, true);
  stairs(im, x + steps * kBlock, steps, false);
}

void ground(gdImagePtr im, std::span<const std::array<int, 2>> pits) {
  gdImageFilledRectangle(im, 0, kGround, kWidth - 1, kHeight - 1, clay);
  for (int y = kGround + 14; y < kHeight; y += 15)
    gdImageLine(im, 0, y, kWidth - 1, y, clay_dark);
  for (int y = kGround; y < kHeight; y += 15)
    for (int x = (y / 15 % 2) * 15; x < kWidth; x += 30)
      gdImageLine(im, x, y, x, y + 14, clay_dark);
  // The grass fills one LED row, so the wall shows a green line above the clay.
  gdImageFilledRectangle(im, 0, kGround, kWidth - 1, row(14) - 1, leaf_light);
  for (int x = 0; x < kWidth; x += 12) gdImageFilledRectangle(im, x, row(14) - 3, x + 5, row(14) - 1, leaf_dark);
  for (const auto &p : pits) gdImageFilledRectangle(im, p[0], kGround, p[1], kHeight - 1, ink);
}

void flagpole(gdImagePtr im, int x) {
  stone_block(im, x - 14, kGround - kBlock);
  // About one LED wide, so the pole stays a bright column when shrunk.
  gdImageFilledRectangle(im, x - 7, row(2), x + 7, kGround - kBlock - 1, ink);
  gdImageFilledRectangle(im, x - 5, row(2), x + 5, kGround - kBlock - 1, white);
  gdImageFilledEllipse(im, x, row(2) - 8, 26, 26, ink);
  gdImageFilledEllipse(im, x, row(2) - 8, 20, 20, gold);
  gdPoint flag[3] = {{x - 7, row(3)}, {x - 80, row(4) + 7}, {x - 7, row(6)}};
  gdImageFilledPolygon(im, flag, 3, gold);
  gdImageFilledEllipse(im, x - 30, row(4) + 7, 18, 18, pink);
}

// Bricks in a running bond, one course per half block.
void brick_wall(gdImagePtr im, int x0, int y0, int x1, int y1) {
  gdImageFilledRectangle(im, x0, y0, x1, y1, clay);
  for (int y = y0 + 14; y <= y1; y += 15) {
    gdImageLine(im, x0, y, x1, y, clay_dark);
    for (int x = x0 + (y / 15 % 2) * 15; x < x1; x += 30) gdImageLine(im, x, y - 14, x, y, clay_dark);
  }
}

void castle_tower(gdImagePtr im, int x) {
  brick_wall(im, x, row(4), x + 57, kGround - 1);
  gdPoint roof[3] = {{x - 8, row(4)}, {x + 28, row(0) + 4}, {x + 65, row(4)}};
  gdImageFilledPolygon(im, roof, 3, pink);
  gdPoint shade[3] = {{x + 28, row(0) + 4}, {x + 65, row(4)}, {x + 34, row(4)}};
  gdImageFilledPolygon(im, shade, 3, pink_dark);
  gdImageFilledRectangle(im, x + 20, row(6), x + 37, row(8) - 1, ink);
}

// A hall between two towers with pointed roofs, the gate in the middle.
void castle(gdImagePtr im, int x) {
  brick_wall(im, x + 58, row(8), x + 173, kGround - 1);
  for (int mx = x + 62; mx + 18 <= x + 173; mx += 29)
    gdImageFilledRectangle(im, mx, row(7), mx + 17, row(8) - 1, clay);
  castle_tower(im, x);
  castle_tower(im, x + 174);
  gdImageFilledRectangle(im, x + 98, row(10) + 6, x + 133, kGround - 1, ink);
  gdImageFilledEllipse(im, x + 115, row(10) + 6, 36, 30, ink);
  gdImageFilledRectangle(im, x + 113, row(2), x + 116, row(7) - 1, ink);
  gdPoint pennant[3] = {{x + 117, row(2)}, {x + 150, row(2) + 9}, {x + 117, row(2) + 18}};
  gdImageFilledPolygon(im, pennant, 3, gold);
}

}  // namespace

gdImagePtr draw_panorama() {
  gdImagePtr im = gdImageCreate(kWidth, kHeight);
  draw_allocate_palette(im, kPalette);
  sky_band(im);

  const int clouds[][3] = {{120, 26, 14}, {560, 52, 10}, {930, 20, 16}, {1380, 44, 12},
                           {1800, 24, 15}, {2250, 50, 11}, {2640, 22, 14}, {3090, 40, 12}};
  for (const auto &c : clouds) cloud(im, c[0], c[1], c[2]);
  const int hills[][3] = {{180, 330, 108}, {760, 240, 72}, {1240, 360, 116}, {1730, 260, 80},
                          {2180, 340, 100}, {2700, 280, 86}, {3260, 300, 70}};
  for (const auto &h : hills) hill(im, h[0], h[1], h[2]);
  const int bushes[][2] = {{330, 120}, {980, 90}, {1560, 150}, {2060, 90}, {2520, 120},
                           {2880, 90}};
  for (const auto &b : bushes) bush(im, b[0], b[1]);

  const std::array<std::array<int, 2>, 2> pits{{{1430, 1488}, {2380, 2466}}};
  ground(im, pits);

  block_row(im, 250, 8, "bobob");
  block_row(im, 309, 4, "o");
  pipe_column(im, 560, 2);
  pipe_column(im, 820, 3);
  block_row(im, 1040, 8, "bbbobbb");
  block_row(im, 1130, 3, "bob");
  pipe_column(im, 1280, 4);
  pyramid(im, 1560, 4);
  block_row(im, 1880, 7, "oo");
  block_row(im, 1990, 4, "bbobb");
  pipe_column(im, 2200, 2);
  block_row(im, 2520, 8, "bob");
  pyramid(im, 2620, 5);
  flagpole(im, 3010);
  castle(im, 3120);
  return im;
}
