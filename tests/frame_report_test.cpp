// Reports on a frame log: the drift against the frame grid, where the show's
// scenes begin, the timing chart, and the two programs that make them from a
// real log file.
#include "child_process.h"
#include "file_contents.h"
#include "frame_log.h"
#include "frame_plot.h"
#include "frame_stats.h"
#include "scene_marks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t MS = 1'000'000;

// Receive times built scene by scene, the way the show's frame clocks send:
// a new clock's first frame two periods after the last frame, then one per
// period.
struct stream {
  std::vector<std::int64_t> t;
  std::int64_t now = 7'000'000 * MS;

  void frame(std::int64_t gap_ms) {
    now += gap_ms * MS;
    t.push_back(now);
  }
  void frames(int n) {
    for (int i = 0; i < n; ++i)
      frame(i == 0 ? 80 : 40);
  }
  void frames_until(std::int64_t until_ns) {
    frame(80);
    while (now < until_ns)
      frame(40);
  }
};

TEST(FrameDrift, SplitsTheLongGapsFromTheRegularOnes) {
  const frame_stats_t stats = frame_stats_init();
  std::int64_t t = 3'000 * MS;
  frame_stats_add(stats, t);
  // 100 gaps: 96 of 40.5 ms, one of exactly 60 (not long), one of 100, one
  // of 880 and one of 39.
  for (int i = 0; i < 100; ++i) {
    const double gap_ms = i == 5 ? 60 : i == 20 ? 100 : i == 70 ? 880 : i == 90 ? 39 : 40.5;
    t += std::int64_t(gap_ms * 1e6);
    frame_stats_add(stats, t);
  }
  const frame_drift d = frame_stats_drift(stats, 40.0);
  EXPECT_DOUBLE_EQ(d.drift_ms, 96 * 0.5 + 20 + 60 + 840 - 1);
  EXPECT_EQ(d.long_gaps, 2);
  EXPECT_DOUBLE_EQ(d.long_gaps_excess_ms, 60 + 840);
  EXPECT_NEAR(d.regular_excess_ms, 96 * 0.5 + 20 - 1, 1e-9);
  frame_stats_done(stats);

  const frame_stats_t one = frame_stats_init();
  frame_stats_add(one, t);
  const frame_drift none = frame_stats_drift(one, 40.0);
  EXPECT_EQ(none.drift_ms, 0.0);
  EXPECT_EQ(none.long_gaps, 0);
  frame_stats_done(one);
}

