// The middle of the show in virtual time: ellipses, into the blue, twister,
// analyser, credits and the thank-you slide, with the real embedded pictures.
#include "opcgd.h"
#include "assets.h"
#include "credits.h"
#include "ellipses.h"
#include "ellipses_scene.h"
#include "gdfont4x8.h"
#include "image_zoom.h"
#include "into_the_blue.h"
#include "scene_harness.h"
#include "scene_math.h"
#include "show_timeline.h"
#include "spectrum_analyzer.h"
#include "thank_slide.h"
#include "twister.h"
#include "twister_scene.h"
#include "virtual_player.h"
#include "virtual_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <algorithm>
#include <memory>

namespace {

using image_ptr = gd_image_ptr;

// Where the show starts each of these scenes: at the cue of the one before.
constexpr int ELLIPSES_START = show_cue_ms("panorama"), INTO_THE_BLUE_START = show_cue_ms("ellipses"),
              TWISTER_START = show_cue_ms("into the blue"), ANALYSER_START = show_cue_ms("twister");

bool grey_only(const wall_pixels &f) {
  for (const auto &p : f)
    if (p[0] != p[1] || p[1] != p[2])
      return false;
  return true;
}

image_ptr decode(const unsigned char *png, std::size_t size) {
  return image_ptr(gdImageCreateFromPngPtr(int(size), const_cast<unsigned char *>(png)));
}

TEST(EllipsesScene, FirstFrameIsTheCentredRingsAndTheTintStartsAtFrame200) {
  scene_harness h;
  h.play_until(ELLIPSES_START);
  std::srand(7);
  const int first_random = std::rand();
  std::srand(7);
  ellipses(h.sink, h.alsa, ELLIPSES_START + 399 * 40); // ends before frame 400
  EXPECT_EQ(std::rand(), first_random) << "no rand() before frame 400";

  const auto frames = h.frames(390);
  ASSERT_GE(frames.size(), 390u);
  ASSERT_LT(frames.size(), 400u);
  image_ptr expected(gdImageCreateTrueColor(32, 16));
  const ellipses_t rings = ellipses_init(expected.get(), 8);
  ellipses_set_calc(rings, 128, 64, 32, 40, 0x00FFFFFF, 0);
  ellipses_done(rings);
  EXPECT_EQ(frames[0], pixels_of(expected.get()));
  EXPECT_TRUE(grey_only(frames[199]));
  EXPECT_FALSE(grey_only(frames[200])) << "the rainbow tint";
}

TEST(EllipsesScene, CuePassedOnEntrySendsNothing) {
  scene_harness h;
  h.play_until(show_cue_ms("ellipses") + 1000);
  ellipses(h.sink, h.alsa, show_cue_ms("ellipses"));
  EXPECT_TRUE(h.frames(0).empty());
}

class IntoTheBlue : public testing::Test {
protected:
  scene_harness h;
  image_ptr picture = decode(INTO_THE_BLUE, INTO_THE_BLUE_SIZE);
  image_ptr frame{gdImageCreateTrueColor(32, 16)};

