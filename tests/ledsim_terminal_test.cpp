// The simulator's terminal view as a person sees it: `ledsim --view` runs in
// a tmux pane of a given size, a test client sends it frames, and the pane's
// copy of the screen (with its colours) is read back: the wall's shape, its
// panel gaps and LED colours, a redraw at a new size, the line a too-small
// terminal gets, and the status line before, during and after a stream.
#include "child_process.h"
#include "file_contents.h"
#include "poll_until.h"
#include "raw_opc_client.h"
#include "show_frames.h"
#include "terminal_screen.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int BOARD = 0x101010;
constexpr auto SHOWS_WITHIN = 5s; // for what should show in a tenth of that

int own_colour(int x, int y) { return (8 * x + 4) << 16 | (16 * y + 8) << 8 | 0xc0; }

// A tmux server of the test's own, with one pane running the simulator's view.
class view_pane {
public:
  view_pane(int columns, int rows) {
    static int count = 0;
    socket_ = "/tmp/ledsim_terminal_test_" + std::to_string(getpid()) + "_" + std::to_string(++count);
    errors_ = socket_ + ".err";
    // Its standard error to a file, so that the port it got can be read.
    const std::string command = "exec '" LEDSIM "' --view --listen 127.0.0.1:0 2>" + errors_;
    tmux({"new-session", "-d", "-x", std::to_string(columns), "-y", std::to_string(rows), command});
    poll_until([&] { return std::sscanf(said().c_str(), "ledsim: listening on port %d", &port) == 1; }, SHOWS_WITHIN);
  }
  ~view_pane() {
    tmux({"kill-server"});
    unlink(socket_.c_str()); // the server leaves it behind
    unlink(errors_.c_str());
  }
  view_pane(const view_pane &) = delete;
  view_pane &operator=(const view_pane &) = delete;

  std::string said() const { return file_text(errors_); }
  void resize(int columns, int rows) const {
    tmux({"resize-window", "-x", std::to_string(columns), "-y", std::to_string(rows)});
  }
  screen_rows screen() const { return screen_of(tmux({"capture-pane", "-p", "-e", "-N"})); }

  // Polls the screen until `holds(screen)`; the last screen seen.
  template <typename Condition> screen_rows wait_for(Condition holds) const {
    screen_rows seen;
    poll_until([&] { return holds(seen = screen()); }, SHOWS_WITHIN, 20ms);
    return seen;
  }

  int port = 0;

private:
  std::string tmux(std::vector<std::string> args) const {
    args.insert(args.begin(), {"tmux", "-u", "-f", "/dev/null", "-S", socket_});
    child_process run(args);
    run.wait(10s);
    return run.output();
  }
  std::string socket_, errors_;
};

// A frame of the wall as a client sends it: LED (x, y) in `colour(x, y)`.
std::vector<u8> frame_message(int (*colour)(int x, int y)) {
  show_frame picture{};
  for (int p = 0; p < 512; ++p) {
    const int c = colour(p % 32, p / 32);
    picture[std::size_t(3 * p)] = u8(c >> 16), picture[std::size_t(3 * p + 1)] = u8(c >> 8);
    picture[std::size_t(3 * p + 2)] = u8(c);
  }
  return opc_message(0, 0, in_led_order(picture));
}

// The row that begins with `start`; "" when none does.
std::string line_starting(const screen_rows &screen, const std::string &start) {
  for (const std::string &line : screen_text_lines(screen))
    if (line.rfind(start, 0) == 0)
      return line;
  return "";
}

bool shows_colour(const screen_rows &screen, int colour) {
  for (const auto &row : screen_units(screen, screen.size()))
    for (const int c : row)
      if (c == colour)
        return true;
  return false;
}

std::string wall_problems(const screen_rows &screen, wall_squares *w = nullptr) {
  return wall_shape_problems(screen_units(screen, screen.size()), own_colour, BOARD, w);
}

int wall_width(const wall_squares &w) { return w.left[31] + w.size - w.left[0]; }

bool no_tmux() { return child_process({"tmux", "-V"}).wait(10s) != 0; }

#define SKIP_WITHOUT_TMUX()                                                                                            \
  if (!emulated({}).empty())                                                                                           \
    GTEST_SKIP() << "tmux runs on the build machine, not under the emulator";                                          \
  if (no_tmux())                                                                                                       \
  GTEST_SKIP() << "tmux is not installed (scripts/setup.sh installs it)"

