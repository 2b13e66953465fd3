// The multi-level image zoom: the chain it builds, the level each zoom uses,
// and the window it cuts out (black beyond the picture).
#include "opcgd.h"
#include "image_zoom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

struct zoom_deleter {
  void operator()(image_zoom_t d) const { image_zoom_done(d); }
};
using zoom_ptr = std::unique_ptr<image_zoom_s, zoom_deleter>;

// A picture whose pixels all differ from their neighbours, so that every
// level of the chain and every window gives a different frame.
image_ptr noise_picture(int w, int h) {
  image_ptr im(gdImageCreateTrueColor(w, h));
  std::uint32_t state = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      state = state * 1103515245u + 12345u;
      gdImageSetPixel(im.get(), x, y, int(state >> 8 & 0xffffff));
    }
  return im;
}

struct level {
  int w, h, scale;
  bool operator==(const level &) const = default;
};

std::vector<level> chain_of(image_zoom_t d) {
  std::vector<level> out;
  for (int i = 0; i < d->listsize; ++i)
    out.push_back({gdImageSX(d->list[i]), gdImageSY(d->list[i]), d->scale[i]});
  return out;
}

bool same_pixels(gdImagePtr a, gdImagePtr b) {
  for (int y = 0; y < gdImageSY(a); ++y)
    for (int x = 0; x < gdImageSX(a); ++x)
      if (gdImageGetPixel(a, x, y) != gdImageGetPixel(b, x, y))
        return false;
  return true;
}

// The frame the zoom should produce from chain level `idx`, worked out here
// from the window's geometry and resampled by the library itself.
image_ptr expected_frame(image_zoom_t d, int idx, int cx, int cy, float zoom) {
  const int dw = gdImageSX(d->im), dh = gdImageSY(d->im);
  const int sizex = int(float(dw) * zoom), sizey = int(float(dh) * zoom);
  const int s = d->scale[idx];
  image_ptr frame(gdImageCreateTrueColor(dw, dh));
  gdImageCopyResampled(frame.get(), d->list[idx], 0, 0, (cx - sizex / 2) / s, (cy - sizey / 2) / s, dw, dh,
                       sizex / s, sizey / s);
  return frame;
}

TEST(ImageZoomChain, CanvasOf2048x1024GivesFiveHalvings) {
  auto canvas = noise_picture(2048, 1024);
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  zoom_ptr zoom(image_zoom_init(frame.get(), canvas.get()));
  EXPECT_EQ(chain_of(zoom.get()), (std::vector<level>{
                                      {2048, 1024, 1}, {1024, 512, 2}, {512, 256, 4}, {256, 128, 8}, {128, 64, 16}}));
  EXPECT_EQ(zoom->im, frame.get());
}

TEST(ImageZoomChain, HeightGovernsWhenItsRatioIsLarger) {
  auto picture = noise_picture(320, 200);
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  zoom_ptr zoom(image_zoom_init(frame.get(), picture.get()));
  EXPECT_EQ(chain_of(zoom.get()), (std::vector<level>{{320, 200, 1}, {160, 100, 2}, {80, 50, 4}}));
}

TEST(ImageZoomChain, SmallSourceGetsASingleLevel) {
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  for (auto [w, h] : {std::pair{64, 32}, std::pair{40, 20}, std::pair{8, 8}}) {
    auto picture = noise_picture(w, h);
    zoom_ptr zoom(image_zoom_init(frame.get(), picture.get()));
    EXPECT_EQ(chain_of(zoom.get()), (std::vector<level>{{w, h, 1}})) << w << "x" << h;
  }
}

TEST(ImageZoomChain, OddSizesHalveDownAndScalesComeFromWidths) {
  auto picture = noise_picture(100, 800);
  image_ptr frame(gdImageCreateTrueColor(8, 8));
  zoom_ptr zoom(image_zoom_init(frame.get(), picture.get()));
  EXPECT_EQ(chain_of(zoom.get()), (std::vector<level>{
                                      {100, 800, 1}, {50, 400, 2}, {25, 200, 4}, {12, 100, 8}, {6, 50, 16}, {3, 25, 33}}));
}