TEST(SceneMarks, CuesCountFromPlaybackStartAndSnapToTheSceneGap) {
  const std::vector<show_scene> scenes = {
      {"a", scene_end::at_cue, 1000, 0, 0}, {"b", scene_end::after_frames, 0, 10, 0},
      {"c", scene_end::at_cue, 3000, 0, 5}, {"d", scene_end::at_cue, 5000, 0, 0},
      {"e", scene_end::at_cue, 7000, 0, 0}, {"f", scene_end::at_cue, 9000, 0, 0},
      {"g", scene_end::at_show_end, 0, 0, 0},
  };
  const std::int64_t lag = 150 * MS; // the audio position trails the wall clock
  stream s;
  s.frames(24);
  const std::int64_t play0 = s.now;
  s.frames_until(play0 + 1000 * MS + lag);
  const std::size_t b = s.t.size();
  s.frames(10);
  const std::size_t c = s.t.size();
  s.frames_until(play0 + 2500 * MS);
  s.now = play0 + 3000 * MS + lag; // c rests until its cue, then fades out on a clock of its own
  s.frames(5);
  const std::size_t d = s.t.size();
  s.frames_until(play0 + 5000 * MS - 300 * MS);
  s.frames_until(play0 + 5000 * MS + lag); // a move inside d, shortly before its cue
  const std::size_t e = s.t.size();
  const std::int64_t stall = 2000 * MS; // the device ran dry during e: the position falls behind
  s.frames_until(play0 + 7000 * MS + stall + lag);
  const std::size_t f = s.t.size();
  s.frames_until(play0 + 9000 * MS + 200 * MS); // a move inside f, where its cue would be without the stall
  s.frames_until(play0 + 9000 * MS + stall + lag);
  const std::size_t g = s.t.size();
  s.frames(20);

  const std::vector<scene_mark> marks = show_scene_marks(s.t, scenes);
  ASSERT_EQ(marks.size(), 7u);
  const std::size_t expected[] = {0, b, c, d, e, f, g};
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(marks[i].frame, expected[i]) << scenes[i].name;
    EXPECT_STREQ(marks[i].label, scenes[i].name);
  }
  EXPECT_STREQ(show_scene_of(marks, d - 1), "c");
  EXPECT_STREQ(show_scene_of(marks, g + 5), "g");

  // Each long gap counted once, in the scene of the frame after it.
  const std::vector<scene_gaps> gaps = show_scene_gaps(s.t, marks, 40.0);
  ASSERT_EQ(gaps.size(), 7u);
  EXPECT_FALSE(gaps[0].long_start) << "the first frame of all has no gap before it";
  for (std::size_t i = 1; i < 7; ++i) {
    EXPECT_TRUE(gaps[i].long_start) << gaps[i].label;
    EXPECT_DOUBLE_EQ(gaps[i].start_excess_ms, 40.0) << gaps[i].label;
  }
  const long inner[] = {1, 0, 1, 1, 0, 1, 0}; // a's clock after the fade-in, c's fade-out, the moves in d and f
  for (std::size_t i = 0; i < 7; ++i)
    EXPECT_EQ(gaps[i].inner_gaps, inner[i]) << gaps[i].label;
  EXPECT_DOUBLE_EQ(gaps[3].inner_excess_ms, 40.0);
  const std::int64_t c_fade_gap = s.t[d - 5] - s.t[d - 6];
  EXPECT_DOUBLE_EQ(gaps[2].inner_excess_ms, double(c_fade_gap) / 1e6 - 40.0);

  // A log that ends inside c marks only the scenes begun.
  const std::vector<std::int64_t> cut(s.t.begin(), s.t.begin() + std::ptrdiff_t(c + 3));
  EXPECT_EQ(show_scene_marks(cut, scenes).size(), 3u);

  // Without a gap near the cue the first frame at the cue is taken.
  stream even;
  for (int i = 0; i < 200; ++i)
    even.frame(40);
  const std::vector<show_scene> two = {{"x", scene_end::at_cue, 1000, 0, 0}, {"y", scene_end::at_show_end, 0, 0, 0}};
  const auto plain = show_scene_marks(even.t, two);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(plain[1].frame, std::size_t(PLAYBACK_STARTS_AFTER_FRAMES - 1 + 25));
}

// The show's own timeline sent as the show sends it: each scene on a frame
// clock of its own, the frames after a cue on the scene's clock, the audio
// position trailing the wall clock. Every scene is found where it starts,
// under its name.
TEST(SceneMarks, FindEachSceneOfTheShowWhereItStarts) {
  const std::int64_t lag = 150 * MS;
  stream s;
  std::int64_t play0 = 0;
  std::vector<std::size_t> starts;
  for (const show_scene &scene : SHOW_SCENES) {
    starts.push_back(s.t.size());
    if (scene.end == scene_end::after_frames) {
      s.frames(scene.frames);
      continue;
    }
    if (starts.size() == 1) { // the title's fade-in, then the music starts
      s.frames(PLAYBACK_STARTS_AFTER_FRAMES);
      play0 = s.now;
    }
    s.frames_until(play0 + scene.cue_ms * MS + lag);
    for (int i = 0; i < scene.frames_after_cue; ++i)
      s.frame(40);
  }

  const std::vector<scene_mark> marks = show_scene_marks(s.t);
  ASSERT_EQ(marks.size(), SHOW_SCENES.size());
  for (std::size_t i = 0; i < marks.size(); ++i) {
    EXPECT_EQ(marks[i].frame, starts[i]) << SHOW_SCENES[i].name;
    EXPECT_STREQ(marks[i].label, SHOW_SCENES[i].name);
  }
}