  wall_pixels view(int x, int y, float zoom) {
    const image_zoom_t z = image_zoom_init(frame.get(), picture.get());
    image_zoom_calc(z, x, y, zoom);
    image_zoom_done(z);
    return pixels_of(frame.get());
  }
};

TEST_F(IntoTheBlue, DriftsFrom151x101ToItsEndAndSwingsFor660Frames) {
  h.play_until(INTO_THE_BLUE_START);
  // With the cue already a second away when the swing ends, no hold frame.
  into_the_blue(h.sink, h.alsa, INTO_THE_BLUE_START + 1000 + 1000 + 660 * 40 - 100);
  const auto frames = h.frames(24 + 660 + 24);
  ASSERT_EQ(frames.size(), size_t(24 + 660 + 24));
  EXPECT_EQ(frames[24], view(151, 101, float(double(std::sin(0.1f)) + 1.0 + 1.1)));
  // The angle steps 0.1 per frame from 0.1; the centre ends at (166, 76).
  float angle = 0.1f;
  for (int i = 1; i < 530; ++i)
    angle = phase_step(angle, 0.1, 2 * std::numbers::pi);
  EXPECT_EQ(frames[24 + 529], view(166, 76, float(double(std::sin(angle)) + 1.0 + 1.1)));
}

TEST_F(IntoTheBlue, HoldsUntilASecondBeforeItsCue) {
  constexpr int cue = show_cue_ms("into the blue");
  h.play_until(INTO_THE_BLUE_START);
  into_the_blue(h.sink, h.alsa, cue);
  const auto frames = h.frames(24 + 660 + 24);
  EXPECT_GT(frames.size(), size_t(24 + 660 + 24));
  EXPECT_GE(alsaplay_pos_time(h.alsa), cue - 1000);
  EXPECT_LE(h.played_ms(), cue + 100);
  EXPECT_EQ(frames[24 + 660], frames[24 + 659]) << "the hold shows the last frame";
}

TEST(TwisterScene, FirstFrameIsTheUntwistedBarAndOneBlackFrameWhenLate) {
  {
    scene_harness h;
    h.play_until(TWISTER_START);
    twister(h.sink, h.alsa, TWISTER_START + 200);
    const auto frames = h.frames(4);
    ASSERT_GE(frames.size(), 4u);
    image_ptr expected(gdImageCreateTrueColor(32, 16));
    const twister_t bar = twister_init(expected.get(), 3);
    twister_calc(bar);
    twister_done(bar);
    EXPECT_EQ(frames[0], pixels_of(expected.get()));
    EXPECT_TRUE(all_black(frames.back())) << "the scene ends on a black frame";
  }
  scene_harness h;
  h.play_until(show_cue_ms("twister") + 7000);
  twister(h.sink, h.alsa, show_cue_ms("twister"));
  const auto frames = h.frames(TWISTER_FRAMES_AFTER_CUE);
  ASSERT_EQ(frames.size(), std::size_t(TWISTER_FRAMES_AFTER_CUE));
  EXPECT_TRUE(std::all_of(frames.begin(), frames.end(), all_black));
}

// The scene's schedule, followed here frame by frame on a renderer of the
// test's own: straight, winding, unwinding, pumping, cycling colours from
// frame 500 and lying down from frame 701.
TEST(TwisterScene, FollowsItsScheduleFrameByFrame) {
  scene_harness h;
  h.play_until(TWISTER_START);
  twister(h.sink, h.alsa, TWISTER_START + 1150 * 40);
  const auto frames = h.frames(1140);
  ASSERT_GE(frames.size(), 1140u);

  image_ptr expected(gdImageCreateTrueColor(32, 16));
  const twister_t bar = twister_init(expected.get(), 3);
  hsv_t colour[2] = {{0.0f, 1.0f, 1.0f}, {1.0f / 3.0f, 1.0f, 1.0f}};
  float twist = 0.0f;
  int direction = 1, horizontal = 0;
  for (int n = 0; n < 1140; ++n) {
    twister_set_twist(bar, horizontal, twist);
    twister_set_colors(bar, &colour[0], &colour[1]);
    twister_calc(bar);
    ASSERT_EQ(frames[size_t(n)], pixels_of(expected.get())) << "frame " << n;
    const bool winding = n < 100, unwinding = n >= 200 && n < 300, pumping = n >= 300 && n < 1100;
    if (winding)
      twist = phase_add(twist, 0.0005);
    if (unwinding)
      twist = phase_add(twist, -0.0005);
    if (n >= 700 && n < 1100)
      horizontal = 1;
    if (n >= 500 && n < 1100)
      for (hsv_t &c : colour)
        c.h = phase_wrap(c.h, 1.0 / 120, 1.0);
    if (pumping) {
      twist = phase_add(twist, direction * 0.002);
      if (double(twist) >= 0.2)
        direction = -1;
      if (twist <= 0.0f)
        direction = 1;
    }
  }
  twister_done(bar);
}

class Analyser : public testing::Test {
protected:
  scene_harness h;
  void SetUp() override { virtual_player_feed_taps(false); }
  void TearDown() override { virtual_player_feed_taps(true); }
};

TEST_F(Analyser, BarsFadeInAndOutOverTheGlidingPictureAndTheTapComesAndGoes) {
  for (int i = 0; i < 32; ++i)
    bins[size_t(i)] = i < 16 ? 1e6f : 0.0f; // full bars on the left half, none on the right
  h.play_until(ANALYSER_START);
  const int changes = virtual_player_tap_changes();
  image_sinus_analyzer(h.sink, h.alsa, ANALYSER_START + 210 * 40, PNG_VORN_SCENE_DRINK,
                       int(PNG_VORN_SCENE_DRINK_SIZE));
  EXPECT_EQ(virtual_player_tap_changes(), changes + 2) << "installed once, removed once";
  EXPECT_EQ(virtual_player_tap(), nullptr);
  EXPECT_EQ(fft, nullptr);

  const auto frames = h.frames(205);
  ASSERT_GE(frames.size(), 205u);
  // Frame 0 merges the bars at 1 %, frame 99 at 100 %, frame 199 at 0 %.
  const auto at = [](const wall_pixels &f, int x, int y) { return f[size_t(32 * y + x)]; };
  EXPECT_EQ(at(frames[99], 0, 15), (std::array<int, 3>{0, 15 * 16, 0})) << "a full green bar at the bottom";
  EXPECT_EQ(at(frames[99], 0, 0)[1], 0);
  EXPECT_GT(at(frames[99], 0, 0)[0], 0) << "red at the top rows";
  EXPECT_NE(at(frames[0], 0, 15), (std::array<int, 3>{0, 240, 0}));

  image_ptr picture = decode(PNG_VORN_SCENE_DRINK, PNG_VORN_SCENE_DRINK_SIZE);
  ASSERT_EQ(gdImageSX(picture.get()), 119);
  // The gliding window of frame n: the phase steps 0.033 from 3 pi / 2.
  const auto window_at = [&](int n) {
    float phase = 4.71238899230957f;
    for (int i = 0; i <= n; ++i)
      phase = phase_step(phase, 0.033, 2 * std::numbers::pi);
    const int y = int((1 + std::sin(phase)) * float(305 - 59) * 0.5f);
    image_ptr window(gdImageCreateTrueColor(32, 16));
    gdImageCopyResampled(window.get(), picture.get(), 0, 0, 0, y, 32, 16, 119, 59);
    return pixels_of(window.get());
  };
  EXPECT_EQ(frames[199], window_at(199)) << "weight 0: the plain picture";
  const auto plain_99 = window_at(99);
  for (int x = 16; x < 32; ++x)
    EXPECT_EQ(at(frames[99], x, 15), at(plain_99, x, 15)) << "silent bands draw nothing";
}

TEST_F(Analyser, CuePassedOnEntrySendsNothingButCleansUp) {
  h.play_until(show_cue_ms("analyser") + 6000);
  image_sinus_analyzer(h.sink, h.alsa, show_cue_ms("analyser"), PNG_VORN_SCENE_DRINK, int(PNG_VORN_SCENE_DRINK_SIZE));
  EXPECT_TRUE(h.frames(0).empty());
  EXPECT_EQ(virtual_player_tap(), nullptr);
}

TEST_F(Analyser, PictureOfTheWallsShapeIsShownOnceAndEverythingIsReleased) {
  image_ptr picture(gdImageCreateTrueColor(64, 32));
  int size = 0;
  void *png = gdImagePngPtr(picture.get(), &size);
  image_sinus_analyzer(h.sink, h.alsa, show_cue_ms("analyser"), static_cast<unsigned char *>(png), size);
  gdFree(png);
  EXPECT_EQ(h.frames(1).size(), 1u);
  EXPECT_EQ(virtual_player_tap(), nullptr) << "the tap is removed";
  EXPECT_EQ(fft, nullptr);
  EXPECT_EQ(out_cpx, nullptr);
}

TEST(Credits, EachCreditPlaysItsFrameCountAndThePanCarriesOn) {
  scene_harness h;
  credits(h.sink, PNG_CREDITS_GFX_LEAD, int(PNG_CREDITS_GFX_LEAD_SIZE), PNG_CREDITS_TXT_LEAD,
          int(PNG_CREDITS_TXT_LEAD_SIZE));
  credits(h.sink, PNG_CREDITS_GFX_CODE, int(PNG_CREDITS_GFX_CODE_SIZE), PNG_CREDITS_TXT_CODE,
          int(PNG_CREDITS_TXT_CODE_SIZE));
  credits(h.sink, PNG_CREDITS_GFX_GFX, int(PNG_CREDITS_GFX_GFX_SIZE), PNG_CREDITS_TXT_GFX,
          int(PNG_CREDITS_TXT_GFX_SIZE));
  // A portrait see-through all over, in stripes: each window blends over the
  // last one, whichever that was.
  image_ptr glass(gdImageCreateTrueColor(64, 96));
  gdImageAlphaBlending(glass.get(), 0);
  gdImageSaveAlpha(glass.get(), 1);
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 64; ++x)
      glass->tpixels[y][x] = gdTrueColorAlpha((y * 37) & 255, (x * 11 + y * 5) & 255, y % 3 ? 255 : 0, 90);
  int glass_size = 0;
  const std::unique_ptr<void, decltype(&gdFree)> glass_png(gdImagePngPtr(glass.get(), &glass_size), gdFree);
  credits(h.sink, static_cast<const unsigned char *>(glass_png.get()), glass_size, PNG_CREDITS_TXT_GFX,
          int(PNG_CREDITS_TXT_GFX_SIZE));
  constexpr int each = CREDITS_FRAMES;
  const auto frames = h.frames(4 * each);
  ASSERT_EQ(frames.size(), std::size_t(4 * each));
  EXPECT_TRUE(all_black(frames[0]));
  EXPECT_TRUE(all_black(frames[each]));
  EXPECT_FALSE(all_black(frames[each - 1])) << "the last frame is the picture at 4 %";