TEST(ImageZoomChain, LevelZeroIsATrueColourCopyOfAPaletteSource) {
  image_ptr picture(gdImageCreate(64, 32));
  gdImageColorAllocate(picture.get(), 0, 0, 0);
  const int teal = gdImageColorAllocate(picture.get(), 0, 128, 128);
  gdImageFilledRectangle(picture.get(), 10, 5, 20, 9, teal);
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  zoom_ptr zoom(image_zoom_init(frame.get(), picture.get()));
  picture.reset(); // the zoom keeps its own copy
  ASSERT_TRUE(gdImageTrueColor(zoom->list[0]));
  EXPECT_EQ(gdImageGetPixel(zoom->list[0], 15, 7), gdTrueColor(0, 128, 128));
  EXPECT_EQ(gdImageGetPixel(zoom->list[0], 0, 0), gdTrueColor(0, 0, 0));
}

class ImageZoomCanvas : public testing::Test {
protected:
  image_ptr frame{gdImageCreateTrueColor(32, 16)};
  zoom_ptr zoom;
  void SetUp() override {
    auto canvas = noise_picture(2048, 1024);
    zoom.reset(image_zoom_init(frame.get(), canvas.get()));
  }

  // Which level the frame for (cx, cy, z) was cut from; -1 when none matches.
  int level_used(int cx, int cy, float z) {
    image_zoom_calc(zoom.get(), cx, cy, z);
    int found = -1;
    for (int i = 0; i < zoom->listsize; ++i)
      if (same_pixels(frame.get(), expected_frame(zoom.get(), i, cx, cy, z).get()))
        found = found == -1 ? i : -2;
    return found;
  }
};

TEST_F(ImageZoomCanvas, ZoomPicksTheLevelAtOrAboveItsThreshold) {
  EXPECT_EQ(level_used(1001, 501, 1.0f), 0);
  EXPECT_EQ(level_used(1001, 501, 1.99f), 0);
  EXPECT_EQ(level_used(1001, 501, 2.0f), 1) << "equality selects the higher level";
  EXPECT_EQ(level_used(1001, 501, 7.99f), 1);
  EXPECT_EQ(level_used(1001, 501, 8.0f), 2);
  EXPECT_EQ(level_used(1001, 501, 32.0f), 3);
  EXPECT_EQ(level_used(1001, 501, 64.0f), 3);
  EXPECT_EQ(level_used(1024, 512, 128.0f), 4);
}

TEST_F(ImageZoomCanvas, WholeCanvasAtZoom64ComesFromLevelThreeEntire) {
  image_zoom_calc(zoom.get(), 1024, 512, 64.0f);
  image_ptr whole(gdImageCreateTrueColor(32, 16));
  gdImageCopyResampled(whole.get(), zoom->list[3], 0, 0, 0, 0, 32, 16, 256, 128);
  EXPECT_TRUE(same_pixels(frame.get(), whole.get()));
}

TEST_F(ImageZoomCanvas, ZoomBelowOneMagnifies) {
  image_zoom_calc(zoom.get(), 300, 200, 0.5f);
  // A 16x8 window spread over 32x16: neighbouring frame pixels pair up.
  EXPECT_TRUE(same_pixels(frame.get(), expected_frame(zoom.get(), 0, 300, 200, 0.5f).get()));
  image_ptr exact(gdImageCreateTrueColor(32, 16));
  gdImageCopyResampled(exact.get(), zoom->list[0], 0, 0, 292, 196, 32, 16, 16, 8);
  EXPECT_TRUE(same_pixels(frame.get(), exact.get()));
}

TEST_F(ImageZoomCanvas, NegativeZoomUsesLevelZeroAndAnUndefinedOneDrawsNothing) {
  EXPECT_EQ(level_used(1000, 500, -4.0f), 0);
  gdImageFilledRectangle(frame.get(), 0, 0, 31, 15, 0x123456);
  image_zoom_calc(zoom.get(), 1000, 500, std::numeric_limits<float>::quiet_NaN());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      EXPECT_EQ(gdImageGetPixel(frame.get(), x, y), 0x123456) << x << "," << y;
}

TEST_F(ImageZoomCanvas, OutsideThePictureIsBlack) {
  // Centre at the left edge: the left half of the window lies outside.
  image_zoom_calc(zoom.get(), 0, 512, 4.0f);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 15; ++x)
      EXPECT_EQ(gdImageGetPixel(frame.get(), x, y), 0) << x << "," << y;
    EXPECT_NE(gdImageGetPixel(frame.get(), 20, y), 0);
  }
  image_zoom_calc(zoom.get(), -5000, 9000, 16.0f);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      EXPECT_EQ(gdImageGetPixel(frame.get(), x, y), 0);
}

} // namespace
