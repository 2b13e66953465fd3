// The opening scenes in virtual time: title, present, logo and panorama, with
// the real embedded pictures and soundtrack, frames captured on loopback.
#include "opcgd.h"
#include "assets.h"
#include "fades.h"
#include "gdfont4x8.h"
#include "hsv.h"
#include "image_linear.h"
#include "logo.h"
#include "present.h"
#include "scene_harness.h"
#include "scene_math.h"
#include "show_timeline.h"
#include "title_zoom.h"
#include "virtual_player.h"
#include "virtual_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>

namespace {

using image_ptr = gd_image_ptr;

// The normalised whole-canvas picture, worked out here from a zoom of our own.
image_ptr whole_canvas() {
  image_ptr frame(gdImageCreateTrueColor(32, 16));
  image_ptr canvas(gdImageCreateFromPngPtr(int(PNG_VORN_GREETINGS_SIZE), const_cast<unsigned char *>(PNG_VORN_GREETINGS)));
  const image_zoom_t zoom = image_zoom_init(frame.get(), canvas.get());
  image_zoom_calc(zoom, 1024, 512, 64.0f);
  image_normalize(frame.get());
  image_zoom_done(zoom);
  return frame;
}

// The frames a title holding until `end_ms` sends after its fade: the
// position is tested before every frame, the first frame goes out two
// periods after playback starts and the rest one period apart; the position
// is the number of 2048-frame blocks written by then.
int expected_hold_frames(int end_ms) {
  const auto position_ms = [](double t_ms) {
    const long blocks = long(t_ms * 44.1) / 2048 + 1;
    return long(blocks * 2048) * 1000 / 44100;
  };
  int frames = 0;
  for (double t = 0; position_ms(t) < end_ms; t = t == 0 ? 80 : t + 40)
    ++frames;
  return frames;
}

class OpeningScenes : public testing::Test {
protected:
  scene_harness h;
  image_zoom_t zoom = vorn_zoom_init();
  void TearDown() override { vorn_zoom_done(zoom); }
};

TEST_F(OpeningScenes, TitleFadesInBeforeTheMusicThenHoldsUntilItsCue) {
  constexpr int cue = show_cue_ms("title"), fade = PLAYBACK_STARTS_AFTER_FRAMES;
  const std::int64_t before = virtual_time_ns();
  vorn_title(h.sink, zoom, h.alsa, cue);
  // The fade's first frame goes out two periods after the scene starts, the
  // others a period apart; playback starts right after the last.
  EXPECT_EQ(virtual_player_started_ns() - before, (fade + 1) * 40'000'000LL) << "playback starts after the fade-in";

  const int hold = expected_hold_frames(cue);
  EXPECT_NEAR(hold, cue / 40, 2);
  const auto frames = h.frames(size_t(fade + hold));
  ASSERT_EQ(frames.size(), size_t(fade + hold));
  EXPECT_TRUE(all_black(frames[0]));
  const auto canvas = pixels_of(whole_canvas().get());
  for (int p = 0; p < 512; ++p)
    for (int c = 0; c < 3; ++c)
      ASSERT_EQ(frames[fade - 1][size_t(p)][size_t(c)], canvas[size_t(p)][size_t(c)] * (fade - 1) / fade);
  for (int i = fade; i < fade + hold; ++i)
    ASSERT_EQ(frames[size_t(i)], canvas) << "hold frame " << i;
  EXPECT_GE(alsaplay_pos_time(h.alsa), cue);
  EXPECT_EQ(pixels_of(vorn_zoom_frame()), canvas) << "the shared frame keeps the normalised canvas";
}

TEST_F(OpeningScenes, TitleWhoseCueIsReachedAtOnceSendsOnlyTheFade) {
  vorn_title(h.sink, zoom, h.alsa, 40); // the first block already plays 46 ms
  EXPECT_EQ(h.frames(PLAYBACK_STARTS_AFTER_FRAMES).size(), std::size_t(PLAYBACK_STARTS_AFTER_FRAMES));
}

TEST_F(OpeningScenes, PresentSlidesTheWordAlongItsDippingPath) {
  image_zoom_calc(zoom, 1024, 512, 64.0f);
  image_normalize(vorn_zoom_frame());
  const auto background = pixels_of(vorn_zoom_frame());
  const int top[] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 8, 8,
                     8, 8, 8, 7, 7, 6, 6, 6, 5, 5, 5, 4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  static_assert(std::size(top) == PRESENT_FRAMES, "the word's height on each frame");
  image_ptr word(gdImageCreateTrueColor(28, 8));
  gdImageString(word.get(), gdFontGet4x8(), 0, 0, reinterpret_cast<unsigned char *>(const_cast<char *>("PRESENT")),
                0xF5DEB3);

  const std::int64_t start = virtual_time_ns();
  present_draw(h.sink);
  EXPECT_EQ(virtual_time_ns() - start, (80 + (PRESENT_FRAMES - 1) * 40) * 1'000'000LL);
  const auto frames = h.frames(PRESENT_FRAMES);
  ASSERT_EQ(frames.size(), std::size_t(PRESENT_FRAMES));
  for (int i = 0; i < PRESENT_FRAMES; ++i) {
    wall_pixels expected = background;
    for (int ty = 0; ty < 8; ++ty)
      for (int tx = 0; tx < 28; ++tx) {
        const int x = 32 - i + tx, y = top[i] + ty;
        if (gdImageGetPixel(word.get(), tx, ty) != 0 && x >= 0 && x < 32 && y < 16)
          expected[size_t(32 * y + x)] = {0xF5, 0xDE, 0xB3};
      }
    ASSERT_EQ(frames[size_t(i)], expected) << "frame " << i;
  }
  EXPECT_EQ(frames[0], background) << "the word starts beyond the right edge";
  EXPECT_EQ(pixels_of(vorn_zoom_frame()), background) << "the shared frame is only read";
}

int logo_entry(int n) {
  std::int16_t v;
  std::memcpy(&v, LOGO_DRAW + 2 * n, 2);
  return v;
}

TEST_F(OpeningScenes, LogoDrawsInWritingOrderHoldsAndCollapses) {
  logo_draw(h.sink);
  const auto frames = h.frames(LOGO_FRAMES);
  ASSERT_EQ(frames.size(), std::size_t(LOGO_FRAMES));
  EXPECT_TRUE(all_black(frames[0]));

  // Entry n first appears in frame n + 1, at a twenty-fourth of full value.
  for (int n : {0, 1, 2, 30, 60, 174}) {
    const int p = logo_entry(n);
    ASSERT_GE(p, 0) << "entry " << n;
    EXPECT_EQ(frames[size_t(n)][size_t(p)], BLACK) << "entry " << n << " before its frame";
    float hue = phase_add(float(n + 1) / 175.0f, -0.08);
    if (hue < 0)
      hue += 1.0f;
    const hsv_t glow{hue, 1.0f, 1.0f / 24.0f};
    const u32 c = hsv_to_rgb(&glow);
    EXPECT_EQ(frames[size_t(n + 1)][size_t(p)], (std::array<int, 3>{int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)}))
        << "entry " << n;
  }
  for (int i = 199; i < 224; ++i)
    EXPECT_EQ(frames[size_t(i)], frames[198]) << "hold frame " << i;

