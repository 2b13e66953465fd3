// The whole show in virtual time: the demo's own driver linked with the
// virtual clock and the virtual player (which decodes the real soundtrack
// block by block and feeds the analyser's tap), playing to a loopback server.
// It checks the show's shape and exit status and writes a digest of every
// frame (tests/show_digest.txt in the build folder), so that a change can
// show it left the output untouched.
#include "assets.h"
#include "child_process.h"
#include "fades.h"
#include "image_zoom.h"
#include "loopback_opc_server.h"
#include "show_frames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
// Pixel (x, y) of a frame in image order.
std::array<int, 3> pixel(const show_frame &f, int x, int y) {
  const size_t at = size_t(3 * (32 * y + x));
  return {f[at], f[at + 1], f[at + 2]};
}

std::uint64_t fnv1a(const std::vector<u8> &bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (u8 b : bytes)
    h = (h ^ b) * 1099511628211ull;
  return h;
}

// Runs the virtual-time demo against `server`; its exit status.
int run_show(const loopback_opc_server &server) {
  child_process demo({DEMO_VIRTUAL}, {"OPC=" + server.hostport()});
  return demo.wait(10min);
}

TEST(WholeShow, PlaysEverySceneInOrderAndEndsWithTheSoundtrack) {
  loopback_opc_server server;
  ASSERT_EQ(run_show(server), 0);
  ASSERT_TRUE(server.wait_until_drained(1min)) << "frames were still coming after the show had ended";
  const auto messages = server.messages();
  ASSERT_GT(messages.size(), 10000u);
  EXPECT_EQ(server.connections(), 1u) << "one connection for the whole show";

  std::vector<show_frame> frames;
  for (const auto &m : messages) {
    ASSERT_EQ(m.length, 1536);
    frames.push_back(in_image_order(m.data));
  }

  // The title fades the normalised whole canvas in from black.
  gdImagePtr canvas = gdImageCreateFromPngPtr(int(PNG_VORN_GREETINGS_SIZE), const_cast<unsigned char *>(PNG_VORN_GREETINGS));
  gdImagePtr whole = gdImageCreateTrueColor(32, 16);
  const image_zoom_t zoom = image_zoom_init(whole, canvas);
  image_zoom_calc(zoom, 1024, 512, 64.0f);
  image_normalize(whole);
  EXPECT_TRUE(is_black(frames[0]));
  const int c = gdImageGetPixel(whole, 16, 8);
  EXPECT_EQ(pixel(frames[23], 16, 8), (std::array<int, 3>{gdTrueColorGetRed(c) * 23 / 24,
                                                      gdTrueColorGetGreen(c) * 23 / 24,
                                                      gdTrueColorGetBlue(c) * 23 / 24}));
  image_zoom_done(zoom);
  gdImageDestroy(canvas);
  gdImageDestroy(whole);

  // The thank-you slide's first word enters from the bottom row, once.
  const show_frame entering = thank_you_entering_frame();
  std::vector<size_t> found;
  for (size_t i = 0; i < frames.size(); ++i)
    if (frames[i] == entering)
      found.push_back(i);
  ASSERT_EQ(found.size(), 1u) << "the thank-you slide plays once";
  EXPECT_TRUE(is_black(frames[found[0] - 1])) << "its first frame is black";
  EXPECT_FALSE(is_black(frames[found[0] - 2])) << "the first credit ends on its picture at 4 %, not on black";
  // After the slide: three credits of 250 frames, the first of them black.
  EXPECT_TRUE(is_black(frames[found[0] + 63]));
  EXPECT_TRUE(is_black(frames[found[0] + 62 + 1 + 250]));

  // The show ends on black frames after the greetings' fade.
  EXPECT_TRUE(is_black(frames.back()));

  std::FILE *digest = std::fopen("show_digest.txt", "w");
  ASSERT_NE(digest, nullptr);
  std::uint64_t all = 1469598103934665603ull;
  for (const auto &m : messages) {
    const std::uint64_t h = fnv1a(m.data);
    std::fprintf(digest, "%016" PRIx64 "\n", h);
    all = (all ^ h) * 1099511628211ull;
  }
  std::fclose(digest);
  std::printf("whole show: %zu frames, digest %016" PRIx64 "\n", messages.size(), all);
}

} // namespace
