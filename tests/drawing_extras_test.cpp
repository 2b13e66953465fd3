// The fast filled ellipse and the integer square root.
#include "opcgd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

// Rows of the image as text: '#' where the pixel has colour `c`.
std::vector<std::string> picture(gdImagePtr im, int c) {
  std::vector<std::string> rows;
  for (int y = 0; y < gdImageSY(im); ++y) {
    std::string row;
    for (int x = 0; x < gdImageSX(im); ++x)
      row += gdImageGetPixel(im, x, y) == c ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

TEST(FilledEllipseFast, EightByEightRowByRow) {
  image_ptr im(gdImageCreateTrueColor(24, 18));
  const int c = 0x123456;
  gdImageFilledEllipseFast(im.get(), 11, 8, 8, 8, c);
  const auto rows = picture(im.get(), c);
  const std::string row_4 = ".........#####..........";  // columns 9 to 13
  const std::string row_5 = "........#######.........";  // 8 to 14
  const std::string row_6 = ".......#########........";  // 7 to 15
  const std::string blank(24, '.');
  for (int y = 0; y < 18; ++y) {
    const std::string &expected = (y == 4 || y == 12) ? row_4 : (y == 5 || y == 11) ? row_5
                                                      : (y >= 6 && y <= 10)          ? row_6
                                                                                     : blank;
    EXPECT_EQ(rows[size_t(y)], expected) << "row " << y;
  }
}

TEST(FilledEllipseFast, DegenerateSizesDrawAPointOrTheMiddleRow) {
  for (int w : {0, 1}) {
    image_ptr im(gdImageCreateTrueColor(9, 9));
    gdImageFilledEllipseFast(im.get(), 4, 4, w, 6, 0xffffff);
    const auto rows = picture(im.get(), 0xffffff);
    for (int y = 0; y < 9; ++y)
      EXPECT_EQ(rows[size_t(y)], y == 4 ? "....#...." : ".........") << "w " << w << " row " << y;
  }
  for (int h : {0, 1}) {
    image_ptr im(gdImageCreateTrueColor(9, 9));
    gdImageFilledEllipseFast(im.get(), 4, 4, 6, h, 0xffffff);
    const auto rows = picture(im.get(), 0xffffff);
    for (int y = 0; y < 9; ++y)
      EXPECT_EQ(rows[size_t(y)], y == 4 ? ".#######." : ".........") << "h " << h << " row " << y;
  }
}

TEST(FilledEllipseFast, StoresTheColourAsGivenWithoutBlending) {
  image_ptr im(gdImageCreateTrueColor(16, 16));
  gdImageFilledRectangle(im.get(), 0, 0, 15, 15, 0x00ff00);
  const int half_transparent = 0x40a01020;
  gdImageFilledEllipseFast(im.get(), 8, 8, 6, 6, half_transparent);
  EXPECT_EQ(im->tpixels[8][8], half_transparent);
  EXPECT_EQ(im->tpixels[0][0], 0x00ff00);
}

TEST(FilledEllipseFast, PaletteImageReceivesTheIndex) {
  image_ptr im(gdImageCreate(16, 16));
  gdImageColorAllocate(im.get(), 0, 0, 0);
  gdImageColorAllocate(im.get(), 0, 0, 200);
  gdImageFilledEllipseFast(im.get(), 8, 8, 6, 4, 0x101); // low 8 bits: index 1
  EXPECT_EQ(im->pixels[8][8], 1);
  EXPECT_EQ(im->pixels[8][11], 1);
  EXPECT_EQ(im->pixels[0][0], 0);
}

// An ellipse drawn across an edge gives exactly the pixels of the same ellipse
// drawn on a larger canvas, cut to the small image; nothing lands outside.
TEST(FilledEllipseFast, ClipsAtEveryEdge) {
  const int w = 20, h = 12, margin = 40;
  const struct {
    int mx, my, ew, eh;
  } cases[] = {{0, 6, 14, 8}, {19, 6, 14, 8}, {10, 0, 12, 10}, {10, 11, 12, 10}, {-3, -2, 16, 12},
               {-3, -1, 16, 12}, // the first row pair lies on rows 0 and -2
               {23, 14, 16, 12}, {10, 6, 60, 40}, {-30, 6, 8, 8}, {10, 40, 8, 8}};
  for (const auto &e : cases) {
    image_ptr small(gdImageCreateTrueColor(w, h));
    image_ptr large(gdImageCreateTrueColor(w + 2 * margin, h + 2 * margin));
    gdImageFilledEllipseFast(small.get(), e.mx, e.my, e.ew, e.eh, 0xffffff);
    gdImageFilledEllipseFast(large.get(), e.mx + margin, e.my + margin, e.ew, e.eh, 0xffffff);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(gdImageGetPixel(small.get(), x, y), gdImageGetPixel(large.get(), x + margin, y + margin))
            << "ellipse at " << e.mx << "," << e.my << " pixel " << x << "," << y;
  }
}

// The scan's error terms grow with the cube of the half axes: an ellipse
// thousands of pixels across still covers the small image around its centre
// and leaves the corners beyond its curve alone.
TEST(FilledEllipseFast, EllipsesFarLargerThanTheImageStayExact) {
  image_ptr im(gdImageCreateTrueColor(20, 12));
  gdImageFilledEllipseFast(im.get(), 10, 6, 4000, 3000, 0xffffff);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(gdImageGetPixel(im.get(), x, y), 0xffffff) << x << "," << y;
  // Centred on a corner of the ellipse's bounding box: the corner lies outside it.
  image_ptr corner(gdImageCreateTrueColor(20, 12));
  gdImageFilledEllipseFast(corner.get(), 2010, 1506, 4000, 3000, 0xffffff);
  EXPECT_EQ(gdImageGetPixel(corner.get(), 10, 6), 0);
  gdImageFilledEllipseFast(corner.get(), 2010, 6, 4000, 3000, 0xffffff); // left end of the middle row at 10
  EXPECT_EQ(gdImageGetPixel(corner.get(), 10, 6), 0xffffff);
  EXPECT_EQ(gdImageGetPixel(corner.get(), 9, 6), 0);
}

TEST(Isqrt, ListedValues) {
  EXPECT_EQ(isqrt(0), 0u);
  for (u32 x : {1u, 2u, 3u})
    EXPECT_EQ(isqrt(x), 1u);
  for (u32 x = 4; x <= 8; ++x)
    EXPECT_EQ(isqrt(x), 2u);
  EXPECT_EQ(isqrt(9), 3u);
  EXPECT_EQ(isqrt(16), 4u);
  EXPECT_EQ(isqrt(0xFFFFFFFFu), 65535u);
}

u32 floor_sqrt(u32 x) {
  std::uint64_t r = std::uint64_t(std::sqrt(double(x)));
  while (r * r > x)
    --r;
  while ((r + 1) * (r + 1) <= x)
    ++r;
  return u32(r);
}

TEST(Isqrt, AgreesWithTheFloorOfTheSquareRoot) {
  // Both sides of every perfect square, then a spread over the whole range.
  for (std::uint64_t k = 1; k <= 65535; ++k) {
    const u32 square = u32(k * k);
    ASSERT_EQ(isqrt(square), u32(k));
    ASSERT_EQ(isqrt(square - 1), u32(k - 1));
  }
  for (std::uint64_t x = 0; x <= 0xFFFFFFFFu; x += 65521)
    ASSERT_EQ(isqrt(u32(x)), floor_sqrt(u32(x))) << x;
}

} // namespace
