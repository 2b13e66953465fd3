// The simulator's browser view as a program: a real headless Chromium draws
// the page and its screenshot shows the frame a client sent, scaled to the
// window with the status under it; and browsers
// that never read hold nothing up on the OPC side.
#include "frame_log.h"
#include "http_view.h"
#include "led_board.h"
#include "matrix_wiring.h"
#include "poll_until.h"
#include "raw_opc_client.h"
#include "simulator_process.h"

#include <gd.h>
#include <poll.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
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

using image_ptr = std::unique_ptr<gdImage, decltype(&gdImageDestroy)>;

// A headless Chromium's picture of the page in a window of `width` x `height`
// CSS pixels on a screen of `device_scale` device pixels to each; null if
// it made none.
image_ptr screenshot(int port, int width, int height, int device_scale) {
  const std::string shot = testing::TempDir() + "ledsim_browser_view.png";
  std::remove(shot.c_str());
  const std::string command = "chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --window-size=" +
                              std::to_string(width) + "," + std::to_string(height) +
                              " --force-device-scale-factor=" + std::to_string(device_scale) +
                              " --timeout=3000 --screenshot=" + shot + " http://127.0.0.1:" + std::to_string(port) +
                              "/ >/dev/null 2>&1";
  image_ptr image(nullptr, &gdImageDestroy);
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  if (std::FILE *file = std::fopen(shot.c_str(), "rb")) {
    image.reset(gdImageCreateFromPng(file));
    std::fclose(file);
  }
  return image;
}

int rgb_at(gdImagePtr im, int x, int y) { return gdImageGetTrueColorPixel(im, x, y) & 0xffffff; }

// Where the board is on the screen, in device pixels. Its margin is all
// board colour: the first such pixel is the top-left corner, and its top row
// and left column run on to the other corners (an edge pixel the board
// covers only in part is left out, so the box is right to a pixel).
struct screen_box {
  int left = -1, top = -1, right = -1, bottom = -1;
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};

screen_box board_on_screen(gdImagePtr im) {
  screen_box box;
  for (int y = 0; y < gdImageSY(im) && box.left < 0; ++y)
    for (int x = 0; x < gdImageSX(im) && box.left < 0; ++x)
      if (rgb_at(im, x, y) == LED_BOARD_COLOUR)
        box.left = box.right = x, box.top = box.bottom = y;
  if (box.left < 0)
    return box;
  while (box.right + 1 < gdImageSX(im) && rgb_at(im, box.right + 1, box.top) == LED_BOARD_COLOUR)
    ++box.right;
  while (box.bottom + 1 < gdImageSY(im) && rgb_at(im, box.left, box.bottom + 1) == LED_BOARD_COLOUR)
    ++box.bottom;
  return box;
}

bool close_to(int rgb, const std::array<u8, 3> &want, int tolerance) {
  return std::abs(((rgb >> 16) & 255) - want[0]) <= tolerance && std::abs(((rgb >> 8) & 255) - want[1]) <= tolerance &&
         std::abs((rgb & 255) - want[2]) <= tolerance;
}

// A window the page is seen in, and whether the wall should fill its width
// (else it is the height, with the status under the wall, that fills it).
struct window_case {
  const char *what;
  int width, height, device_scale;
  bool fills_width;
};

TEST(LedsimBrowserView, AHeadlessBrowserDrawsTheFrameAClientSentScaledToTheWindow) {
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

  constexpr int S = HTTP_VIEW_SCALE; // the geometry the page is told, which it scales
  const window_case windows[] = {{"a small laptop window", 600, 400, 1, true},
                                 {"a phone held upright", 390, 844, 1, true},
                                 {"a phone's dense screen", 390, 844, 3, true},
                                 {"a wide, low window", 1000, 300, 1, false}};
  for (const window_case &window : windows) {
    SCOPED_TRACE(window.what);
    const image_ptr image = screenshot(view.http_port, window.width, window.height, window.device_scale);
    ASSERT_TRUE(image) << "no screenshot";
    gdImagePtr im = image.get();
    const int screen_width = gdImageSX(im), screen_height = gdImageSY(im);
    ASSERT_EQ(screen_width, window.width * window.device_scale);
    const screen_box board = board_on_screen(im);
    ASSERT_GE(board.right, 0) << "no board on the screen";

    // The board's own shape, as large as the window allows.
    EXPECT_NEAR(double(board.width()) / board.height(), double(led_board_width(S)) / led_board_height(S), 0.02);
    if (window.fills_width)
      EXPECT_GE(board.width(), screen_width - 40 * window.device_scale) << "the wall does not fill the width";
    else
      EXPECT_LT(board.width(), screen_width - 40 * window.device_scale) << "the wall should fit the height";
    EXPECT_LT(board.right, screen_width);

    // Every LED's centre shows its colour, the gap between panels the board's.
    const double k = double(board.width()) / led_board_width(S);
    const auto at = [&](int board_x, int board_y) {
      return rgb_at(im, board.left + int((board_x + 0.5) * k), board.top + int((board_y + 0.5) * k));
    };
    int wrong = 0;
    for (int y = 0; y < MATRIX_HEIGHT; ++y)
      for (int x = 0; x < MATRIX_WIDTH; ++x)
        wrong += !close_to(at(led_board_centre(S, x), led_board_centre(S, y)), test_colour(x, y), 2);
    EXPECT_EQ(wrong, 0) << "LEDs whose centre does not show the frame's colour";
    EXPECT_EQ(at((led_board_centre(S, 7) + led_board_centre(S, 8)) / 2, led_board_centre(S, 3)), LED_BOARD_COLOUR)
        << "the gap between the first two panels";

    // Sharp at the screen's own resolution: through the middle of a row of
    // dots, each dot's edge blends board and LED in about one device pixel,
    // where a canvas of CSS pixels stretched over the screen would take two
    // or more.
    const int row = board.top + int((led_board_centre(S, 5) + 0.5) * k);
    int blended = 0;
    for (int x = board.left; x <= board.right; ++x) {
      const int rgb = rgb_at(im, x, row);
      bool pure = rgb == LED_BOARD_COLOUR;
      for (int column = 0; column < MATRIX_WIDTH && !pure; ++column)
        pure = close_to(rgb, test_colour(column, 5), 2);
      blended += !pure;
    }
    EXPECT_LE(blended, 3 * MATRIX_WIDTH) << "blurred dot edges";

    // The status, light text on black, is under the wall and on the screen.
    int text = 0;
    for (int y = board.bottom + 1; y < screen_height; ++y)
      for (int x = 0; x < screen_width; ++x)
        text += (rgb_at(im, x, y) >> 8 & 255) > 0x60;
    EXPECT_GT(text, 50 * window.device_scale * window.device_scale) << "no status under the wall";
  }
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
