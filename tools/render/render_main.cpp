// ledwall-render: the show as a video file with its soundtrack, whole or in
// part, faster than real time.
//
//   ledwall-render OUT.mp4 [--from TIME] [--to TIME] [--scale PX] [--quiet]
//
// The show plays in virtual time as the demo plays it (show_capture.h), on a
// thread of its own; the main thread draws the wall at every 40 ms as a board
// of LEDs and encodes it, with the decoded soundtrack from where playback
// starts. The video is written under a temporary name beside OUT and takes
// OUT's name only once complete (video_file.h): a failure, an empty range,
// SIGINT or SIGTERM (exit status 130, 143) leave no file and an earlier OUT
// as it was.
#include "led_board.h"
#include "render_time.h"
#include "show_capture.h"
#include "soundtrack_pcm.h"
#include "video_file.h"

#include "monotonic_now.h"
#include "show_timeline.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

const char *const USAGE =
    "usage: ledwall-render OUT.mp4 [--from TIME] [--to TIME] [--scale PX] [--quiet]\n"
    "  renders the show, as the LED wall shows it and with its soundtrack, to an MP4 file\n"
    "  (H.264 and AAC); without --from and --to the whole show\n"
    "  TIME      m:ss or m:ss.fff of show time, or a scene's name: its start (\"credits: lead\")\n"
    "  --scale   pixels per LED, 2 to 64 (default: the largest that fits 1280x720, which the\n"
    "            video then is)\n"
    "  --quiet   no progress line on a terminal\n";

constexpr int DEFAULT_WIDTH = 1280, DEFAULT_HEIGHT = 720;
constexpr int FPS = 1000 / CAPTURE_FRAME_MS;
constexpr int AUDIO_BITRATE = 192000;
// What the video is made of (the show's pictures and its soundtrack) may be
// passed on under this licence; the file says so itself.
constexpr const char *VIDEO_COPYRIGHT =
    "2026 The NEON DRIFT developers. Pictures and music: Creative Commons Attribution 4.0 International "
    "(CC BY 4.0), https://creativecommons.org/licenses/by/4.0/";
constexpr std::size_t QUEUE_FRAMES = 32;

int refuse(const std::string &what) {
  std::fprintf(stderr, "ledwall-render: %s\n%s", what.c_str(), USAGE);
  return 2;
}

struct options {
  std::string out;
  capture_range range{{false, 0, 0}, true, {false, 0, 0}};
  int scale = 0; // 0: the default size
  bool quiet = false;
};

// 0 to go on, else the exit status.
int parse(int argc, char **argv, options *o) {
  bool have_out = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takes_value = arg == "--from" || arg == "--to" || arg == "--scale";
    if (takes_value && i + 1 == argc)
      return refuse(arg + " needs a value");
    std::string error;
    if (arg == "--help") {
      std::fputs(USAGE, stdout);
      return -1;
    } else if (arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "--from") {
      if (!render_time_parse(argv[++i], &o->range.from, &error))
        return refuse("--from: " + error);
    } else if (arg == "--to") {
      o->range.to_end = false;
      if (!render_time_parse(argv[++i], &o->range.to, &error))
        return refuse("--to: " + error);
    } else if (arg == "--scale") {
      const std::string value = argv[++i];
      char *end = nullptr;
      const long scale = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || scale < LED_BOARD_MIN_SCALE || scale > LED_BOARD_MAX_SCALE)
        return refuse("--scale takes a whole number of pixels per LED from " + std::to_string(LED_BOARD_MIN_SCALE) +
                      " to " + std::to_string(LED_BOARD_MAX_SCALE) + ", not '" + value + "'");
      o->scale = int(scale);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return refuse("unknown option '" + arg + "'");
    } else if (have_out) {
      return refuse("one output file only, not also '" + arg + "'");
    } else {
      o->out = arg;
      have_out = true;
    }
  }
  if (!have_out)
    return refuse("no output file");
  const render_time &from = o->range.from, &to = o->range.to;
  if (!o->range.to_end && from.is_scene == to.is_scene &&
      (from.is_scene ? from.scene >= to.scene : from.ms >= to.ms))
    return refuse("the range is empty: --to must come after --from");
  return 0;
}

