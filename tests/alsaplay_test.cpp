// The audio player on the real ALSA "default" device (on machines without a
// sound card, the headless sound server started by the test command).
#include "alsaplay.h"
#include "file_contents.h"
#include "output_capture.h"
#include "poll_until.h"
#include "private_sound_server.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

std::vector<unsigned char> stream_bytes(const char *name) {
  return file_bytes(std::string(TEST_STREAMS) + "/" + name + ".ogg");
}

// A player set up on one of the test streams, silent until started.
struct player {
  std::vector<unsigned char> bytes;
  OggVorbis_File vf{};
  alsaplay_t alsa = nullptr;

  explicit player(const char *name) : bytes(stream_bytes(name)) {
    alsa = alsaplay_init(&vf);
    EXPECT_EQ(ov_load_data(bytes.data(), bytes.size(), &vf), 0);
    alsaplay_setup(alsa, &vf);
  }
  ~player() { alsaplay_done(alsa); }

  // Waits until the position in milliseconds reaches `ms`; false on time-out.
  // The sound server sometimes takes two seconds to start consuming a new
  // stream, longer on a busy machine: the limit only says "it did not hang".
  bool wait_for_time(alsaplay_time_t ms, std::chrono::milliseconds limit = 15s) const {
    return poll_until([&] { return alsaplay_pos_time(alsa) >= ms; }, limit);
  }
};

TEST(Player, TotalsAreKnownAndPositionsReadZeroBeforeStart) {
  player p("stereo_3s");
  EXPECT_EQ(alsaplay_total_sample(p.alsa), 132300);
  EXPECT_EQ(alsaplay_total_time(p.alsa), 3000);
  EXPECT_EQ(alsaplay_vf(p.alsa), &p.vf);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(alsaplay_pos_sample(p.alsa), 0);
  EXPECT_EQ(alsaplay_pos_time(p.alsa), 0);
}

TEST(Player, PositionsAdvanceInBlocksOf2048FramesAtTheRealRate) {
  player p("stereo_3s");
  alsaplay_start(p.alsa);
  // The sound server takes a moment to start consuming; measure after that.
  ASSERT_TRUE(p.wait_for_time(300));
  const auto first_seen = clock_type::now();
  const alsaplay_time_t first = alsaplay_pos_sample(p.alsa);
  alsaplay_time_t last = first;
  while (clock_type::now() - first_seen < 1500ms) {
    const alsaplay_time_t frames = alsaplay_pos_sample(p.alsa);
    const alsaplay_time_t ms = alsaplay_pos_time(p.alsa);
    ASSERT_EQ(frames % 2048, 0) << frames;
    ASSERT_GE(frames, last);
    // The two readers may straddle a block; each is the decoder's own figure.
    ASSERT_LE(ms, (alsaplay_pos_sample(p.alsa) * 1000LL) / 44100);
    last = frames;
    std::this_thread::sleep_for(3ms);
  }
  const double played_s = double(last - first) / 44100.0;
  EXPECT_GT(played_s, 1.5 * 0.7) << "plays in real time, not faster";
  EXPECT_LT(played_s, 1.5 * 1.3) << "plays in real time, not slower";
}

TEST(Player, AfterTheEndThePositionStaysAtTheTotalWhileSilencePlays) {
  player p("stereo_1s");
  alsaplay_start(p.alsa);
  ASSERT_TRUE(p.wait_for_time(alsaplay_total_time(p.alsa)));
  EXPECT_EQ(alsaplay_pos_time(p.alsa), 1000);
  EXPECT_EQ(alsaplay_pos_sample(p.alsa), 44100);
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(alsaplay_pos_time(p.alsa), alsaplay_total_time(p.alsa));
  EXPECT_EQ(alsaplay_pos_sample(p.alsa), alsaplay_total_sample(p.alsa));
}

TEST(Player, SecondStopDoesNothingAndTheDecoderIsCleared) {
  player p("stereo_1s");
  alsaplay_start(p.alsa);
  ASSERT_TRUE(p.wait_for_time(100));
  alsaplay_stop(p.alsa);
  EXPECT_EQ(p.vf.datasource, nullptr) << "ov_clear released the stream";
  const alsaplay_time_t at_stop = alsaplay_pos_time(p.alsa);
  alsaplay_stop(p.alsa);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(alsaplay_pos_time(p.alsa), at_stop) << "no thread runs any more";
}

