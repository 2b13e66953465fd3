// The simulator's browser view as a program: a real headless Chromium draws
// the page and its screenshot shows the frame a client sent; and browsers
// that never read hold nothing up on the OPC side.
#include "frame_log.h"
#include "led_board.h"
#include "matrix_wiring.h"
#include "poll_until.h"
#include "raw_opc_client.h"
#include "simulator_process.h"

#include <gd.h>
#include <poll.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The simulator with its browser view on a free port, both told.
struct browser_view {
  simulator_process simulator;
  int http_port = 0;
  explicit browser_view(std::vector<std::string> options)
      : simulator(LEDSIM, [&] {
          options.insert(options.end(), {"--listen", "127.0.0.1:0", "--http", "0"}); // on 127.0.0.1
          return options;
        }()) {
    const std::string said = "browser view on http://127.0.0.1:";
    EXPECT_TRUE(simulator.program.wait_for_output(said, 10s)) << simulator.program.output();
    const std::string output = simulator.program.output();
    const std::size_t at = output.find(said);
    if (at != std::string::npos)
      http_port = std::atoi(output.c_str() + at + said.size());
  }
};

// Pixel (x, y) of the test picture: every LED a colour of its own.
std::array<u8, 3> test_colour(int x, int y) { return {u8(40 + 6 * x), u8(30 + 12 * y), u8(250 - 5 * x - 3 * y)}; }

std::vector<u8> frame_message(int number_or_minus_one) {
  std::vector<u8> leds(3 * MATRIX_LEDS);
  for (int y = 0; y < MATRIX_HEIGHT; ++y)
    for (int x = 0; x < MATRIX_WIDTH; ++x) {
      std::array<u8, 3> c = test_colour(x, y);
      if (number_or_minus_one >= 0 && x == 0 && y == 0)
        c = {u8(number_or_minus_one >> 8), u8(number_or_minus_one & 255), 0};
      std::copy(c.begin(), c.end(), leds.begin() + 3 * tlm_32x16z[std::size_t(MATRIX_WIDTH * y + x)]);
    }
  return opc_message(0, 0, leds);
}

// GET `path` from the view; the whole answer, headers and all.
std::string http_get(int port, const std::string &path) {
  raw_client client(port);
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  client.send_bytes(std::vector<u8>(request.begin(), request.end()));
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = read(client.fd, buffer, sizeof buffer)) > 0;)
    answer.append(buffer, std::size_t(n));
  return answer;
}

// The view has taken in the frame whose top-left LED shows `rgb` (hexadecimal).
bool view_shows(int port, const std::string &rgb) {
  return poll_until([&] { return http_get(port, "/state.js").find("\"leds\":\"" + rgb) != std::string::npos; }, 20s);
}

bool have_chromium() { return std::system("command -v chromium >/dev/null 2>&1") == 0; }

TEST(LedsimBrowserView, AHeadlessBrowserDrawsTheFrameAClientSent) {
  if (!have_chromium())
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
  browser_view view({});
  ASSERT_GT(view.http_port, 0);
  raw_client client(view.simulator.port);
  ASSERT_TRUE(client.connected);
  client.send_bytes(frame_message(-1));
  char first[8];
  std::snprintf(first, sizeof first, "%02x%02x%02x", test_colour(0, 0)[0], test_colour(0, 0)[1], test_colour(0, 0)[2]);
  ASSERT_TRUE(view_shows(view.http_port, first));

  const std::string shot = testing::TempDir() + "ledsim_browser_view.png";
  std::remove(shot.c_str());
  const std::string command = "chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars "
                              "--window-size=600,400 --timeout=3000 --screenshot=" +
                              shot + " http://127.0.0.1:" + std::to_string(view.http_port) + "/ >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::FILE *file = std::fopen(shot.c_str(), "rb");
  ASSERT_NE(file, nullptr) << "no screenshot";
  std::unique_ptr<gdImage, decltype(&gdImageDestroy)> image(gdImageCreateFromPng(file), &gdImageDestroy);
  std::fclose(file);
  ASSERT_TRUE(image);

  // The page's canvas sits at the body's margin, 16 pixels in; every LED's
  // centre shows its colour, the gap between panels the board's.
  constexpr int MARGIN = 16, SCALE = 16;
  int wrong = 0;
  for (int y = 0; y < MATRIX_HEIGHT; ++y)
    for (int x = 0; x < MATRIX_WIDTH; ++x) {
      const int pixel = gdImageGetTrueColorPixel(image.get(), MARGIN + led_board_centre(SCALE, x),
                                                 MARGIN + led_board_centre(SCALE, y));
      const std::array<u8, 3> want = test_colour(x, y);
      if (std::abs(gdTrueColorGetRed(pixel) - want[0]) > 2 || std::abs(gdTrueColorGetGreen(pixel) - want[1]) > 2 ||
          std::abs(gdTrueColorGetBlue(pixel) - want[2]) > 2)
        ++wrong;
    }
  EXPECT_EQ(wrong, 0) << "LEDs whose centre does not show the frame's colour";
  const int gap = gdImageGetTrueColorPixel(image.get(), MARGIN + led_board_centre(SCALE, 7) + SCALE,
                                           MARGIN + led_board_centre(SCALE, 3));
  EXPECT_EQ(gap & 0xffffff, LED_BOARD_COLOUR) << "the gap between the first two panels";
}