// What goes from the show's thread to the encoder: one video frame, or the end.
struct queued_frame {
  bool last;
  std::int64_t show_ms;
  std::int64_t playback_start_ns;
  wall_frame wall;
  capture_outcome outcome; // last: how the capture ended, and why
  std::string why;
};

struct renderer {
  options opts;
  int width = 0, height = 0, scale = 0, board_x = 0, board_y = 0;
  long expected_frames = 0;
  std::int64_t show_ms = 0; // the show's length as the soundtrack tells it (for the checks and the progress)
  soundtrack_pcm_t pcm = nullptr;
  video_file_t video = nullptr;

  // The main thread's: it encodes.
  long encoded = 0;
  std::int64_t encoded_show_ms = 0; // the moment of the last frame encoded
  std::int64_t started_real_ns = 0;
  bool progress = false;

  // Shared with the show's thread and the signal thread.
  std::mutex lock;
  std::condition_variable changed;
  std::deque<queued_frame> queue;    // under `lock`
  bool capture_ended = false;        // under `lock`: the show's thread has called `end` and touches nothing more
  int signal = 0;                    // under `lock`: SIGINT or SIGTERM, once one came
  std::atomic<bool> stopping{false}; // written under `lock`: the encoder takes no more, the show is to stop
};

void say_progress(renderer *r, bool done) {
  const double seconds = double(monotonic_ns() - r->started_real_ns) / 1e9;
  const long frames = r->encoded, total = std::max(r->expected_frames, frames);
  const double rendered_s = double(frames) * CAPTURE_FRAME_MS / 1000.0;
  const double speed = seconds > 0 ? rendered_s / seconds : 0.0;
  const double left = speed > 0 ? double(total - frames) * CAPTURE_FRAME_MS / 1000.0 / speed : 0.0;
  const std::string left_text = render_time_text(std::int64_t(left * 1000));
  std::fprintf(stderr, "\rledwall-render: %ld of %ld frames, at %s of the show, %.1fx real time, %s left   ", frames,
               total, render_time_text(r->encoded_show_ms).c_str(), speed,
               left_text.substr(0, left_text.size() - 4).c_str());
  if (done)
    std::fputc('\n', stderr);
}

// The sound of the 40 ms from `show_ms` on, as the show plays it then:
// silence until playback starts. `samples` is the buffer, kept between calls.
bool add_sound(renderer *r, std::int64_t show_ms, std::int64_t playback_start_ns, std::vector<std::int16_t> *samples,
               std::string *error) {
  const int rate = soundtrack_pcm_rate(r->pcm), channels = soundtrack_pcm_channels(r->pcm);
  const int frames = rate * int(CAPTURE_FRAME_MS) / 1000;
  samples->assign(std::size_t(frames * channels), 0);
  if (playback_start_ns >= 0) {
    const std::int64_t show_sample = show_ms * rate / 1000;
    const std::int64_t start_sample = (playback_start_ns * rate + 500'000'000) / 1'000'000'000;
    if (!soundtrack_pcm_read(r->pcm, show_sample - start_sample, frames, samples->data(), error))
      return false;
  }
  return video_file_add_audio(r->video, samples->data(), frames, error);
}

// A failure's report, below the progress line when there is one; the usage
// follows a refusal (status 2).
int fail(renderer *r, const std::string &what, int status) {
  std::fprintf(stderr, "%sledwall-render: %s\n%s", r->progress ? "\n" : "", what.c_str(), status == 2 ? USAGE : "");
  return status;
}

