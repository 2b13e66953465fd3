// The video renderer as a program: a few seconds of the show rendered small,
// read back with FFmpeg's libraries and held against the frames the show
// sends and the soundtrack it plays; and its refusals.
#include "assets.h"
#include "child_process.h"
#include "file_contents.h"
#include "led_board.h"
#include "loopback_opc_server.h"
#include "poll_until.h"
#include "show_frames.h"
#include "show_timeline.h"
#include "tremor_in_ram.h"
#include "video_probe.h"

#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int SCALE = 8;
// The end of the first credit, the thank-you slide and the start of the
// second credit.
constexpr double FROM_S = 163.0, TO_S = 170.0;

std::string temporary_folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/render_test.XXXXXX";
    return std::string(mkdtemp(name) ? name : "/tmp");
  }();
  return folder;
}

// The start of the first credit in show time: the analyser ends at its cue,
// which lies the title's fade-in into the show.
constexpr std::int64_t CREDITS_LEAD_MS =
    show_cue_ms("analyser") + (PLAYBACK_STARTS_AFTER_FRAMES + 1) * 40;

std::string time_text(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d.%03d", int(ms / 60000), int(ms / 1000 % 60), int(ms % 1000));
  return text;
}

// The names in a folder, sorted, "." and ".." left out.
std::vector<std::string> names_in(const std::string &folder) {
  std::vector<std::string> names;
  if (DIR *dir = opendir(folder.c_str())) {
    while (const dirent *entry = readdir(dir))
      if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
        names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A folder of its own holding OUT.mp4 from before, for what a render that
// does not finish must leave: that file as it was, and nothing else.
struct earlier_video {
  std::string folder, out;
  std::vector<unsigned char> bytes;
};

earlier_video with_earlier_video(const std::string &name) {
  earlier_video e{temporary_folder() + "/" + name, temporary_folder() + "/" + name + "/OUT.mp4", {}};
  EXPECT_EQ(mkdir(e.folder.c_str(), 0755), 0) << e.folder;
  for (int i = 0; i < 5000; ++i)
    e.bytes.push_back((unsigned char)(i * 7 + i / 256));
  std::ofstream(e.out, std::ios::binary).write(reinterpret_cast<const char *>(e.bytes.data()), std::streamsize(e.bytes.size()));
  return e;
}

void expect_left_as_it_was(const earlier_video &e) {
  EXPECT_EQ(names_in(e.folder), std::vector<std::string>{"OUT.mp4"}) << "no temporary or other file is left";
  EXPECT_EQ(file_bytes(e.out), e.bytes) << "the earlier video is as it was";
}

struct run_result {
  int status;
  std::string err;
};

run_result render(const std::vector<std::string> &arguments, std::chrono::milliseconds limit = 120s) {
  std::vector<std::string> argv{RENDER};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  child_process renderer(argv, {}, "", child_streams::apart);
  const int status = renderer.wait(limit);
  return {status, renderer.errors()};
}

// One render of the range for every test that reads it.
const std::string &rendered() {
  static const std::string path = [] {
    const std::string out = temporary_folder() + "/part.mp4";
    const run_result run = render({out, "--from", "2:43", "--to", "2:50", "--scale", std::to_string(SCALE), "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "without a terminal nothing but errors";
    return out;
  }();
  return path;
}

// Every frame the show sends, in virtual time, as the whole-show test records them.
const std::vector<show_frame> &show_frames() {
  static const std::vector<show_frame> frames = [] {
    loopback_opc_server server;
    child_process demo({DEMO_VIRTUAL}, {"OPC=" + server.hostport()});
    EXPECT_EQ(demo.wait(5min), 0);
    EXPECT_TRUE(server.wait_until_drained(1min));
    std::vector<show_frame> all;
    for (const auto &m : server.messages())
      all.push_back(in_image_order(m.data));
    return all;
  }();
  return frames;
}

// The LEDs' centre colours in a decoded picture.
show_frame wall_in_picture(const std::vector<unsigned char> &rgb, int width, int height) {
  const int x0 = (width - led_board_width(SCALE)) / 2, y0 = (height - led_board_height(SCALE)) / 2;
  show_frame wall{};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      for (int c = 0; c < 3; ++c)
        wall[std::size_t(3 * (32 * y + x) + c)] =
            rgb[std::size_t(3 * ((y0 + led_board_centre(SCALE, y)) * width + x0 + led_board_centre(SCALE, x)) + c)];
  return wall;
}

int distance(const show_frame &a, const show_frame &b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

// A tag of the linked-in soundtrack, as its decoder reads it.
std::string soundtrack_tag(const std::string &name) {
  OggVorbis_File vf{};
  EXPECT_EQ(ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf), 0);
  std::string value;
  const vorbis_comment *comments = ov_comment(&vf, -1);
  for (int i = 0; i < comments->comments; ++i) {
    const std::string comment = comments->user_comments[i];
    if (comment.size() > name.size() && comment[name.size()] == '=' &&
        strncasecmp(comment.c_str(), name.c_str(), name.size()) == 0)
      value = comment.substr(name.size() + 1);
  }
  ov_clear(&vf);
  return value;
}

std::vector<std::int16_t> soundtrack_samples(int *rate) {
  OggVorbis_File vf{};
  EXPECT_EQ(ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf), 0);
  *rate = int(ov_info(&vf, -1)->rate);
  std::vector<std::int16_t> samples;
  char buffer[8192];
  int bitstream = 0;
  // Up to 15 s after the range is enough.
  while (samples.size() < std::size_t(*rate) * 2 * std::size_t(TO_S + 15)) {
    const long got = ov_read(&vf, buffer, sizeof buffer, &bitstream);
    if (got <= 0)
      break;
    const auto *s = reinterpret_cast<const std::int16_t *>(buffer);
    samples.insert(samples.end(), s, s + got / 2);
  }
  ov_clear(&vf);
  return samples;
}

TEST(Render, WritesTheRangeAsH264And44100HzStereoAacWithTheSoundtracksTags) {
  video_probe_info info;
  std::string error;
  ASSERT_TRUE(video_probe_read(rendered(), &info, &error)) << error;
  EXPECT_EQ(info.video_streams, 1);
  EXPECT_EQ(info.video_codec, "h264");
  EXPECT_EQ(info.pixel_format, "yuv420p");
  EXPECT_DOUBLE_EQ(info.fps, 25.0);
  EXPECT_EQ(info.video_frames, long((TO_S - FROM_S) * 25)) << "one frame per 40 ms of the range";
  EXPECT_EQ(info.width, (led_board_width(SCALE) + 1) / 2 * 2);
  EXPECT_EQ(info.height, (led_board_height(SCALE) + 1) / 2 * 2);
  EXPECT_EQ(info.audio_streams, 1);
  EXPECT_EQ(info.audio_codec, "aac");
  EXPECT_EQ(info.sample_rate, 44100);
  EXPECT_EQ(info.channels, 2);
  EXPECT_NEAR(info.audio_seconds, TO_S - FROM_S, 0.03);
  EXPECT_EQ(info.title, soundtrack_tag("TITLE"));
  EXPECT_EQ(info.artist, soundtrack_tag("ARTIST"));
  EXPECT_NE(info.title, "");
  // Passed on with the video: whose it is and under which licence.
  EXPECT_NE(info.copyright.find("The NEON DRIFT developers"), std::string::npos) << info.copyright;
  EXPECT_NE(info.copyright.find("Creative Commons Attribution 4.0 International"), std::string::npos)
      << info.copyright;
}

// Three moments in three scenes: each picture is, LED for LED and within
// what compression costs, one the show sends in that scene, and far from
// every frame of the other two.
TEST(Render, ShowsTheFramesTheShowSendsAtTheirMoments) {
  const std::vector<show_frame> &frames = show_frames();
  ASSERT_GT(frames.size(), 10000u);
  // The thank-you slide starts on the black frame before its first word
  // comes in; the credits around it play their fixed counts.
  const auto entering = std::find(frames.begin(), frames.end(), thank_you_entering_frame());
  ASSERT_NE(entering, frames.end());
  const std::size_t thank_you = std::size_t(entering - frames.begin()) - 1;
  const std::size_t lead = thank_you - CREDITS_FRAMES, graphics = thank_you + THANK_YOU_FRAMES,
                    music = graphics + CREDITS_FRAMES;
  struct moment {
    double show_s;
    std::size_t from, to; // the scene's frames
  };
  const moment moments[] = {{164.0, lead, thank_you}, {166.5, thank_you, graphics}, {169.0, graphics, music}};

  video_probe_info info;
  std::string error;
  ASSERT_TRUE(video_probe_read(rendered(), &info, &error)) << error;
  std::vector<long> numbers;
  for (const moment &m : moments)
    numbers.push_back(std::lround((m.show_s - FROM_S) * 25));
  std::vector<std::vector<unsigned char>> pictures;
  ASSERT_TRUE(video_probe_frames(rendered(), numbers, &pictures, &error)) << error;

  constexpr int COMPRESSION = 56, APART = 96;
  for (std::size_t i = 0; i < std::size(moments); ++i) {
    const moment &m = moments[i];
    const show_frame wall = wall_in_picture(pictures[i], info.width, info.height);
    int inside = 255, outside = 255;
    for (std::size_t f = lead; f < music; ++f) {
      int &nearest = f >= m.from && f < m.to ? inside : outside;
      nearest = std::min(nearest, distance(wall, frames[f]));
    }
    EXPECT_LE(inside, COMPRESSION) << "at " << m.show_s << " s";
    EXPECT_GE(outside, APART) << "at " << m.show_s << " s";
    std::printf("at %.1f s: %d levels from the nearest frame of its scene, %d from the others\n", m.show_s, inside,
                outside);
  }
}

// A range given by scenes' names runs from one's start to the next's: the
// thank-you slide is its frames and the wait before its first one.
TEST(Render, RendersARangeGivenByScenes) {
  const std::string out = temporary_folder() + "/thank_you.mp4";
  const run_result run = render({out, "--from", "thank you", "--to", "credits: graphics", "--scale", "4", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  video_probe_info info;
  std::string error;
  ASSERT_TRUE(video_probe_read(out, &info, &error)) << error;
  EXPECT_EQ(info.video_frames, THANK_YOU_FRAMES + 1);
}

// The sound is the soundtrack, starting where the show starts playback:
// after the title's fade-in, within one frame.
TEST(Render, PlaysTheSoundtrackFromWherePlaybackStartsWithinAFrame) {
  std::vector<float> sound;
  int channels = 0, rate = 0;
  std::string error;
  ASSERT_TRUE(video_probe_audio(rendered(), &sound, &channels, &rate, &error)) << error;
  ASSERT_EQ(channels, 2);
  int soundtrack_rate = 0;
  const std::vector<std::int16_t> soundtrack = soundtrack_samples(&soundtrack_rate);
  ASSERT_EQ(rate, soundtrack_rate);

  // Half a second of the render, 1 s in, against every offset of the
  // soundtrack: where it matches best is where playback started.
  const std::size_t window = std::size_t(rate) / 2, at = std::size_t(rate);
  ASSERT_GT(sound.size() / 2, at + window);
  double best = -1;
  long best_offset = 0;
  const long expected = std::lround((FROM_S + 1.0 - (PLAYBACK_STARTS_AFTER_FRAMES + 1) * 0.04) * rate);
  for (long offset = expected - rate / 5; offset <= expected + rate / 5; ++offset) {
    double dot = 0, a = 0, b = 0;
    for (std::size_t i = 0; i < window; i += 2) { // the left channel, every other sample
      const double x = sound[2 * (at + i)], y = soundtrack[2 * std::size_t(offset + long(i))] / 32768.0;
      dot += x * y;
      a += x * x;
      b += y * y;
    }
    const double match = dot / std::sqrt(a * b + 1e-12);
    if (match > best) {
      best = match;
      best_offset = offset;
    }
  }
  EXPECT_GT(best, 0.95) << "the sound is the soundtrack";
  const double started_s = FROM_S + 1.0 - double(best_offset) / rate;
  EXPECT_NEAR(started_s, (PLAYBACK_STARTS_AFTER_FRAMES + 1) * 0.04, 0.04) << "playback starts after the fade-in";
  std::printf("sound: the soundtrack's start found at %.4f s of show time (match %.4f)\n", started_s, best);
}

TEST(Render, RefusesWhatItCannotRenderBeforeAnyWork) {
  const std::string folder = temporary_folder();
  const struct {
    std::vector<std::string> arguments;
    std::string said;
  } refusals[] = {
      {{folder + "/no/such/folder/out.mp4", "--to", "0:01"}, "no/such/folder/out.mp4"},
      {{folder + "/bad_time.mp4", "--from", "1:7x"}, "'1:7x' is neither a time"},
      {{folder + "/backwards.mp4", "--from", "3:00", "--to", "2:00"}, "the range is empty"},
      {{folder + "/no_scene.mp4", "--from", "credits: drums"}, "'credits: drums' is neither a time"},
  };
  for (const auto &refusal : refusals) {
    const run_result run = render(refusal.arguments, 10s);
    EXPECT_EQ(run.status, 2) << refusal.said;
    EXPECT_NE(run.err.find(refusal.said), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("usage: ledwall-render"), std::string::npos) << run.err;
    EXPECT_NE(access(refusal.arguments[0].c_str(), F_OK), 0) << "no file is left: " << refusal.arguments[0];
  }
}

// A write that fails half-way (here: the file may grow to 64 KiB only)
// ends the render with status 1, leaves no partial file and the earlier
// video as it was.
TEST(Render, AFailureWhileEncodingRemovesThePartialFile) {
  const earlier_video earlier = with_earlier_video("too_big");
  child_process renderer({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"", RENDER, earlier.out,
                          "--to", "0:20", "--scale", "8", "--quiet"},
                         {}, "", child_streams::apart);
  EXPECT_EQ(renderer.wait(60s), 1) << renderer.errors();
  EXPECT_NE(renderer.errors().find("encoding failed"), std::string::npos) << renderer.errors();
  expect_left_as_it_was(earlier);
}

// Ranges between a scene and a time: the scene's start, from the timeline,
// against the time, whichever end is which. An empty or backward range is
// refused once both ends are known, and leaves nothing behind.
TEST(Render, RefusesAnEmptyOrBackwardRangeBetweenASceneAndATime) {
  const std::string lead = time_text(CREDITS_LEAD_MS);
  const std::vector<std::vector<std::string>> ranges = {
      {"--from", "thank you", "--to", "2:00"},      // the scene starts long after
      {"--from", "credits: lead", "--to", lead},    // ... at that very moment
      {"--from", "3:00", "--to", "credits: lead"},  // the scene started long before
      {"--from", lead, "--to", "credits: lead"},    // ... at that very moment
  };
  for (const auto &range : ranges) {
    const earlier_video earlier = with_earlier_video("empty" + std::to_string(&range - ranges.data()));
    std::vector<std::string> arguments{earlier.out, "--scale", "2", "--quiet"};
    arguments.insert(arguments.end(), range.begin(), range.end());
    const run_result run = render(arguments, 60s);
    EXPECT_EQ(run.status, 2) << range[1] << " to " << range[3] << ": " << run.err;
    EXPECT_NE(run.err.find("the range is empty"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("usage: ledwall-render"), std::string::npos) << run.err;
    expect_left_as_it_was(earlier);
  }
}

// The valid ones render one frame per 40 ms between the scene's start and
// the time, replacing the earlier video and leaving nothing else.
TEST(Render, RendersARangeBetweenASceneAndATime) {
  const struct {
    std::vector<std::string> range;
    long frames;
  } cases[] = {
      {{"--from", "credits: lead", "--to", time_text(CREDITS_LEAD_MS + 5000)}, 125},
      {{"--from", "credits: lead", "--to", time_text(CREDITS_LEAD_MS + 40)}, 1},
      {{"--from", time_text(CREDITS_LEAD_MS - 5000), "--to", "credits: lead"}, 125},
  };
  for (const auto &c : cases) {
    const earlier_video earlier = with_earlier_video("mixed" + std::to_string(&c - cases));
    std::vector<std::string> arguments{earlier.out, "--scale", "2", "--quiet"};
    arguments.insert(arguments.end(), c.range.begin(), c.range.end());
    const run_result run = render(arguments, 60s);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(names_in(earlier.folder), std::vector<std::string>{"OUT.mp4"});
    video_probe_info info;
    std::string error;
    ASSERT_TRUE(video_probe_read(earlier.out, &info, &error)) << error;
    EXPECT_EQ(info.video_frames, c.frames) << c.range[1] << " to " << c.range[3];
  }
}

// Stopped half-way, it removes its unfinished video and ends as a shell
// expects of a program stopped by that signal; the earlier video stays.
TEST(Render, SigintAndSigtermMidRenderLeaveNothingAndTheEarlierVideo) {
  for (const int sig : {SIGINT, SIGTERM}) {
    const earlier_video earlier = with_earlier_video(sig == SIGINT ? "sigint" : "sigterm");
    child_process renderer({RENDER, earlier.out, "--scale", "2", "--quiet"}, {}, "", child_streams::apart);
    // Under way: encoded video reaches the disk (after FFmpeg's first 32 KiB).
    const bool writing = poll_until(
        [&] {
          for (const std::string &name : names_in(earlier.folder)) {
            struct stat st;
            if (name != "OUT.mp4" && stat((earlier.folder + "/" + name).c_str(), &st) == 0 && st.st_size > 0)
              return true;
          }
          return renderer.ended();
        },
        60s, 10ms);
    ASSERT_TRUE(writing && !renderer.ended()) << renderer.errors();
    renderer.signal(sig);
    EXPECT_EQ(renderer.wait(60s), 128 + sig) << renderer.errors();
    EXPECT_NE(renderer.errors().find(sig == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM"), std::string::npos)
        << "its own handling, not the signal's default: " << renderer.errors();
    expect_left_as_it_was(earlier);
  }
}

// OUT is a path: names FFmpeg would read as a protocol are files of those
// names in the current folder. A pipe is no place for a video file.
TEST(Render, TakesOutputNamesAsPlainPaths) {
  const std::string folder = temporary_folder() + "/names";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  for (const std::string name : {"file:x.mp4", "x:y.mp4"}) {
    child_process renderer({"/bin/sh", "-c", "cd \"$1\" && exec \"$0\" \"$2\" --to 0:02 --scale 2 --quiet", RENDER,
                            folder, name},
                           {}, "", child_streams::apart);
    EXPECT_EQ(renderer.wait(60s), 0) << name << ": " << renderer.errors();
    video_probe_info info;
    std::string error;
    EXPECT_TRUE(video_probe_read(folder + "/" + name, &info, &error)) << error;
    EXPECT_EQ(info.video_frames, 50) << name;
  }
  EXPECT_EQ(names_in(folder), (std::vector<std::string>{"file:x.mp4", "x:y.mp4"})) << "nothing else, and no x.mp4";

  const std::string pipe = folder + "/pipe.mp4";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const run_result run = render({pipe, "--to", "0:02", "--scale", "2", "--quiet"}, 30s);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
  struct stat st;
  EXPECT_TRUE(lstat(pipe.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << "the pipe is still a pipe";
  EXPECT_EQ(names_in(folder).size(), 3u);
}

} // namespace