TEST(FramePlot, DrawsEachGapWhereItsTimeAndLengthPlaceIt) {
  stream s;
  for (int i = 0; i < 1000; ++i)
    s.frame(i == 500 ? 100 : i == 800 ? 500 : 40);
  const double span = double(s.t.back() - s.t.front()) / 1e9;
  const auto x = [&](std::size_t i) { return frame_plot_x(double(s.t[i] - s.t.front()) / 1e9, span); };
  const gdImagePtr im = frame_plot_draw(s.t, {{0, "a"}, {500, "b"}}, 40.0);
  ASSERT_EQ(gdImageSX(im), FRAME_PLOT_WIDTH);
  ASSERT_EQ(gdImageSY(im), FRAME_PLOT_HEIGHT);
  EXPECT_EQ(gdImageGetPixel(im, x(500), frame_plot_y(100)), FRAME_PLOT_LONG);
  EXPECT_EQ(gdImageGetPixel(im, x(800), frame_plot_y(500)), FRAME_PLOT_LONG) << "off the scale: on the top edge";
  EXPECT_EQ(frame_plot_y(500), frame_plot_y(FRAME_PLOT_TOP_MS));
  EXPECT_EQ(gdImageGetPixel(im, x(100), frame_plot_y(40)), FRAME_PLOT_REGULAR);
  EXPECT_EQ(gdImageGetPixel(im, x(250), frame_plot_y(150)), FRAME_PLOT_BACKGROUND);
  EXPECT_LT(x(0), x(500));
  EXPECT_LT(x(500), x(999));

  // The PNG holds the same picture, byte for byte the same every time.
  char dir[] = "/tmp/frame_plot_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string one = std::string(dir) + "/1.png", two = std::string(dir) + "/2.png";
  ASSERT_EQ(frame_plot_write(im, one.c_str()), 1);
  ASSERT_EQ(frame_plot_write(im, two.c_str()), 1);
  EXPECT_EQ(file_text(one), file_text(two));
  std::FILE *file = std::fopen(one.c_str(), "rb");
  const gdImagePtr back = gdImageCreateFromPng(file);
  std::fclose(file);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(gdImageSX(back), FRAME_PLOT_WIDTH);
  EXPECT_EQ(gdImageGetTrueColorPixel(back, x(500), frame_plot_y(100)), FRAME_PLOT_LONG);
  gdImageDestroy(back);
  EXPECT_EQ(frame_plot_write(im, "/no/such/dir/plot.png"), 0);
  gdImageDestroy(im);
  std::remove(one.c_str());
  std::remove(two.c_str());
  rmdir(dir);

  // No frames, or one: the axes alone.
  for (const std::vector<std::int64_t> &few : {std::vector<std::int64_t>{}, std::vector<std::int64_t>{5 * MS}}) {
    const gdImagePtr empty = frame_plot_draw(few, show_scene_marks(few), 40.0);
    EXPECT_EQ(gdImageSX(empty), FRAME_PLOT_WIDTH);
    gdImageDestroy(empty);
  }
}

TEST(FrameReportPrograms, ReadARealLog) {
  char dir[] = "/tmp/frame_report_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log_path = std::string(dir) + "/frames.log", png_path = std::string(dir) + "/plot.png";
  std::FILE *log = frame_log_open(log_path.c_str());
  ASSERT_NE(log, nullptr);
  wall_frame frame{};
  frame.received_ns = 9'000 * MS;
  for (int i = 0; i < 200; ++i) {
    frame.received_ns += (i == 150 ? 100 : 40) * MS;
    frame.connection = i < 100 ? 0 : 1;
    frame.rgb[0] = std::uint8_t(i);
    frame_log_write(log, frame);
  }
  ASSERT_EQ(frame_log_close(log), 1);

  child_process stats({FRAMESTATS, log_path});
  ASSERT_EQ(stats.wait(std::chrono::seconds(30)), 0) << stats.output();
  const std::string out = stats.output();
  EXPECT_NE(out.find("frames: 200\n"), std::string::npos) << out;
  EXPECT_NE(out.find("connections: 2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("drift: 60.00 ms\n"), std::string::npos) << out;
  EXPECT_NE(out.find("long gaps: 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("regular gaps excess: 0.00 ms\n"), std::string::npos) << out;

  child_process plot({FRAMEPLOT, log_path, png_path});
  ASSERT_EQ(plot.wait(std::chrono::seconds(30)), 0) << plot.output();
  std::FILE *file = std::fopen(png_path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  const gdImagePtr im = gdImageCreateFromPng(file);
  std::fclose(file);
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(gdImageSX(im), FRAME_PLOT_WIDTH);
  EXPECT_EQ(gdImageSY(im), FRAME_PLOT_HEIGHT);
  gdImageDestroy(im);

  child_process missing({FRAMEPLOT, std::string(dir) + "/none.log", png_path});
  EXPECT_EQ(missing.wait(std::chrono::seconds(30)), 1);
  std::remove(log_path.c_str());
  std::remove(png_path.c_str());
  rmdir(dir);
}

} // namespace