TEST(Player, StopOfAPlayerThatNeverStartedJoinsNothing) {
  player p("stereo_1s");
  alsaplay_stop(p.alsa);
  EXPECT_EQ(p.vf.datasource, nullptr);
}

TEST(Player, MonoStreamWrites4096FramesPerBlock) {
  player p("mono_2s");
  alsaplay_start(p.alsa);
  ASSERT_TRUE(p.wait_for_time(1));
  EXPECT_EQ(alsaplay_pos_sample(p.alsa) % 4096, 0);
  ASSERT_TRUE(p.wait_for_time(500));
  EXPECT_EQ(alsaplay_pos_sample(p.alsa) % 4096, 0);
  EXPECT_GE(alsaplay_pos_sample(p.alsa), 4096);
}

std::atomic<int> tap_calls{0};
std::atomic<int> tap_wrong_sizes{0};
void counting_tap(const unsigned char *, int size) {
  ++tap_calls;
  tap_wrong_sizes += size != ALSAPLAY_BLOCK_BYTES;
}

TEST(PlayerTap, SeesEveryBlockWhileInstalledAndNothingAfter) {
  player p("stereo_3s");
  alsaplay_set_tap(p.alsa, counting_tap);
  alsaplay_start(p.alsa);
  ASSERT_TRUE(p.wait_for_time(1000));
  const alsaplay_time_t frames = alsaplay_pos_sample(p.alsa);
  alsaplay_set_tap(p.alsa, nullptr);
  const int seen = tap_calls;
  EXPECT_GE(seen, frames / 2048);
  EXPECT_LE(seen, frames / 2048 + 1);
  EXPECT_EQ(tap_wrong_sizes, 0);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(tap_calls, seen) << "a removed tap is not called";
}

std::atomic<bool> slow_tap_inside{false};
std::atomic<bool> slow_tap_finished{false};
void slow_tap(const unsigned char *, int) {
  slow_tap_inside = true;
  std::this_thread::sleep_for(150ms);
  slow_tap_finished = true;
  slow_tap_inside = false;
}

TEST(PlayerTap, RemovingASlowTapWaitsForItsRunningCall) {
  player p("stereo_3s");
  alsaplay_set_tap(p.alsa, slow_tap);
  alsaplay_start(p.alsa);
  ASSERT_TRUE(poll_until([] { return slow_tap_inside.load(); }, 15s, 0ms));
  alsaplay_set_tap(p.alsa, nullptr);
  EXPECT_FALSE(slow_tap_inside) << "set_tap returned while the tap was still running";
  EXPECT_TRUE(slow_tap_finished);
}

// Whether thread `tid` of this process is asleep (state S in its stat line).
bool thread_sleeps(pid_t tid) {
  const std::string stat = file_text("/proc/self/task/" + std::to_string(tid) + "/stat");
  const std::size_t name_end = stat.rfind(')');
  return name_end != std::string::npos && name_end + 2 < stat.size() && stat[name_end + 2] == 'S';
}

// The tap of one block holds that block until the stop request has been made
// and the stopping thread waits for the audio thread; it then counts the tap
// calls that begin after it.
constexpr int HELD_BLOCK = 5;
std::atomic<int> stop_tap_calls{0};
std::atomic<bool> stop_requested{false}; // the held block's tap returns only after it
std::atomic<pid_t> stopping_thread{0};
std::atomic<int> calls_after_stop{0};
std::atomic<bool> stop_not_seen{false};
void stop_watching_tap(const unsigned char *, int) {
  const int call = ++stop_tap_calls;
  if (call > HELD_BLOCK)
    ++calls_after_stop;
  if (call != HELD_BLOCK)
    return;
  // The stopping thread sleeps only in the join, after it has set the stop flag.
  stop_not_seen = !poll_until([] { return stop_requested && thread_sleeps(stopping_thread); }, 10s, 1ms);
}

