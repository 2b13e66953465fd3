// From a libgd image to the LEDs: the wiring table and what arrives on the wire.
#include "loopback_opc_server.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "output_capture.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

using image_ptr = gd_image_ptr;

image_ptr true_colour(int w, int h) { return image_ptr(gdImageCreateTrueColor(w, h)); }

struct rgb {
  int r, g, b;
  bool operator==(const rgb &) const = default;
};

// The LED index of every image pixel, found by walking the chain of panels the
// way the wall is wired, one LED after the other.
std::array<int, 512> walk_the_wiring() {
  std::array<int, 512> led_of_position{};
  int led = 0;
  for (int panel_row = 0; panel_row < 2; ++panel_row)
    for (int panel_col = 0; panel_col < 4; ++panel_col)
      for (int row = 0; row < 8; ++row)
        for (int step = 0; step < 8; ++step) {
          const int col = row % 2 == 0 ? step : 7 - step;
          led_of_position[size_t(32 * (8 * panel_row + row) + 8 * panel_col + col)] = led++;
        }
  return led_of_position;
}

TEST(MatrixWiring, TableFollowsTheSerpentinePanelChain) {
  const auto walked = walk_the_wiring();
  for (int p = 0; p < 512; ++p)
    EXPECT_EQ(tlm_32x16z[size_t(p)], walked[size_t(p)]) << "image position " << p;
}

TEST(MatrixWiring, WorkedExamples) {
  const auto at = [](int x, int y) { return tlm_32x16z[size_t(32 * y + x)]; };
  EXPECT_EQ(at(0, 0), 0);
  EXPECT_EQ(at(7, 0), 7);
  EXPECT_EQ(at(8, 0), 64);
  EXPECT_EQ(at(0, 1), 15);
  EXPECT_EQ(at(7, 1), 8);
  EXPECT_EQ(at(31, 7), 248);
  EXPECT_EQ(at(0, 8), 256);
  EXPECT_EQ(at(31, 15), 504);
}

TEST(MatrixWiring, TableIsAPermutationAndTheInverseUndoesIt) {
  std::array<u16, 512> sorted = tlm_32x16z;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < 512; ++i)
    ASSERT_EQ(sorted[size_t(i)], i);
  for (int p = 0; p < 512; ++p)
    EXPECT_EQ(matrix_led_to_position[tlm_32x16z[size_t(p)]], p);
}

class MatrixOutput : public testing::Test {
protected:
  loopback_opc_server server;
  opc_sink sink = opc_new_sink(server.hostport().c_str());

  // Sends the image and returns the 512 LED colours the server received.
  std::vector<rgb> send(gdImagePtr im) {
    const size_t before = server.messages().size();
    EXPECT_EQ(opc_put_gd_image_32x16z(sink, im), 1);
    EXPECT_TRUE(server.wait_for_messages(before + 1, 5s));
    const auto message = server.messages().at(before);
    EXPECT_EQ(message.channel, 0);
    EXPECT_EQ(message.command, 0);
    EXPECT_EQ(message.length, 1536);
    std::vector<rgb> leds;
    for (size_t i = 0; i + 2 < message.data.size(); i += 3)
      leds.push_back({message.data[i], message.data[i + 1], message.data[i + 2]});
    EXPECT_EQ(leds.size(), 512u);
    return leds;
  }
};

TEST_F(MatrixOutput, EachSingleLitPixelLightsExactlyItsLed) {
  auto im = true_colour(32, 16);
  for (int p = 0; p < 512; ++p) {
    gdImageFilledRectangle(im.get(), 0, 0, 31, 15, 0);
    gdImageSetPixel(im.get(), p % 32, p / 32, gdTrueColor(255, 255, 255));
    const auto leds = send(im.get());
    for (int led = 0; led < 512; ++led) {
      const bool lit = leds[size_t(led)] == rgb{255, 255, 255};
      ASSERT_EQ(lit, led == tlm_32x16z[size_t(p)]) << "pixel " << p << " LED " << led;
    }
  }
}

TEST_F(MatrixOutput, FirstLedsShowTheTopLeftPixelsInRedGreenBlueOrder) {
  auto im = true_colour(32, 16);
  gdImageSetPixel(im.get(), 0, 0, gdTrueColor(0x11, 0x22, 0x33));
  gdImageSetPixel(im.get(), 1, 0, gdTrueColor(0x44, 0x55, 0x66));
  gdImageSetPixel(im.get(), 2, 0, gdTrueColor(0x77, 0x88, 0x99));
  gdImageSetPixel(im.get(), 0, 1, gdTrueColor(1, 2, 3));
  gdImageSetPixel(im.get(), 8, 0, gdTrueColor(4, 5, 6));
  gdImageSetPixel(im.get(), 0, 8, gdTrueColor(7, 8, 9));
  const auto leds = send(im.get());
  EXPECT_EQ(leds[0], (rgb{0x11, 0x22, 0x33}));
  EXPECT_EQ(leds[1], (rgb{0x44, 0x55, 0x66}));
  EXPECT_EQ(leds[2], (rgb{0x77, 0x88, 0x99}));
  EXPECT_EQ(leds[15], (rgb{1, 2, 3}));
  EXPECT_EQ(leds[64], (rgb{4, 5, 6}));
  EXPECT_EQ(leds[256], (rgb{7, 8, 9}));
}

