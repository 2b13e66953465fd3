// The facts the simulator's views show about the stream: counts, the rate
// over the last second, a silence, the largest gap, the show's time and its
// scene as the timeline lets the receive times tell it.
#include "show_timeline.h"
#include "wall_status.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::int64_t MS = 1'000'000;

struct status_under_test {
  wall_status_t status = wall_status_init("127.0.0.1:7890");
  std::int64_t t = 0;
  int connection = 0;
  ~status_under_test() { wall_status_done(status); }

  // `n` frames `period_ms` apart, the first of them `gap_ms` after the last frame.
  void frames(int n, std::int64_t period_ms = 40, std::int64_t gap_ms = 40) {
    for (int i = 0; i < n; ++i) {
      t += (i == 0 ? gap_ms : period_ms) * MS;
      wall_frame f{};
      f.received_ns = t;
      f.connection = connection;
      wall_status_frame(status, f);
    }
  }
  std::string line(std::int64_t after_ms = -1, bool connected = true) {
    if (after_ms >= 0)
      wall_status_tick(status, t + after_ms * MS, connected);
    std::string text;
    wall_status_line(*status, &text);
    return text;
  }
};

TEST(LedsimStatus, WaitsThenCountsTheRateTheLargestGapAndASilence) {
  status_under_test s;
  EXPECT_EQ("waiting for a client on 127.0.0.1:7890", s.line());
  EXPECT_EQ("connected on 127.0.0.1:7890  frames 0  0 fps", s.line(0));

  s.frames(20);
  s.frames(30, 40, 120);
  EXPECT_EQ(25, wall_status_rate(*s.status));
  EXPECT_EQ("connected on 127.0.0.1:7890  frames 50  25 fps  show 0:02 ~ title  largest gap 120.0 ms", s.line());

  // Between frames the rate falls with the clock, and a silence is told.
  s.line(520);
  EXPECT_EQ(12, wall_status_rate(*s.status));
  EXPECT_EQ("connected on 127.0.0.1:7890  frames 50  0 fps  no frames for 1 s  show 0:02 ~ title  largest gap 120.0 ms",
            s.line(1000));
  EXPECT_EQ("waiting for a client on 127.0.0.1:7890  frames 50  0 fps  no frames for 3 s  show 0:02 ~ title  "
            "largest gap 120.0 ms",
            s.line(3999, false));

  // The clock does not run back, and a frame ends the silence.
  s.line(0);
  EXPECT_EQ(3, wall_status_silent_s(*s.status));
  s.frames(1, 40, 4000);
  EXPECT_EQ(0, wall_status_silent_s(*s.status));
  EXPECT_EQ(1, wall_status_rate(*s.status));
}

TEST(LedsimStatus, TheShowsTimeAndSceneComeFromTheTimelineAndStartAgainWithAClient) {
  status_under_test s;
  // The title's fade-in, then playback until the title's cue, then the next
  // scene's first frame two periods on.
  s.frames(PLAYBACK_STARTS_AFTER_FRAMES);
  s.frames(show_cue_ms("title") / 40 - 1);
  EXPECT_NE(std::string::npos, s.line().find("  show 0:05 ~ title  ")) << s.line();
  s.frames(1, 40, 80);
  EXPECT_NE(std::string::npos, s.line().find("  show 0:05 ~ present  ")) << s.line();
  s.frames(PRESENT_FRAMES - 1);
  s.frames(1, 40, 80);
  EXPECT_NE(std::string::npos, s.line().find(" ~ logo  ")) << s.line();

  ++s.connection;
  s.frames(3);
  const int total = PLAYBACK_STARTS_AFTER_FRAMES + show_cue_ms("title") / 40 + PRESENT_FRAMES + 3;
  EXPECT_NE(std::string::npos, s.line().find("  frames " + std::to_string(total) + "  ")) << s.line();
  EXPECT_NE(std::string::npos, s.line().find("  show 0:00 ~ title  ")) << s.line();
}

} // namespace
