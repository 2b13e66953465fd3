// gdImageCopyMultiply: channel products floored over 256, the source's
// transparent colour, copies onto the same image, reads outside the source,
// palette images, alpha, and the destination's clipping.
#include "opcgd.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using image_ptr = gd_image_ptr;

image_ptr true_colour(int w, int h, int fill) {
  image_ptr im(gdImageCreateTrueColor(w, h));
  gdImageAlphaBlending(im.get(), 0);
  gdImageFilledRectangle(im.get(), 0, 0, w - 1, h - 1, fill);
  gdImageAlphaBlending(im.get(), 1);
  return im;
}

int at(const image_ptr &im, int x, int y) { return gdImageGetPixel(im.get(), x, y); }

TEST(CopyMultiply, WhiteTimesWhiteGives254) {
  const auto src = true_colour(3, 2, gdTrueColor(255, 255, 255));
  const auto dst = true_colour(3, 2, gdTrueColor(255, 255, 255));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(at(dst, x, y), gdTrueColor(254, 254, 254)) << x << ", " << y;
}

TEST(CopyMultiply, ChannelsAreMultipliedAndFlooredOver256) {
  const auto src = true_colour(1, 1, gdTrueColor(200, 100, 50));
  const auto dst = true_colour(1, 1, gdTrueColor(128, 255, 3));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 1, 1);
  // 200 x 128 / 256 = 100; 100 x 255 / 256 = 99.6; 50 x 3 / 256 = 0.59.
  EXPECT_EQ(at(dst, 0, 0), gdTrueColor(100, 99, 0));
}

TEST(CopyMultiply, BlackInEitherImageGivesBlack) {
  const auto black = true_colour(1, 1, gdTrueColor(0, 0, 0));
  const auto dst = true_colour(1, 1, gdTrueColor(200, 150, 100));
  gdImageCopyMultiply(dst.get(), black.get(), 0, 0, 0, 0, 1, 1);
  EXPECT_EQ(at(dst, 0, 0), gdTrueColor(0, 0, 0));

  const auto src = true_colour(1, 1, gdTrueColor(200, 150, 100));
  const auto black_dst = true_colour(1, 1, gdTrueColor(0, 0, 0));
  gdImageCopyMultiply(black_dst.get(), src.get(), 0, 0, 0, 0, 1, 1);
  EXPECT_EQ(at(black_dst, 0, 0), gdTrueColor(0, 0, 0));
}

TEST(CopyMultiply, TransparentSourcePixelLeavesTheDestination) {
  const int key = gdTrueColor(255, 0, 255);
  const auto src = true_colour(2, 1, gdTrueColor(255, 255, 255));
  gdImageSetPixel(src.get(), 0, 0, key);
  gdImageColorTransparent(src.get(), key);
  const auto dst = true_colour(2, 1, gdTrueColor(18, 52, 86));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 2, 1);
  EXPECT_EQ(at(dst, 0, 0), gdTrueColor(18, 52, 86));
  EXPECT_EQ(at(dst, 1, 0), gdTrueColor(17, 51, 85));
}

TEST(CopyMultiply, OntoItselfWritesTheSourceColoursUnchanged) {
  const auto im = true_colour(6, 1, gdTrueColor(255, 255, 255));
  gdImageSetPixel(im.get(), 0, 0, gdTrueColor(200, 100, 50));
  gdImageSetPixel(im.get(), 1, 0, gdTrueColor(10, 20, 30));
  gdImageCopyMultiply(im.get(), im.get(), 4, 0, 0, 0, 2, 1);
  EXPECT_EQ(at(im, 4, 0), gdTrueColor(200, 100, 50));
  EXPECT_EQ(at(im, 5, 0), gdTrueColor(10, 20, 30));
  EXPECT_EQ(at(im, 0, 0), gdTrueColor(200, 100, 50));
  EXPECT_EQ(at(im, 2, 0), gdTrueColor(255, 255, 255));
}

TEST(CopyMultiply, OverlappingCopyOntoItselfSeesItsOwnEarlierWrites) {
  const auto im = true_colour(4, 1, gdTrueColor(255, 255, 255));
  for (int x = 0; x < 4; ++x)
    gdImageSetPixel(im.get(), x, 0, gdTrueColor(10 * x, 0, 0));
  gdImageCopyMultiply(im.get(), im.get(), 1, 0, 0, 0, 3, 1);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(at(im, x, 0), gdTrueColor(0, 0, 0)) << x;
}

TEST(CopyMultiply, SourceRectangleOutsideTheSourceReadsBlack) {
  const auto src = true_colour(2, 2, gdTrueColor(255, 255, 255));
  const auto dst = true_colour(4, 2, gdTrueColor(255, 255, 255));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, -1, 0, 4, 2);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(at(dst, 0, y), gdTrueColor(0, 0, 0));
    EXPECT_EQ(at(dst, 1, y), gdTrueColor(254, 254, 254));
    EXPECT_EQ(at(dst, 2, y), gdTrueColor(254, 254, 254));
    EXPECT_EQ(at(dst, 3, y), gdTrueColor(0, 0, 0));
  }
}