// The encoder, on the main thread: the frames in order until the capture's
// end or a signal. Returns the exit status.
int encode(renderer *r) {
  std::vector<unsigned char> rgb(std::size_t(r->width) * std::size_t(r->height) * 3);
  // The frame around the board is the board's own colour.
  for (std::size_t i = 0; i < rgb.size(); i += 3) {
    rgb[i] = LED_BOARD_COLOUR >> 16;
    rgb[i + 1] = (LED_BOARD_COLOUR >> 8) & 255;
    rgb[i + 2] = LED_BOARD_COLOUR & 255;
  }
  std::vector<std::int16_t> samples;
  std::int64_t next_progress = 0;
  std::optional<std::int64_t> previous_ms; // the moment of the frame whose sound is still to go
  for (;;) {
    queued_frame f;
    {
      std::unique_lock<std::mutex> hold(r->lock);
      r->changed.wait(hold, [&] { return !r->queue.empty() || r->signal != 0; });
      if (r->signal != 0)
        return fail(r, std::string("stopped by ") + (r->signal == SIGINT ? "SIGINT" : "SIGTERM") +
                           ": no video written", 128 + r->signal);
      f = std::move(r->queue.front());
      r->queue.pop_front();
    }
    r->changed.notify_all();
    if (f.last && f.outcome == capture_outcome::empty_range)
      return fail(r, f.why, 2);
    if (f.last && f.outcome != capture_outcome::done)
      return fail(r, f.why, 1);
    std::string error;
    // A frame's sound goes once the next frame is known, so that a playback
    // start inside it is already known too.
    if (previous_ms && !add_sound(r, *previous_ms, f.playback_start_ns, &samples, &error))
      return fail(r, "encoding failed: " + error, 1);
    if (f.last) {
      if (!video_file_finish(r->video, &error))
        return fail(r, "encoding failed: " + error, 1);
      if (r->progress)
        say_progress(r, true);
      return 0;
    }
    led_board_draw_rgb(rgb.data(), r->width * 3, r->board_x, r->board_y, r->scale, f.wall);
    if (!video_file_add_frame(r->video, rgb.data(), r->width * 3, &error))
      return fail(r, "encoding failed: " + error, 1);
    previous_ms = f.show_ms;
    ++r->encoded;
    r->encoded_show_ms = f.show_ms;
    if (r->progress && monotonic_ns() >= next_progress) {
      say_progress(r, false);
      next_progress = monotonic_ns() + 250'000'000;
    }
  }
}

// The show's thread hands a frame over, waiting while the encoder is busy;
// false once the encoder takes no more.
bool on_frame(void *context, const capture_frame &frame) {
  auto *r = static_cast<renderer *>(context);
  std::unique_lock<std::mutex> hold(r->lock);
  r->changed.wait(hold, [&] { return r->queue.size() < QUEUE_FRAMES || r->stopping; });
  if (r->stopping)
    return false;
  r->queue.push_back({false, frame.show_ms, frame.playback_start_ns, *frame.wall, {}, {}});
  r->changed.notify_all();
  return true;
}

bool on_stop(void *context) { return static_cast<renderer *>(context)->stopping; }

void on_end(void *context, capture_outcome outcome, const std::string &why, std::int64_t playback_start_ns) {
  auto *r = static_cast<renderer *>(context);
  std::lock_guard<std::mutex> hold(r->lock);
  r->queue.push_back({true, 0, playback_start_ns, {}, outcome, why});
  r->capture_ended = true;
  r->changed.notify_all();
}

// SIGINT and SIGTERM are blocked in every thread and taken here, so that the
// encoder hears of them between two frames and no system call elsewhere is
// interrupted.
void take_signals(renderer *r, sigset_t signals) {
  int sig = 0;
  while (sigwait(&signals, &sig) != 0) {
  }
  std::lock_guard<std::mutex> hold(r->lock);
  r->signal = sig;
  r->changed.notify_all();
}

// The one clean-up, for every way a render ends: the temporary file goes
// (unless the video was finished), then the show's thread is stopped and
// waited for, so that the process never ends under a scene half-way
// through its drawing.
int clean_up(renderer *r, int status) {
  video_file_done(r->video);
  r->video = nullptr;
  {
    std::unique_lock<std::mutex> hold(r->lock);
    r->stopping = true;
    r->changed.notify_all();
    r->changed.wait(hold, [&] { return r->capture_ended; });
  }
  soundtrack_pcm_done(r->pcm);
  r->pcm = nullptr;
  return status;
}

} // namespace

