// The whole show in virtual time: the demo's own driver linked with the
// virtual clock and the virtual player (which decodes the real soundtrack
// block by block and feeds the analyser's tap), playing to a loopback server.
// It checks the show's shape and exit status, writes a digest of every frame
// (tests/show_digest.txt in the build folder) and holds it against the
// committed one (tests/show_digest.golden), which every build must give, on
// every architecture. A change that means to change frames regenerates the
// committed digest (scripts/update-show-digest.sh) and says why.
#include "assets.h"
#include "child_process.h"
#include "fades.h"
#include "image_zoom.h"
#include "file_contents.h"
#include "loopback_opc_server.h"
#include "scene_marks.h"
#include "show_frames.h"
#include "show_timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <sstream>
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
  std::vector<show_frame> frames;  // the messages' pixels in image order
  std::vector<std::string> digest; // one line per message, as the digest file holds it
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
    for (const auto &m : r.messages) {
      char line[17];
      std::snprintf(line, sizeof line, "%016" PRIx64, fnv1a(m.data));
      r.digest.emplace_back(line);
    }
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
  for (const std::string &line : run.digest)
    std::fprintf(digest, "%s\n", line.c_str());
  std::fclose(digest);
}

// About when each frame goes out in virtual time, and so which scene it
// belongs to, worked out from the timeline alone: a period between frames,
// two in front of a scene's first frame (its frame clock's first wait), the
// scenes placed one after another as the simulator places them, on the
// timeline's cues and frame counts. Pauses inside a scene (the panorama's
// rest, a fade's own clock) are not in it, so by the analyser the estimate
// runs about a second ahead: a frame near a scene's start may be given the
// scene before.
struct virtual_timing {
  std::vector<std::int64_t> sent_ns;
  std::vector<scene_mark> marks;
};

virtual_timing virtual_timing_of(std::size_t frames) {
  constexpr std::int64_t PERIOD_NS = 40'000'000;
  virtual_timing v;
  v.sent_ns.resize(frames);
  for (std::size_t placed = 1; placed <= SHOW_SCENES.size(); ++placed) {
    std::int64_t now = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < frames; ++i) {
      const bool starts = next < v.marks.size() && v.marks[next].frame == i;
      next += starts;
      now += (starts ? 2 : 1) * PERIOD_NS;
      v.sent_ns[i] = now;
    }
    v.marks = show_scene_marks(v.sent_ns, std::span(SHOW_SCENES).first(placed));
  }
  return v;
}

// The show sends the frames of the committed digest, on every build.
TEST(WholeShow, SendsTheFramesOfTheCommittedDigest) {
  const recorded_show &run = show();
  ASSERT_EQ(run.status, 0);
  std::vector<std::string> golden;
  std::istringstream lines(file_text(SHOW_DIGEST_GOLDEN));
  for (std::string line; std::getline(lines, line);)
    golden.push_back(line);
  ASSERT_GT(golden.size(), 10000u) << "cannot read " << SHOW_DIGEST_GOLDEN;

  const std::size_t common = std::min(golden.size(), run.digest.size());
  const virtual_timing timing = virtual_timing_of(std::max(golden.size(), run.digest.size()));
  std::size_t first = common, differing = 0;
  std::vector<std::pair<std::string, std::size_t>> by_scene; // in the show's order
  for (std::size_t i = 0; i < common; ++i)
    if (golden[i] != run.digest[i]) {
      first = std::min(first, i);
      ++differing;
      const std::string scene = show_scene_of(timing.marks, i);
      if (by_scene.empty() || by_scene.back().first != scene)
        by_scene.emplace_back(scene, 0);
      ++by_scene.back().second;
    }
  if (first == common && golden.size() == run.digest.size())
    return;

  std::ostringstream report;
  report << "the show sent " << run.digest.size() << " frames, the committed digest has " << golden.size();
  if (first < common) {
    const double at_s = double(timing.sent_ns[first]) / 1e9;
    char at[32];
    std::snprintf(at, sizeof at, "%d:%06.3f", int(at_s) / 60, at_s - 60 * (int(at_s) / 60));
    report << "; frame " << first << " is the first that differs (about " << at << " into the show, in the scene \""
           << show_scene_of(timing.marks, first) << "\", as far as the timeline tells), " << differing << " of "
           << common << " differ:";
    for (const auto &[scene, count] : by_scene)
      report << " \"" << scene << "\" " << count;
  }
  ADD_FAILURE() << report.str()
                << ".\nA change that means to change the show's frames runs scripts/update-show-digest.sh and says "
                   "why in its commit.";
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