// Ten browsers that ask for the stream and never read it: the simulator
// still takes every frame a client sends, in order, as fast as it sends.
TEST(LedsimBrowserView, TenWatchersThatNeverReadHoldNothingUp) {
  const std::string log = testing::TempDir() + "ledsim_http_watchers.log";
  browser_view view({"--log", log});
  ASSERT_GT(view.http_port, 0);
  std::vector<std::unique_ptr<raw_client>> watchers;
  for (int i = 0; i < 10; ++i) {
    watchers.push_back(std::make_unique<raw_client>(view.http_port));
    ASSERT_TRUE(watchers.back()->connected);
    const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    watchers.back()->send_bytes(std::vector<u8>(request.begin(), request.end()));
  }

  constexpr int FRAMES = 1500;
  raw_client client(view.simulator.port);
  ASSERT_TRUE(client.connected);
  const auto started = std::chrono::steady_clock::now();
  for (int n = 0; n < FRAMES; ++n)
    client.send_bytes(frame_message(n));
  // Not a measurement: a held-up server would keep the client waiting for
  // as long as the browsers' write time-out, again and again.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "the client was held up";
  char last[8];
  std::snprintf(last, sizeof last, "%02x%02x00", (FRAMES - 1) >> 8, (FRAMES - 1) & 255);
  EXPECT_TRUE(view_shows(view.http_port, last)) << "the last frame did not arrive";
  EXPECT_EQ(view.simulator.stop(SIGTERM), 0);

  std::vector<wall_frame> frames;
  ASSERT_TRUE(frame_log_read(log.c_str(), &frames));
  ASSERT_EQ(frames.size(), std::size_t(FRAMES));
  for (int n = 0; n < FRAMES; ++n)
    ASSERT_EQ(frames[std::size_t(n)].rgb[0] * 256 + frames[std::size_t(n)].rgb[1], n) << "frames in order";
}

// What a watcher of the event stream receives within `span`.
std::string events_within(int port, std::chrono::milliseconds span) {
  raw_client watcher(port);
  const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  watcher.send_bytes(std::vector<u8>(request.begin(), request.end()));
  std::string got;
  const auto until = std::chrono::steady_clock::now() + span;
  for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now()) {
    pollfd ready{watcher.fd, POLLIN, 0};
    if (poll(&ready, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) + 1) <= 0)
      continue;
    char buffer[4096];
    const ssize_t n = read(watcher.fd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    got.append(buffer, std::size_t(n));
  }
  return got;
}

std::size_t count_of(const std::string &text, const std::string &what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

// While nothing changes (no client yet: the status stays "waiting"), a
// watcher gets the wall once and then nothing but the keep-alive comments,
// however often the server's loop turns.
TEST(LedsimBrowserView, AnUnchangedStatusIsSentOnce) {
  browser_view view({});
  ASSERT_GT(view.http_port, 0);
  const std::string events = events_within(view.http_port, 2500ms);
  EXPECT_EQ(count_of(events, "event: wall\n"), 1u) << events;
  EXPECT_NE(events.find("waiting for a client on 127.0.0.1:" + std::to_string(view.simulator.port)), std::string::npos)
      << events;
  EXPECT_EQ(view.simulator.stop(SIGTERM), 0);
}

} // namespace