TEST(CopyMultiply, OutsideTheSourceLeavesTheDestinationWhenZeroIsTransparent) {
  const auto src = true_colour(1, 1, gdTrueColor(255, 255, 255));
  gdImageColorTransparent(src.get(), 0);
  const auto dst = true_colour(2, 1, gdTrueColor(40, 80, 120));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 2, 1);
  EXPECT_EQ(at(dst, 0, 0), gdTrueColor(39, 79, 119));
  EXPECT_EQ(at(dst, 1, 0), gdTrueColor(40, 80, 120));
}

TEST(CopyMultiply, PaletteImagesGiveTheirChannelsThroughThePalette) {
  const image_ptr src(gdImageCreate(2, 1));
  gdImageColorAllocate(src.get(), 0, 0, 0);
  const int tint = gdImageColorAllocate(src.get(), 200, 100, 50);
  gdImageSetPixel(src.get(), 0, 0, tint);
  gdImageSetPixel(src.get(), 1, 0, tint);

  const image_ptr dst(gdImageCreate(2, 1));
  const int base = gdImageColorAllocate(dst.get(), 128, 255, 3);
  gdImageSetPixel(dst.get(), 0, 0, base);
  gdImageSetPixel(dst.get(), 1, 0, base);

  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 2, 1);
  for (int x = 0; x < 2; ++x) {
    const int c = gdImageGetPixel(dst.get(), x, 0);
    ASSERT_GE(c, 0);
    ASSERT_LT(c, gdImageColorsTotal(dst.get()));
    EXPECT_EQ(gdImageRed(dst.get(), c), 100) << x;
    EXPECT_EQ(gdImageGreen(dst.get(), c), 99) << x;
    EXPECT_EQ(gdImageBlue(dst.get(), c), 0) << x;
  }
}

TEST(CopyMultiply, PaletteSourceOntoTrueColourDestination) {
  const image_ptr src(gdImageCreate(1, 1));
  gdImageColorAllocate(src.get(), 0, 0, 0);
  const int tint = gdImageColorAllocate(src.get(), 200, 100, 50);
  gdImageSetPixel(src.get(), 0, 0, tint);
  const auto dst = true_colour(1, 1, gdTrueColor(128, 255, 3));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 1, 1);
  EXPECT_EQ(at(dst, 0, 0), gdTrueColor(100, 99, 0));
}

TEST(CopyMultiply, TrueColourSourceOntoPaletteDestination) {
  const auto src = true_colour(1, 1, gdTrueColor(200, 100, 50));
  const image_ptr dst(gdImageCreate(1, 1));
  gdImageColorAllocate(dst.get(), 0, 0, 0);
  const int base = gdImageColorAllocate(dst.get(), 128, 255, 3);
  gdImageSetPixel(dst.get(), 0, 0, base);
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 1, 1);
  const int c = gdImageGetPixel(dst.get(), 0, 0);
  EXPECT_EQ(gdImageRed(dst.get(), c), 100);
  EXPECT_EQ(gdImageGreen(dst.get(), c), 99);
  EXPECT_EQ(gdImageBlue(dst.get(), c), 0);
}

TEST(CopyMultiply, AlphaOfBothImagesIsIgnoredAndTheResultIsOpaque) {
  const auto src = true_colour(1, 1, gdTrueColorAlpha(255, 255, 255, 100));
  const auto dst = true_colour(1, 1, gdTrueColorAlpha(200, 100, 50, 60));
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 1, 1);
  // 255 x 200 / 256 = 199.2, 255 x 100 / 256 = 99.6, 255 x 50 / 256 = 49.8.
  EXPECT_EQ(at(dst, 0, 0), gdTrueColorAlpha(199, 99, 49, 0));

  const auto replacing = true_colour(1, 1, gdTrueColorAlpha(200, 100, 50, 127));
  gdImageAlphaBlending(replacing.get(), 0);
  gdImageCopyMultiply(replacing.get(), src.get(), 0, 0, 0, 0, 1, 1);
  EXPECT_EQ(at(replacing, 0, 0), gdTrueColorAlpha(199, 99, 49, 0));
}

TEST(CopyMultiply, WritesOutsideTheDestinationAreDropped) {
  const auto src = true_colour(4, 4, gdTrueColor(255, 255, 255));
  const auto dst = true_colour(4, 4, gdTrueColor(255, 255, 255));
  gdImageCopyMultiply(dst.get(), src.get(), 2, -1, 0, 0, 4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool covered = x >= 2 && y <= 2;
      EXPECT_EQ(at(dst, x, y), covered ? gdTrueColor(254, 254, 254) : gdTrueColor(255, 255, 255)) << x << ", " << y;
    }
}

TEST(CopyMultiply, DestinationClippingRectangleLimitsTheWrites) {
  const auto src = true_colour(4, 4, gdTrueColor(0, 0, 0));
  const auto dst = true_colour(4, 4, gdTrueColor(255, 255, 255));
  gdImageSetClip(dst.get(), 1, 1, 2, 2);
  gdImageCopyMultiply(dst.get(), src.get(), 0, 0, 0, 0, 4, 4);
  gdImageSetClip(dst.get(), 0, 0, 3, 3);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      EXPECT_EQ(at(dst, x, y), inside ? gdTrueColor(0, 0, 0) : gdTrueColor(255, 255, 255)) << x << ", " << y;
    }
}

} // namespace
