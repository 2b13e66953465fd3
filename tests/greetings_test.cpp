// The greetings flight in virtual time: the moves' frame counts and zooms,
// the whole route, the hold, the fade-out and the black frames to the end.
#include "assets.h"
#include "fades.h"
#include "greetings.h"
#include "greetings_route.h"
#include "scene_harness.h"
#include "show_timeline.h"
#include "title_zoom.h"
#include "virtual_player.h"
#include "virtual_time.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class Greetings : public testing::Test {
protected:
  scene_harness h;
  image_zoom_t zoom = vorn_zoom_init();
  void TearDown() override { vorn_zoom_done(zoom); }

  size_t frames_of(void (*move)(opc_sink, int, image_zoom_t), int index) {
    const size_t before = h.server.messages().size();
    move(h.sink, index, zoom);
    return h.frames(before + 1).size() - before;
  }

  // The wall picture of one view, normalised as hops send it.
  wall_pixels view(int x, int y, float z) {
    image_zoom_calc(zoom, x, y, z);
    image_normalize(zoom->im);
    return pixels_of(zoom->im);
  }
};

TEST_F(Greetings, PansMoveTwoWallPixelsPerFrameAndLongOnesAreCompressed) {
  EXPECT_EQ(frames_of(linear, 1), 112u) << "555 pixels at zoom 2.5: steps 111";
  EXPECT_EQ(frames_of(linear, 8), 206u) << "966 pixels at zoom 1.3: steps 371.5 compressed to 205.3";
}

TEST_F(Greetings, JumpsTake61FramesWithZoom16AtTheMidpoint) {
  const size_t before = h.server.messages().size();
  jump(h.sink, 2, zoom);
  const auto frames = h.frames(before + 61);
  ASSERT_EQ(frames.size() - before, 61u);
  const move_s &m = move_list[2];
  const int x = int(float(m.from_x) + float(25 * (m.to_x - m.from_x)) / 50.0f);
  const int y = int(float(m.from_y) + float(25 * (m.to_y - m.from_y)) / 50.0f);
  EXPECT_EQ(frames[before + 5 + 25], view(x, y, 16.0f));
  EXPECT_EQ(frames[before], view(m.from_x, m.from_y, m.from_zoom));
  EXPECT_EQ(frames[before + 60], view(m.to_x, m.to_y, m.to_zoom));
}

TEST_F(Greetings, JumpOutTakes75Frames) { EXPECT_EQ(frames_of(jump_out, 75), 75u); }

// Frames each move sends, worked out from the route alone.
size_t route_frames() {
  size_t total = 0;
  for (const auto &m : move_list) {
    if (m.kind == move_jump) {
      total += 61;
    } else if (m.kind == move_jump_out) {
      total += 75;
    } else if (m.kind == move_linear) {
      const int dx = m.to_x - m.from_x, dy = m.to_y - m.from_y;
      float steps = float(int(std::sqrt(double(dx * dx + dy * dy)))) / (m.to_zoom + m.from_zoom);
      if (steps > 120.0f)
        steps = float(90 + 7 * std::sqrt(double(steps) - 100));
      total += size_t(std::floor(steps)) + 1;
    }
  }
  return total;
}

// The show's flight starts near 197 s and ends before the hold end time, so
// the whole canvas is held 5 s from then, fades out in 99 frames and black
// frames follow until the soundtrack has played to its end.
TEST_F(Greetings, WholeFlightHoldsFiveSecondsFadesAndEndsWithTheSoundtrack) {
  EXPECT_EQ(route_frames(), 5222u);
  h.play_until(196'800);
  greetings(h.sink, zoom, h.alsa, show_cue_ms("greetings"));
  EXPECT_EQ(alsaplay_pos_time(h.alsa), alsaplay_total_time(h.alsa));
  const auto frames = h.frames(5222 + 125 + 99);
  ASSERT_GT(frames.size(), 5222u + 125 + 99);

  const auto whole = view(1024, 512, 64.0f);
  // The hold, then the fade-out, whose first frame is the full picture too.
  size_t same = 0;
  while (frames[5222 + same] == whole)
    ++same;
  const size_t hold = same - 1;
  EXPECT_NEAR(double(hold), 125.0, 1.0) << "5000 ms of hold";
  const size_t fade_start = 5222 + hold;
  for (size_t i = fade_start; i < fade_start + 99; ++i)
    EXPECT_NE(frames[i], frames[fade_start + 99]) << "frame " << i << " is part of the fade";
  size_t black = 0;
  for (size_t i = fade_start + 99; i < frames.size(); ++i) {
    for (const auto &p : frames[i])
      ASSERT_EQ(p, BLACK) << "frame " << i;
    ++black;
  }
  EXPECT_GT(black, 0u);
  // The last black frame goes out on the first tick at which the position
  // has reached the total (blocks of 46.4 ms, ticks of 40 ms).
  EXPECT_GE(h.played_ms(), 420923.0 - 40);
  EXPECT_LE(h.played_ms(), 420923.0 + 47);
}

TEST_F(Greetings, FlightEndingAfterTheHoldTimeSendsTheCanvasOnceThenFades) {
  h.play_until(220'000);
  greetings(h.sink, zoom, h.alsa, show_cue_ms("greetings"));
  const auto frames = h.frames(5222 + 1 + 99);
  const auto whole = view(1024, 512, 64.0f);
  ASSERT_GE(frames.size(), 5222u + 1 + 99);
  EXPECT_EQ(frames[5222], whole);
  EXPECT_EQ(frames[5223], whole) << "the fade-out's first frame is the full picture";
  EXPECT_NE(frames[5224], whole) << "held for one frame only";
}

} // namespace