int main(int argc, char **argv) {
  // Before any file or thread: every thread started from here on has them
  // blocked too, and a signal that comes during set-up waits for its thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  // Never freed: the show's thread may still be parked in the capture, and
  // the signal thread waiting, when the process ends.
  static renderer *const shared = new renderer;
  renderer &r = *shared;
  if (const int status = parse(argc, argv, &r.opts); status != 0)
    return status < 0 ? 0 : status;

  std::string error;
  r.pcm = soundtrack_pcm_init(&error);
  if (!r.pcm) {
    std::fprintf(stderr, "ledwall-render: %s\n", error.c_str());
    return 1;
  }
  r.show_ms = soundtrack_pcm_frames(r.pcm) * 1000 / soundtrack_pcm_rate(r.pcm) +
              (PLAYBACK_STARTS_AFTER_FRAMES + 1) * CAPTURE_FRAME_MS;
  for (const render_time *t : {&r.opts.range.from, &r.opts.range.to})
    if (!t->is_scene && t->ms > r.show_ms) {
      soundtrack_pcm_done(r.pcm);
      return refuse(render_time_text(t->ms) + " is after the show's end (about " + render_time_text(r.show_ms) + ")");
    }
  const std::int64_t from_ms = r.opts.range.from.is_scene ? 0 : r.opts.range.from.ms;
  const std::int64_t to_ms = r.opts.range.to_end || r.opts.range.to.is_scene ? r.show_ms : r.opts.range.to.ms;
  r.expected_frames = long((std::max<std::int64_t>(to_ms - from_ms, 0) + CAPTURE_FRAME_MS - 1) / CAPTURE_FRAME_MS);

  if (r.opts.scale == 0) {
    r.width = DEFAULT_WIDTH;
    r.height = DEFAULT_HEIGHT;
    r.scale = LED_BOARD_MAX_SCALE;
    while (led_board_width(r.scale) > r.width || led_board_height(r.scale) > r.height)
      --r.scale;
  } else {
    r.scale = r.opts.scale;
    r.width = (led_board_width(r.scale) + 1) / 2 * 2; // yuv420p wants even sizes
    r.height = (led_board_height(r.scale) + 1) / 2 * 2;
  }
  r.board_x = (r.width - led_board_width(r.scale)) / 2;
  r.board_y = (r.height - led_board_height(r.scale)) / 2;

  const std::string title = soundtrack_pcm_tag(r.pcm, "TITLE"), artist = soundtrack_pcm_tag(r.pcm, "ARTIST");
  const video_file_settings settings{r.opts.out.c_str(), r.width, r.height, FPS, soundtrack_pcm_rate(r.pcm),
                                     soundtrack_pcm_channels(r.pcm), AUDIO_BITRATE,
                                     title.empty() ? nullptr : title.c_str(), artist.empty() ? nullptr : artist.c_str(),
                                     VIDEO_COPYRIGHT};
  r.video = video_file_init(settings, &error);
  if (!r.video) {
    soundtrack_pcm_done(r.pcm);
    return refuse(error);
  }

  r.progress = !r.opts.quiet && isatty(STDERR_FILENO);
  r.started_real_ns = monotonic_ns();
  try {
    std::thread(take_signals, &r, signals).detach();
    // The show's thread returns when the show ends; a range that ends sooner
    // leaves it parked in the capture (show_capture.h).
    std::thread([] { show_capture_run(shared->opts.range, {on_frame, on_stop, on_end, shared}); }).detach();
  } catch (const std::system_error &e) {
    video_file_done(r.video);
    soundtrack_pcm_done(r.pcm);
    std::fprintf(stderr, "ledwall-render: starting a thread: %s\n", e.what());
    return 1;
  }
  return clean_up(&r, encode(&r));
}