  // Every fade frame is the pan frame merged over black, the pan frame being
  // each step's window resampled over the one before (see-through pixels
  // blend), and the pan phase runs on from 3 pi / 2 across the credits. The
  // fade-outs come back to windows shown before.
  const struct {
    const unsigned char *png;
    std::size_t size;
    int width, height;
  } pictures[] = {{PNG_CREDITS_GFX_LEAD, PNG_CREDITS_GFX_LEAD_SIZE, 180, 297},
                  {PNG_CREDITS_GFX_CODE, PNG_CREDITS_GFX_CODE_SIZE, 198, 235},
                  {PNG_CREDITS_GFX_GFX, PNG_CREDITS_GFX_GFX_SIZE, 198, 332},
                  {static_cast<const unsigned char *>(glass_png.get()), std::size_t(glass_size), 64, 96}};
  float sinpos = 4.71238899f;
  image_ptr picture, pan;
  for (int frame = 0; frame < 4 * each; ++frame) {
    const auto &p = pictures[frame / each];
    const int step = frame % each;
    if (step == 0) {
      picture = decode(p.png, p.size);
      pan.reset(gdImageCreateTrueColor(32, 16));
    }
    sinpos = phase_step(sinpos, 0.07, 2 * std::numbers::pi);
    const wall_window_s window = wall_window_fit(p.width, p.height);
    const int y = int((std::sin(sinpos) + 1) * float(window.travel_y) * 0.5f);
    gdImageCopyResampled(pan.get(), picture.get(), 0, 0, 0, y, 32, 16, window.w, window.h);
    if (step >= 25 && step < each - 25)
      continue; // the caption
    image_ptr out(gdImageCreateTrueColor(32, 16));
    gdImageCopyMerge(out.get(), pan.get(), 0, 0, 0, 0, 32, 16, step < 25 ? 4 * step : 100 - 4 * (step - (each - 25)));
    ASSERT_EQ(frames[size_t(frame)], pixels_of(out.get())) << "frame " << frame;
  }
}