TEST(PlayerStop, AStopDuringABlockLetsThatBlockAndOneMoreRunToCompletion) {
  player p("stereo_3s");
  alsaplay_set_tap(p.alsa, stop_watching_tap);
  alsaplay_start(p.alsa);
  poll_until([] { return stop_tap_calls >= HELD_BLOCK; }, 15s, 1ms);
  ASSERT_EQ(stop_tap_calls, HELD_BLOCK) << "the audio thread is inside the held block's tap";
  stopping_thread = pid_t(gettid());
  stop_requested = true;
  alsaplay_stop(p.alsa);
  EXPECT_FALSE(stop_not_seen) << "the stop request was not seen waiting for the audio thread";
  EXPECT_EQ(calls_after_stop, 1) << "the held block finished and exactly one more block was played and tapped";
  EXPECT_EQ(stop_tap_calls, HELD_BLOCK + 1);
}

TEST(PlayerDeviceLoss, KilledSoundServerGivesOneMessageAndThePositionStillReachesTheEnd) {
  const std::string dir = testing::TempDir() + "sound-kill-" + std::to_string(getpid());
  private_sound_server server(HEADLESS_SOUND, dir);
  ASSERT_FALSE(server.address().empty()) << "could not start a private sound server";
  setenv("PULSE_SERVER", server.address().c_str(), 1);

  player p("stereo_3s");
  std::string text;
  bool reached_end = false;
  auto took = clock_type::duration::zero();
  alsaplay_time_t left_ms = 0;
  {
    // gtest reports on stdout too, so nothing is asserted while capturing.
    stdout_capture out;
    alsaplay_start(p.alsa);
    const bool playing = p.wait_for_time(500);
    server.stop();
    const auto lost_from = clock_type::now();
    left_ms = alsaplay_total_time(p.alsa) - alsaplay_pos_time(p.alsa);
    reached_end = playing && p.wait_for_time(alsaplay_total_time(p.alsa), 6s);
    took = clock_type::now() - lost_from;
    std::this_thread::sleep_for(100ms);
    text = out.text();
  }
  ASSERT_TRUE(reached_end) << "the show would wait forever\n" << text;
  EXPECT_EQ(alsaplay_pos_sample(p.alsa), alsaplay_total_sample(p.alsa));
  EXPECT_EQ(alsaplay_pos_time(p.alsa), alsaplay_total_time(p.alsa)) << "and stays there";
  EXPECT_GT(left_ms, 0) << "the test killed the server too late to see the fallback";
  EXPECT_GT(took, std::chrono::milliseconds(left_ms * 7 / 10)) << "the rest of the stream passes at its own rate";
  size_t count = 0;
  for (size_t at = text.find("snd_pcm_writei failed: "); at != std::string::npos;
       at = text.find("snd_pcm_writei failed: ", at + 1))
    ++count;
  EXPECT_EQ(count, 1u) << text;
}

TEST(PlayerDeathTest, SetupOfAStreamThatDidNotOpenRefusesToPlay) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        std::vector<unsigned char> garbage(5000, 7);
        OggVorbis_File vf{};
        alsaplay_t alsa = alsaplay_init(&vf);
        ov_load_data(garbage.data(), garbage.size(), &vf);
        alsaplay_setup(alsa, &vf);
      },
      testing::ExitedWithCode(1), "^Stream open error: no playable Ogg Vorbis stream\n$");
}

TEST(PlayerDeathTest, MissingSoundDeviceIsAStartUpError) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        setenv("PULSE_SERVER", "unix:/nonexistent/sound/server", 1);
        player p("stereo_1s");
      },
      testing::ExitedWithCode(1), "Playback open error: ");
}

// The headless-sound script run through the shell as a user runs it: what it
// printed (both streams) and its exit status.
struct script_run {
  std::string said;
  int status = -1;
};

script_run run_script(const std::string &command) {
  script_run run;
  std::FILE *out = popen((command + " 2>&1").c_str(), "r");
  if (!out)
    return run;
  char chunk[512];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, out)) > 0;)
    run.said.append(chunk, n);
  const int raw = pclose(out);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

// The script as run from a clean shell in which TMPDIR is `tmp`; `server`, when
// given, is the PULSE_SERVER an earlier start printed.
std::string headless_sound(const std::string &tmp, const std::string &server = "") {
  return "env -u XDG_RUNTIME_DIR -u PULSE_SERVER TMPDIR=" + tmp + (server.empty() ? "" : " PULSE_SERVER=" + server) +
         " " HEADLESS_SOUND;
}

bool process_runs(pid_t pid) { return ::kill(pid, 0) == 0; }

