// Fades in virtual time against a real loopback server, and the brightness
// normalisation.
#include "opcgd.h"
#include "fades.h"
#include "loopback_opc_server.h"
#include "virtual_time.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

using rgb = std::array<int, 3>;

// A 32x16 picture with bright, dark and middling channels, partly see-through.
image_ptr test_picture() {
  image_ptr im(gdImageCreateTrueColor(32, 16));
  gdImageAlphaBlending(im.get(), 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      gdImageSetPixel(im.get(), x, y, gdTrueColorAlpha(255 - x, 23 + 8 * y, x * y % 256, (x % 3) * 40));
  return im;
}

class Fades : public testing::Test {
protected:
  loopback_opc_server server;
  opc_sink sink = opc_new_sink(server.hostport().c_str());
  std::int64_t started_ns = 0;

  void SetUp() override {
    virtual_time_set_ns(3'000'000'000);
    started_ns = virtual_time_ns();
  }
  double elapsed_ms() const { return double(virtual_time_ns() - started_ns) / 1e6; }

  std::vector<wall_pixels> frames(size_t expected) {
    auto out = received_frames(server, expected);
    EXPECT_GE(out.size(), expected);
    return out;
  }
};

rgb scaled(gdImagePtr im, int p, int level, int divisor) {
  const int c = gdImageGetTrueColorPixel(im, p % 32, p / 32);
  return {gdTrueColorGetRed(c) * level / divisor, gdTrueColorGetGreen(c) * level / divisor,
          gdTrueColorGetBlue(c) * level / divisor};
}

TEST_F(Fades, FadeInOf25StepsSends24FramesFromBlackToTwentyThreeTwentyFourths) {
  auto picture = test_picture();
  fade_in(sink, picture.get(), 25, 40);
  EXPECT_DOUBLE_EQ(elapsed_ms(), 1000.0) << "25 steps of 40 ms";
  const auto got = frames(24);
  ASSERT_EQ(got.size(), 24u);
  for (int level = 0; level < 24; ++level)
    for (int p = 0; p < 512; ++p)
      ASSERT_EQ(got[size_t(level)][size_t(p)], scaled(picture.get(), p, level, 24)) << "frame " << level;
  EXPECT_EQ(got[0][0], (rgb{0, 0, 0}));
  EXPECT_EQ(got[23][0][0], 244) << "255 at 23/24";
}

TEST_F(Fades, FadeOutOf25StepsStartsAtThePictureAndEndsAtOneTwentyFourth) {
  auto picture = test_picture();
  fade_out(sink, picture.get(), 25, 40);
  EXPECT_DOUBLE_EQ(elapsed_ms(), 1000.0);
  const auto got = frames(24);
  ASSERT_EQ(got.size(), 24u);
  for (int i = 0; i < 24; ++i)
    for (int p = 0; p < 512; ++p)
      ASSERT_EQ(got[size_t(i)][size_t(p)], scaled(picture.get(), p, 24 - i, 24)) << "frame " << i;
  EXPECT_EQ(got[23][0], (rgb{10, 0, 0})) << "255 becomes 10 and 23 becomes 0";
}

TEST_F(Fades, OneStepSendsNothingAndTwoStepsSendOneFrame) {
  auto picture = test_picture();
  fade_in(sink, picture.get(), 1, 40);
  fade_out(sink, picture.get(), 1, 40);
  fade_in(sink, picture.get(), 2, 40);
  fade_out(sink, picture.get(), 2, 40);
  const auto got = frames(2);
  ASSERT_EQ(got.size(), 2u);
  for (int p = 0; p < 512; ++p) {
    EXPECT_EQ(got[0][size_t(p)], (rgb{0, 0, 0}));
    EXPECT_EQ(got[1][size_t(p)], scaled(picture.get(), p, 1, 1));
  }
}

TEST_F(Fades, HundredStepFadeOutLastsFourSeconds) {
  auto picture = test_picture();
  fade_out(sink, picture.get(), 100, 40);
  EXPECT_DOUBLE_EQ(elapsed_ms(), 4000.0);
  EXPECT_EQ(frames(99).size(), 99u);
}

TEST_F(Fades, PalettePictureFadesThroughItsTrueColours) {
  image_ptr picture(gdImageCreate(32, 16));
  gdImageColorAllocate(picture.get(), 0, 0, 96);
  const int gold = gdImageColorAllocate(picture.get(), 240, 200, 48);
  gdImageFilledRectangle(picture.get(), 4, 4, 10, 10, gold);
  fade_out(sink, picture.get(), 3, 40);
  const auto got = frames(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0][32 * 5 + 5], (rgb{240, 200, 48}));
  EXPECT_EQ(got[0][0], (rgb{0, 0, 96}));
  EXPECT_EQ(got[1][32 * 5 + 5], (rgb{120, 100, 24}));
}

u32 pixel_at(gdImagePtr im, int x, int y) { return u32(gdImageGetPixel(im, x, y)); }

TEST(ImageNormalize, BrightestPixelReachesFullValueKeepingHue) {
  image_ptr im(gdImageCreateTrueColor(4, 2));
  gdImageSetPixel(im.get(), 0, 0, gdTrueColor(128, 64, 0));
  gdImageSetPixel(im.get(), 1, 0, gdTrueColor(64, 32, 0));
  gdImageSetPixel(im.get(), 2, 0, gdTrueColor(2, 2, 2));
  image_normalize(im.get());
  EXPECT_EQ(pixel_at(im.get(), 0, 0), 0xff7f00u);
  EXPECT_EQ(pixel_at(im.get(), 1, 0), 0x7f3f00u);
  EXPECT_EQ(pixel_at(im.get(), 2, 0), 0x020202u) << "value 0.0078 is left alone";
  EXPECT_EQ(pixel_at(im.get(), 3, 1), 0u);
}

TEST(ImageNormalize, DarkOrBlackPicturesAreLeftExactlyAsTheyAre) {
  image_ptr black(gdImageCreateTrueColor(32, 16));
  image_normalize(black.get());
  for (int p = 0; p < 512; ++p)
    EXPECT_EQ(pixel_at(black.get(), p % 32, p / 32), 0u);

  image_ptr dim(gdImageCreateTrueColor(32, 16));
  gdImageAlphaBlending(dim.get(), 0);
  gdImageSetPixel(dim.get(), 3, 3, gdTrueColorAlpha(2, 1, 0, 50));
  gdImageSetPixel(dim.get(), 4, 3, gdTrueColor(0, 0, 2));
  image_normalize(dim.get());
  EXPECT_EQ(pixel_at(dim.get(), 3, 3), u32(gdTrueColorAlpha(2, 1, 0, 50)));
  EXPECT_EQ(pixel_at(dim.get(), 4, 3), 2u);
}

TEST(ImageNormalize, SomePeaksEndOneStepShortOfFull) {
  const int short_of_full[] = {7, 14, 28, 56, 63, 103, 109, 112, 123, 126};
  for (int peak : short_of_full) {
    image_ptr im(gdImageCreateTrueColor(2, 1));
    gdImageSetPixel(im.get(), 0, 0, gdTrueColor(peak, 0, 0));
    image_normalize(im.get());
    EXPECT_EQ(pixel_at(im.get(), 0, 0), 0xfe0000u) << "peak " << peak;
  }
  for (int peak : {4, 64, 128, 200, 255}) {
    image_ptr im(gdImageCreateTrueColor(2, 1));
    gdImageSetPixel(im.get(), 0, 0, gdTrueColor(0, peak, 0));
    image_normalize(im.get());
    EXPECT_EQ(pixel_at(im.get(), 0, 0), 0x00ff00u) << "peak " << peak;
  }
}

TEST(ImageNormalize, AlphaOfChangedPixelsBecomesOpaque) {
  image_ptr im(gdImageCreateTrueColor(2, 1));
  gdImageAlphaBlending(im.get(), 0);
  gdImageSetPixel(im.get(), 0, 0, gdTrueColorAlpha(100, 50, 25, 90));
  image_normalize(im.get());
  EXPECT_EQ(pixel_at(im.get(), 0, 0) >> 24, 0u);
  EXPECT_EQ(pixel_at(im.get(), 0, 0) >> 16 & 0xff, 255u);
}

} // namespace