TEST(Credits, CaptionLettersGlowWhileTheRestShowsTheQuarteredPicture) {
  scene_harness h;
  credits(h.sink, PNG_CREDITS_GFX_MUSIC, int(PNG_CREDITS_GFX_MUSIC_SIZE), PNG_CREDITS_TXT_MUSIC,
          int(PNG_CREDITS_TXT_MUSIC_SIZE));
  const auto frames = h.frames(CREDITS_FRAMES);
  ASSERT_EQ(frames.size(), std::size_t(CREDITS_FRAMES));
  image_ptr caption = decode(PNG_CREDITS_TXT_MUSIC, PNG_CREDITS_TXT_MUSIC_SIZE);
  const auto &f = frames[25 + 100]; // the caption at full strength
  int letters = 0;
  for (int p = 0; p < 512; ++p) {
    const int c = gdImageGetPixel(caption.get(), p % 32, p / 32);
    const bool letter = gdImageRed(caption.get(), c) == 0 && gdImageGreen(caption.get(), c) == 0 &&
                        gdImageBlue(caption.get(), c) == 0;
    if (letter) {
      ++letters;
      EXPECT_EQ(*std::max_element(f[size_t(p)].begin(), f[size_t(p)].end()), 255) << "a letter glows at full value";
    } else {
      EXPECT_LE(*std::max_element(f[size_t(p)].begin(), f[size_t(p)].end()), 63) << "a quarter of the picture";
    }
  }
  EXPECT_GT(letters, 20);
}

TEST(ThankSlide, CrawlsUpForItsFrameCountBlackAtBothEnds) {
  scene_harness h;
  h.play_until(500000); // the slide does not look at the soundtrack
  thank_slide(h.sink);
  const auto frames = h.frames(THANK_YOU_FRAMES);
  ASSERT_EQ(frames.size(), std::size_t(THANK_YOU_FRAMES));
  EXPECT_TRUE(all_black(frames[0]));
  EXPECT_TRUE(all_black(frames[THANK_YOU_FRAMES - 1]));
  image_ptr word(gdImageCreateTrueColor(32, 8));
  gdImageString(word.get(), gdFontGet4x8(), 6, 0, reinterpret_cast<unsigned char *>(const_cast<char *>("WOULD")),
                0xF5DEB3);
  for (int x = 0; x < 32; ++x) {
    const bool ink = gdImageGetPixel(word.get(), x, 0) != 0;
    EXPECT_EQ(frames[1][size_t(32 * 15 + x)] != BLACK, ink) << "the top row of WOULD on the bottom row, column " << x;
  }
}

} // namespace