  const int heights[25] = {16, 15, 15, 15, 15, 15, 14, 14, 14, 13, 13, 12, 11, 11, 10, 9, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(frames[224], frames[198]) << "the collapse starts from the held logo";
  for (int k = 0; k < 25; ++k) {
    const auto &f = frames[size_t(224 + k)];
    bool lit_inside = false;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 32; ++x) {
        const bool inside = y >= 16 - heights[k];
        if (!inside) {
          ASSERT_EQ(f[size_t(32 * y + x)], BLACK) << "collapse frame " << k << " row " << y;
        }
        lit_inside = lit_inside || (inside && f[size_t(32 * y + x)] != BLACK);
      }
    EXPECT_TRUE(lit_inside) << "collapse frame " << k;
  }
}

TEST_F(OpeningScenes, PanoramaFadesSweepsRestsAndFadesAtItsCue) {
  constexpr int cue = show_cue_ms("panorama"), fade_out = PANORAMA_FRAMES_AFTER_CUE;
  h.play_until(17400);
  image_linear(h.sink, h.alsa, cue, PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
  EXPECT_GE(alsaplay_pos_time(h.alsa), cue);
  // The position advances by a single-precision speed of 2/232 per frame; the
  // sum reaches 2.0 (just above it) on the 232nd step, so 231 frames sweep.
  const auto frames = h.frames(24 + 231 + fade_out);
  ASSERT_EQ(frames.size(), size_t(24 + 231 + fade_out)) << "the resting window sends nothing";

  image_ptr picture(gdImageCreateFromPngPtr(int(PNG_SUPER_WORLD_SIZE), const_cast<unsigned char *>(PNG_SUPER_WORLD)));
  ASSERT_EQ(gdImageSX(picture.get()), 3392);
  image_ptr view(gdImageCreateTrueColor(32, 16));
  gdImageCopyResampled(view.get(), picture.get(), 0, 0, 12, 0, 32, 16, 464, 232);
  EXPECT_EQ(frames[24], pixels_of(view.get())) << "the first sweep frame is 12 picture pixels in";
  gdImageCopyResampled(view.get(), picture.get(), 0, 0, 0, 0, 32, 16, 464, 232);
  EXPECT_TRUE(all_black(frames[0]));
  for (int p = 0; p < 512; ++p)
    EXPECT_EQ(frames[23][size_t(p)][0], pixels_of(view.get())[size_t(p)][0] * 23 / 24);
  EXPECT_EQ(frames[255], frames[254]) << "the fade-out starts from the last sweep frame";
}

TEST_F(OpeningScenes, PanoramaWhoseCueHasPassedOnlyFades) {
  h.play_until(30000);
  image_linear(h.sink, h.alsa, show_cue_ms("panorama"), PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
  EXPECT_EQ(h.frames(24 + PANORAMA_FRAMES_AFTER_CUE).size(), std::size_t(24 + PANORAMA_FRAMES_AFTER_CUE));
}

// A tall picture 64 wide: a 64x32 window, 64 rows of travel, a speed of
// 4 x 32 / 16 / 64 = 0.125 (exact in binary), so 16 steps reach 2.0 and the
// 15 frames between show the window 4, 8, ..., 60 rows down.
TEST_F(OpeningScenes, TallPictureSweepsDownwardsInAQuarterOfItsWidthInFrames) {
  image_ptr picture(gdImageCreateTrueColor(64, 96));
  for (int y = 0; y < 96; ++y)
    gdImageLine(picture.get(), 0, y, 63, y, gdTrueColor(2 * y, 255 - 2 * y, y % 7 * 30));
  int size = 0;
  const std::unique_ptr<void, decltype(&gdFree)> png(gdImagePngPtr(picture.get(), &size), gdFree);
  h.play_until(1000);
  image_linear(h.sink, h.alsa, 4000, static_cast<const unsigned char *>(png.get()), size);
  const auto frames = h.frames(24 + 15 + 24);
  ASSERT_EQ(frames.size(), size_t(24 + 15 + 24));
  image_ptr view(gdImageCreateTrueColor(32, 16));
  for (int k = 1; k <= 15; ++k) {
    gdImageCopyResampled(view.get(), picture.get(), 0, 0, 0, 4 * k, 32, 16, 64, 32);
    EXPECT_EQ(frames[size_t(23 + k)], pixels_of(view.get())) << "sweep frame " << k;
  }
}

TEST_F(OpeningScenes, PictureOfTheWallsShapeIsSentOnceAtOnce) {
  image_ptr picture(gdImageCreateTrueColor(64, 32));
  gdImageFilledRectangle(picture.get(), 0, 0, 63, 31, gdTrueColor(10, 200, 30));
  int size = 0;
  void *png = gdImagePngPtr(picture.get(), &size);
  h.play_until(1000);
  const std::int64_t before = virtual_time_ns();
  image_linear(h.sink, h.alsa, show_cue_ms("panorama"), static_cast<unsigned char *>(png), size);
  gdFree(png);
  EXPECT_EQ(virtual_time_ns(), before) << "no fade, no wait";
  const auto frames = h.frames(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][100], (std::array<int, 3>{10, 200, 30}));
}

TEST_F(OpeningScenes, PictureThatDoesNotDecodeEndsTheShow) {
  GTEST_FLAG_SET(death_test_style, DEATH_TEST_STYLE);
  const unsigned char broken[] = "\x89PNG\r\n\x1a\n this is not a picture";
  EXPECT_EXIT(image_linear(h.sink, h.alsa, show_cue_ms("panorama"), broken, int(sizeof broken)),
              testing::ExitedWithCode(1), "FAIL! at .*image_linear.cpp:[0-9]+\n");
}

} // namespace