TEST(HeadlessSound, ADefaultServerGetsANewPrivateFolderIsUsedAgainAndGoesWithStop) {
  char tmp[] = "/tmp/headless_XXXXXX";
  ASSERT_NE(mkdtemp(tmp), nullptr);
  const script_run started = run_script(headless_sound(tmp) + " start --private");
  ASSERT_EQ(started.status, 0) << started.said;
  const std::string prefix = std::string("export PULSE_SERVER=unix:") + tmp + "/ledwall-sound.";
  ASSERT_EQ(started.said.rfind(prefix, 0), 0u) << started.said;
  const std::string server = started.said.substr(std::string("export PULSE_SERVER=").size(),
                                                 started.said.size() - std::string("export PULSE_SERVER=\n").size());
  const std::filesystem::path folder = std::filesystem::path(server.substr(5)).parent_path().parent_path();
  struct stat made {};
  ASSERT_EQ(stat(folder.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0700u);
  EXPECT_EQ(made.st_uid, getuid());
  const pid_t pid = std::atoi(file_text(folder / "pulse/pid").c_str());

  // Started again from the shell it printed to: the same server.
  EXPECT_EQ(run_script(headless_sound(tmp, server) + " start --private").said, started.said);
  EXPECT_EQ(std::atoi(file_text(folder / "pulse/pid").c_str()), pid);
  // A second start elsewhere makes a folder of its own.
  const script_run other = run_script(headless_sound(tmp) + " start --private");
  EXPECT_NE(other.said, started.said);

  EXPECT_EQ(run_script(headless_sound(tmp, server) + " stop").status, 0);
  EXPECT_TRUE(poll_until([&] { return !process_runs(pid); }, std::chrono::seconds(5)));
  EXPECT_FALSE(std::filesystem::exists(folder));
  const std::string other_server = other.said.substr(std::string("export PULSE_SERVER=").size());
  EXPECT_EQ(run_script(headless_sound(tmp, other_server.substr(0, other_server.size() - 1)) + " stop").status, 0);
  std::filesystem::remove_all(tmp);
}

TEST(HeadlessSound, RefusesAFolderOthersMayPlantAndStopsOnlyItsOwnServer) {
  char tmp[] = "/tmp/headless_XXXXXX";
  ASSERT_NE(mkdtemp(tmp), nullptr);
  const std::filesystem::path base = tmp;
  const std::filesystem::path open_to_all = base / "open", link = base / "link", own = base / "own";
  std::filesystem::create_directory(open_to_all);
  std::filesystem::permissions(open_to_all, std::filesystem::perms::all);
  std::filesystem::create_directory(own);
  std::filesystem::create_directory_symlink(own, link);
  std::vector<std::filesystem::path> refused = {open_to_all, link};
  if (getuid() == 0) { // a folder another user made
    const std::filesystem::path theirs = base / "theirs";
    std::filesystem::create_directory(theirs);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    refused.push_back(theirs);
  }
  for (const std::filesystem::path &folder : refused) {
    const script_run run = run_script(headless_sound(tmp) + " start " + folder.string() + " --private");
    EXPECT_EQ(run.status, 1) << folder;
    EXPECT_NE(run.said.find("is not a folder of this user's own"), std::string::npos) << run.said;
    EXPECT_FALSE(std::filesystem::exists(folder / "pulse")) << folder;
  }

  // A PID file naming some other process of this user: stop leaves it be.
  const pid_t bystander = fork();
  if (bystander == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char *>(nullptr));
    _exit(127);
  }
  std::filesystem::create_directory(own / "pulse");
  std::FILE *pid_file = std::fopen((own / "pulse/pid").c_str(), "w");
  ASSERT_NE(pid_file, nullptr);
  std::fprintf(pid_file, "%d\n", bystander);
  std::fclose(pid_file);
  EXPECT_EQ(run_script(headless_sound(tmp) + " stop " + own.string()).status, 0);
  EXPECT_TRUE(process_runs(bystander));
  ::kill(bystander, SIGKILL);
  waitpid(bystander, nullptr, 0);
  std::filesystem::remove_all(tmp);
}

TEST(HeadlessSound, AnUnknownOptionIsRefusedWithTheUsage) {
  const script_run run = run_script(HEADLESS_SOUND " start --privat");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.said.rfind("headless-sound: unknown option: --privat\nusage: ", 0), 0u) << run.said;
}

} // namespace
