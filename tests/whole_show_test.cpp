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
#include "show_timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <thread>
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

// The virtual-time demo's run, once per test program: its exit status, the
// connections it made and every message it sent.
struct recorded_show {
  int status = -1;
  std::size_t connections = 0;
  std::vector<received_message> messages;
  std::vector<show_frame> frames; // the messages' pixels in image order
};

const recorded_show &show() {
  static const recorded_show run = [] {
    recorded_show r;
    loopback_opc_server server;
    child_process demo({DEMO_VIRTUAL}, {"OPC=" + server.hostport()});
    r.status = demo.wait(10min);
    EXPECT_TRUE(server.wait_until_drained(1min)) << "frames were still coming after the show had ended";
    r.connections = server.connections();
    r.messages = server.messages();
    for (const auto &m : r.messages)
      if (m.length == 1536)
        r.frames.push_back(in_image_order(m.data));
    return r;
  }();
  return run;
}

// The first frame of the thank-you slide: the one before its first word comes in.
std::size_t thank_you_start(const std::vector<show_frame> &frames) {
  const auto entering = std::find(frames.begin(), frames.end(), thank_you_entering_frame());
  return entering == frames.begin() || entering == frames.end() ? frames.size()
                                                                 : std::size_t(entering - frames.begin()) - 1;
}

TEST(WholeShow, PlaysEverySceneInOrderAndEndsWithTheSoundtrack) {
  const recorded_show &run = show();
  ASSERT_EQ(run.status, 0);
  const auto &messages = run.messages;
  ASSERT_GT(messages.size(), 10000u);
  EXPECT_EQ(run.connections, 1u) << "one connection for the whole show";
  ASSERT_EQ(run.frames.size(), messages.size()) << "every message a whole frame";
  const std::vector<show_frame> &frames = run.frames;

  // The title fades the normalised whole canvas in from black, then the
  // music starts and it holds the canvas.
  gdImagePtr canvas = gdImageCreateFromPngPtr(int(PNG_VORN_GREETINGS_SIZE), const_cast<unsigned char *>(PNG_VORN_GREETINGS));
  gdImagePtr whole = gdImageCreateTrueColor(32, 16);
  const image_zoom_t zoom = image_zoom_init(whole, canvas);
  image_zoom_calc(zoom, 1024, 512, 64.0f);
  image_normalize(whole);
  EXPECT_TRUE(is_black(frames[0]));
  const int c = gdImageGetPixel(whole, 16, 8);
  constexpr int fade = PLAYBACK_STARTS_AFTER_FRAMES;
  EXPECT_EQ(pixel(frames[fade - 1], 16, 8), (std::array<int, 3>{gdTrueColorGetRed(c) * (fade - 1) / fade,
                                                             gdTrueColorGetGreen(c) * (fade - 1) / fade,
                                                             gdTrueColorGetBlue(c) * (fade - 1) / fade}));
  EXPECT_EQ(pixel(frames[fade], 16, 8),
            (std::array<int, 3>{gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)}));
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

// The scenes of fixed length, where their frames mark where they begin, play
// the timeline's frame counts in the timeline's order.
TEST(WholeShow, PlaysTheFrameCountsOfTheTimeline) {
  const std::vector<show_frame> &frames = show().frames;
  ASSERT_GT(frames.size(), 10000u);
  const auto black_inside = [&](std::size_t from, std::size_t to) {
    return std::any_of(frames.begin() + std::ptrdiff_t(from), frames.begin() + std::ptrdiff_t(to), is_black);
  };

  // Present and logo, between the title's hold and the panorama: the present
  // scene's first frame is the title's canvas alone and the word comes in on
  // its second; the logo and the panorama each open on the show's next black
  // frames.
  std::size_t logo = 1;
  while (logo < frames.size() && !is_black(frames[logo]))
    ++logo;
  ASSERT_GT(logo, std::size_t(PLAYBACK_STARTS_AFTER_FRAMES + PRESENT_FRAMES));
  const std::size_t present = logo - PRESENT_FRAMES, panorama = logo + LOGO_FRAMES;
  EXPECT_EQ(frames[present], frames[present - 1]) << "the title's hold, then the present scene's first frame";
  EXPECT_NE(frames[present + 1], frames[present]) << "the word comes in on the present scene's second frame";
  ASSERT_LT(panorama, frames.size());
  EXPECT_FALSE(black_inside(logo + 1, panorama)) << "the logo";
  EXPECT_TRUE(is_black(frames[panorama])) << "the panorama's fade-in starts on black";

  // From the first credit to the greetings, found from the thank-you slide:
  // each of these scenes opens on a black frame (the slide's last one is
  // black too), a credit has no other; the analyser before them and the
  // greetings after them show pictures there.
  const std::size_t first = show_scene_index("credits: lead"), thank_you = show_scene_index("thank you");
  std::size_t start = thank_you_start(frames);
  ASSERT_LT(start, frames.size()) << "the thank-you slide was not found";
  for (std::size_t i = first; i < thank_you; ++i)
    start -= std::size_t(SHOW_SCENES[i].frames);
  EXPECT_FALSE(is_black(frames[start - 1])) << "the analyser's last frame";
  std::size_t i = first;
  for (; SHOW_SCENES[i].end == scene_end::after_frames; ++i) {
    const show_scene &scene = SHOW_SCENES[i];
    const std::size_t end = start + std::size_t(scene.frames);
    ASSERT_LT(end, frames.size()) << scene.name;
    EXPECT_TRUE(is_black(frames[start])) << scene.name << " opens on black at frame " << start;
    if (i != thank_you) {
      EXPECT_FALSE(black_inside(start + 1, end)) << scene.name;
    }
    start = end;
  }
  EXPECT_FALSE(is_black(frames[start])) << SHOW_SCENES[i].name << " opens on a picture";
}

} // namespace