TEST_F(MatrixOutput, AlphaHasNoEffectOnTheLeds) {
  auto im = true_colour(32, 16);
  gdImageAlphaBlending(im.get(), 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      gdImageSetPixel(im.get(), x, y, gdTrueColorAlpha(10 * (x % 8), 5 * y, 200, (x + y) % 128));
  const auto leds = send(im.get());
  for (int p = 0; p < 512; ++p)
    EXPECT_EQ(leds[tlm_32x16z[size_t(p)]], (rgb{10 * (p % 32 % 8), 5 * (p / 32), 200}));
}

TEST_F(MatrixOutput, PaletteImageSendsItsPaletteColours) {
  image_ptr im(gdImageCreate(32, 16));
  const int dark = gdImageColorAllocate(im.get(), 0, 0, 40);
  const int orange = gdImageColorAllocate(im.get(), 250, 120, 5);
  gdImageFilledRectangle(im.get(), 0, 0, 31, 15, dark);
  gdImageSetPixel(im.get(), 31, 15, orange);
  gdImageSetPixel(im.get(), 8, 0, orange);
  const auto leds = send(im.get());
  for (int led = 0; led < 512; ++led) {
    const bool orange_led = led == 504 || led == 64;
    EXPECT_EQ(leds[size_t(led)], (orange_led ? rgb{250, 120, 5} : rgb{0, 0, 40})) << "LED " << led;
  }
}

TEST_F(MatrixOutput, LargerImageIsAveragedDownToTheWall) {
  // Each 2x2 block of the 64x32 image mixes two colours whose mean is known.
  auto im = true_colour(64, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      const int bx = x / 2, by = y / 2;
      const bool diagonal = (x + y) % 2 == 0;
      gdImageSetPixel(im.get(), x, y,
                      diagonal ? gdTrueColor(4 * bx + 20, 8 * by, 100) : gdTrueColor(4 * bx, 8 * by + 40, 200));
    }
  const auto leds = send(im.get());
  for (int p = 0; p < 512; ++p) {
    const int bx = p % 32, by = p / 32;
    const rgb got = leds[tlm_32x16z[size_t(p)]];
    const rgb mean{4 * bx + 10, 8 * by + 20, 150};
    EXPECT_NEAR(got.r, mean.r, 1) << "position " << p;
    EXPECT_NEAR(got.g, mean.g, 1) << "position " << p;
    EXPECT_NEAR(got.b, mean.b, 1) << "position " << p;
  }
}

TEST_F(MatrixOutput, OnePixelImageLightsTheWholeWall) {
  auto im = true_colour(1, 1);
  gdImageSetPixel(im.get(), 0, 0, gdTrueColor(30, 60, 90));
  const auto leds = send(im.get());
  for (const rgb &led : leds)
    EXPECT_EQ(led, (rgb{30, 60, 90}));
}

TEST(MatrixOutputFailure, UndeliverableFrameGivesZero) {
  u16 port = 0;
  {
    loopback_opc_server gone;
    port = gone.port();
  }
  const opc_sink sink = opc_new_sink(("127.0.0.1:" + std::to_string(port)).c_str());
  auto im = true_colour(32, 16);
  stderr_capture err;
  EXPECT_EQ(opc_put_gd_image_32x16z(sink, im.get()), 0);
  EXPECT_NE(err.text().find("OPC: Failed to connect to"), std::string::npos);
}

// In a child process of its own: with the address space capped just above
// what it uses and the heap used up, no image can be made any more. Returns
// 0 when the frame was dropped, 1 when it was not, 2 when the cap could not
// be set and 3 when it is not enforced (an emulator may keep it to itself).
int send_without_memory(gdImagePtr im) {
  long pages = 0;
  std::FILE *statm = std::fopen("/proc/self/statm", "r");
  if (!statm || std::fscanf(statm, "%ld", &pages) != 1)
    return 2;
  std::fclose(statm);
  rlimit cap{};
  cap.rlim_cur = cap.rlim_max = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (16u << 20);
  if (setrlimit(RLIMIT_AS, &cap) != 0)
    return 2;
  // Each block is kept where the compiler must write it, so no allocation
  // can be left out.
  [[maybe_unused]] static void *volatile kept;
  void *block = std::malloc(64u << 20);
  kept = block;
  if (block)
    return 3;
  for (std::size_t size = 1u << 20; size >= 8; size /= 2)
    for (block = std::malloc(size); block; block = std::malloc(size))
      kept = block;
  return opc_put_gd_image_32x16z(-1, im) == 0 ? 0 : 1;
}

TEST(MatrixOutputFailure, AScalingImageThatCannotBeMadeDropsTheFrameWithAMessage) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator does not run under an address-space cap";
#endif
  auto im = true_colour(64, 32);
  stderr_capture err;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0)
    _exit(send_without_memory(im.get()));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) >= 2)
    GTEST_SKIP() << "no address-space cap here (" << WEXITSTATUS(status) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(err.text(), "OPC: Cannot create the 32x16 scaling image\n");
}

} // namespace