TEST(TerminalProgram, WaitsOnTheDarkWallThenDrawsSquareLedsAtEachSize) {
  SKIP_WITHOUT_TMUX();
  view_pane pane(80, 24);
  ASSERT_GT(pane.port, 0) << pane.said();
  const std::string waiting = "waiting for a client on 127.0.0.1:" + std::to_string(pane.port);
  screen_rows screen = pane.wait_for([&](const screen_rows &s) { return screen_text_lines(s).size() == 1; });
  EXPECT_EQ(std::vector<std::string>{waiting}, screen_text_lines(screen));
  EXPECT_TRUE(shows_colour(screen, BOARD) && shows_colour(screen, 0)) << "the board with its LEDs off";

  raw_client client(pane.port);
  ASSERT_TRUE(client.connected);
  client.send_bytes(frame_message(own_colour));
  wall_squares small, large;
  screen = pane.wait_for([](const screen_rows &s) { return wall_problems(s).empty(); });
  EXPECT_EQ("", wall_problems(screen, &small));
  EXPECT_GE(wall_width(small), 80 * 3 / 4) << "as large as the terminal allows";
  EXPECT_NE("", line_starting(screen, "connected on 127.0.0.1:" + std::to_string(pane.port) + "  frames 1  "));

  pane.resize(140, 45);
  screen =
      pane.wait_for([&](const screen_rows &s) { return wall_problems(s, &large).empty() && large.size > small.size; });
  EXPECT_EQ("", wall_problems(screen, &large));
  EXPECT_GT(large.size, small.size);
  EXPECT_GE(wall_width(large), 140 * 3 / 4);

  pane.resize(70, 8);
  const std::vector<std::string> too_small{"terminal 70x8 is too small for the wall: it needs at least 35x10"};
  screen = pane.wait_for([&](const screen_rows &s) { return screen_text_lines(s) == too_small; });
  EXPECT_EQ(too_small, screen_text_lines(screen));
  EXPECT_FALSE(shows_colour(screen, BOARD));

  pane.resize(80, 24);
  screen = pane.wait_for([](const screen_rows &s) { return wall_problems(s).empty(); });
  EXPECT_EQ("", wall_problems(screen)) << "the wall again at a size it fits";
}

TEST(TerminalProgram, StatusLineTellsTheRateFallingToNothingAndTheSilence) {
  SKIP_WITHOUT_TMUX();
  view_pane pane(120, 30);
  ASSERT_GT(pane.port, 0) << pane.said();
  const std::string address = "127.0.0.1:" + std::to_string(pane.port);
  std::optional<raw_client> client(std::in_place, pane.port);
  ASSERT_TRUE(client->connected);
  const std::vector<u8> frame = frame_message(own_colour);

  // Frames at 25 a second until the status shows a rate, on a machine however busy.
  std::string status;
  const bool rated = poll_until(
      [&] {
        client->send_bytes(frame);
        status = line_starting(pane.screen(), "connected on");
        const std::string prefix = "connected on " + address + "  frames ";
        int frames = 0, rate = 0, second = 0, end = 0;
        char scene[16] = "";
        return status.rfind(prefix, 0) == 0 &&
               std::sscanf(status.c_str() + prefix.size(), "%d  %d fps  show 0:0%1d ~ %15s%n", &frames, &rate, &second,
                           scene, &end) == 4 &&
               frames >= 5 && rate >= 1 && std::string(scene) == "title";
      },
      SHOWS_WITHIN, 40ms);
  ASSERT_TRUE(rated) << status;

  // Then nothing: the rate falls to 0 and the silence is counted, with the
  // client there and after it has gone.
  const auto told = [&](const std::string &line, const std::string &state) {
    const std::string prefix = state + address + "  frames ";
    int frames = 0, rate = -1, silent = 0, second = 0, end = 0;
    char scene[16] = "";
    double gap = 0;
    return line.rfind(prefix, 0) == 0 &&
           std::sscanf(line.c_str() + prefix.size(), "%d  %d fps  no frames for %d s  show 0:0%1d ~ %15s  largest gap %lf ms%n",
                       &frames, &rate, &silent, &second, scene, &gap, &end) == 6 &&
           end > 0 && std::size_t(end) == line.size() - prefix.size() && rate == 0 && silent >= 1 &&
           std::string(scene) == "title";
  };
  const auto silence_shows = [&](const std::string &state) {
    std::string line;
    pane.wait_for([&](const screen_rows &s) { return told(line = line_starting(s, state), state); });
    return told(line, state) ? testing::AssertionSuccess() : testing::AssertionFailure() << line;
  };
  EXPECT_TRUE(silence_shows("connected on "));
  client.reset();
  EXPECT_TRUE(silence_shows("waiting for a client on "));
}

} // namespace
