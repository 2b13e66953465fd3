// Colour conversion between libgd true-colour values and HSV.
#include "hsv.h"

#include <gtest/gtest.h>

namespace {

u32 rgb(u32 r, u32 g, u32 b) { return r << 16 | g << 8 | b; }

hsv_t to_hsv(u32 colour) {
  hsv_t hsv{-1, -1, -1};
  rgb_to_hsv(&hsv, colour);
  return hsv;
}

u32 to_rgb(float h, float s, float v) {
  const hsv_t hsv{h, s, v};
  return hsv_to_rgb(&hsv);
}

TEST(RgbToHsv, BlackWhiteAndGreysHaveNoHueOrSaturation) {
  const hsv_t black = to_hsv(0);
  EXPECT_EQ(black.h, 0.0f);
  EXPECT_EQ(black.s, 0.0f);
  EXPECT_EQ(black.v, 0.0f);
  const hsv_t white = to_hsv(rgb(255, 255, 255));
  EXPECT_EQ(white.h, 0.0f);
  EXPECT_EQ(white.s, 0.0f);
  EXPECT_EQ(white.v, 1.0f);
  for (u32 c : {1u, 77u, 128u, 254u}) {
    const hsv_t grey = to_hsv(rgb(c, c, c));
    EXPECT_EQ(grey.h, 0.0f);
    EXPECT_EQ(grey.s, 0.0f);
    EXPECT_FLOAT_EQ(grey.v, float(c) / 255.0f);
  }
}

TEST(RgbToHsv, PrimariesAndMagentaLikeHues) {
  EXPECT_FLOAT_EQ(to_hsv(rgb(255, 0, 0)).h, 0.0f);
  EXPECT_FLOAT_EQ(to_hsv(rgb(0, 255, 0)).h, 1.0f / 3.0f);
  EXPECT_FLOAT_EQ(to_hsv(rgb(0, 0, 255)).h, 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(to_hsv(rgb(255, 255, 0)).h, 1.0f / 6.0f);
  const hsv_t magentaish = to_hsv(rgb(200, 10, 200));
  EXPECT_GE(magentaish.h, 5.0f / 6.0f - 1e-6f);
  EXPECT_LT(magentaish.h, 1.0f);
  const hsv_t reddish_magenta = to_hsv(rgb(200, 10, 150));
  EXPECT_GT(reddish_magenta.h, 5.0f / 6.0f);
  EXPECT_LT(reddish_magenta.h, 1.0f);
  EXPECT_FLOAT_EQ(reddish_magenta.s, 190.0f / 200.0f);
}

TEST(RgbToHsv, AlphaBitsAreIgnored) {
  const hsv_t opaque = to_hsv(rgb(10, 200, 90));
  const hsv_t see_through = to_hsv(0x7f000000u | rgb(10, 200, 90));
  EXPECT_EQ(opaque.h, see_through.h);
  EXPECT_EQ(opaque.s, see_through.s);
  EXPECT_EQ(opaque.v, see_through.v);
}

TEST(HsvToRgb, PrimariesGreysAndOpaqueResult) {
  EXPECT_EQ(to_rgb(0, 1, 1), rgb(255, 0, 0));
  EXPECT_EQ(to_rgb(1.0f / 3.0f, 1, 1), rgb(0, 255, 0));
  EXPECT_EQ(to_rgb(2.0f / 3.0f, 1, 1), rgb(0, 0, 255));
  for (float h : {0.0f, 0.1f, 0.5f, 0.9f, 3.7f})
    EXPECT_EQ(to_rgb(h, 0, 0.5f), rgb(127, 127, 127)) << "hue " << h;
}

TEST(HsvToRgb, ChannelsAreTruncatedNotRounded) {
  EXPECT_EQ(to_rgb(0, 1, 0.999f), rgb(254, 0, 0));
  EXPECT_EQ(to_rgb(0, 0, 0.999f), rgb(254, 254, 254));
}

TEST(HsvToRgb, HueWrapsWithPeriodOne) {
  EXPECT_EQ(to_rgb(0.25f, 1, 1), rgb(127, 255, 0));
  EXPECT_EQ(to_rgb(1.25f, 1, 1), rgb(127, 255, 0));
  EXPECT_EQ(to_rgb(2.0f / 3.0f + 1.0f, 1, 1), to_rgb(2.0f / 3.0f, 1, 1));
}

// Every colour there is: the way back never brightens a channel and loses at
// most one step of any channel to truncation.
TEST(HsvRoundTrip, NeverRaisesAndLowersByAtMostOneOverAllColours) {
  int lowered = 0;
  for (u32 colour = 0; colour < (1u << 24); ++colour) {
    hsv_t hsv;
    rgb_to_hsv(&hsv, colour);
    const u32 back = hsv_to_rgb(&hsv);
    ASSERT_EQ(back >> 24, 0u);
    for (int shift : {16, 8, 0}) {
      const int before = int(colour >> shift & 0xff), after = int(back >> shift & 0xff);
      ASSERT_LE(after, before) << std::hex << colour;
      ASSERT_GE(after, before - 1) << std::hex << colour;
      lowered += after < before;
    }
  }
  EXPECT_GT(lowered, 0) << "truncation loses a step somewhere";
}

} // namespace
