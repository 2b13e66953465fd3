// The whole show meeting faults, each run as a program of its own.
//
// The LED server absent, gone for a while, stalled or late, and bad OPC
// settings: the demo in virtual time (both doubles) against a loopback server
// in this process, its frames compared with those of an undisturbed show. A
// picture that does not decode: the same demo built with a broken copy of the
// pictures. A soundtrack that is not Ogg and one with a hole in its data: the
// demo with the real player and clock, on the headless sound server.
#include "child_process.h"
#include "file_contents.h"
#include "loopback_opc_server.h"
#include "poll_until.h"
#include "show_frames.h"
#include "show_timeline.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <gtest/gtest.h>

#include <netdb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using led_frame = std::vector<u8>; // one message's pixel data, in LED order

// A show in virtual time takes a few seconds; this only says "did not hang".
constexpr auto SHOW_LIMIT = 60s;
constexpr auto STALL_LIMIT = 20s;
constexpr int OPC_TIMEOUT_MS = 1000;
constexpr int FRAME_MS = 40;

struct show_run {
  int status = -1;
  std::string output;
  steady::duration took{};
};

show_run run_program(const char *program, const std::vector<std::string> &env) {
  const auto start = steady::now();
  child_process demo({program}, env);
  show_run run;
  run.status = demo.wait(SHOW_LIMIT);
  run.took = steady::now() - start;
  run.output = demo.output();
  return run;
}

// The frames the server has recorded so far.
std::vector<led_frame> frames_of(const loopback_opc_server &server) {
  std::vector<led_frame> frames;
  for (const auto &m : server.messages()) {
    EXPECT_EQ(m.channel, 0);
    EXPECT_EQ(m.length, 1536);
    frames.push_back(m.data);
  }
  return frames;
}

// The same once the server has read every connection to its end: a program
// that has ended may still have frames on their way through the socket, and
// the kernel may hold a closed connection's last data back for seconds after
// a stalled server reads again.
std::vector<led_frame> settled_frames(loopback_opc_server &server) {
  EXPECT_TRUE(server.wait_until_drained(SHOW_LIMIT)) << "the server still had data coming";
  return frames_of(server);
}

// The undisturbed show, played once per test program.
struct reference_show {
  std::vector<led_frame> frames;
  steady::duration took{};
};

const reference_show &reference() {
  static const reference_show show = [] {
    loopback_opc_server server;
    const show_run run = run_program(DEMO_VIRTUAL, {"OPC=" + server.hostport()});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "") << "an undisturbed show reports nothing";
    return reference_show{settled_frames(server), run.took};
  }();
  return show;
}

// A port on 127.0.0.1 that refuses connections: a server's, after it has gone.
u16 refusing_port() {
  loopback_opc_server server;
  return server.port();
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::size_t count_lines(const std::string &text, const std::string &prefix) {
  std::size_t count = 0;
  for (const auto &line : lines_of(text))
    count += line.rfind(prefix, 0) == 0;
  return count;
}

bool is_late_report(const std::string &line) {
  const std::string suffix = " ms too late";
  const std::size_t digits = line.size() > suffix.size() ? line.size() - suffix.size() : 0;
  return digits > 0 && line.compare(digits, suffix.size(), suffix) == 0 &&
         line.find_first_not_of("0123456789") == digits;
}

// The OPC client's lines, without the frame clock's lateness reports; any
// other line is returned too, so that a check for OPC lines sees it.
std::vector<std::string> client_lines(const std::string &text) {
  std::vector<std::string> out;
  for (const auto &line : lines_of(text))
    if (!is_late_report(line))
      out.push_back(line);
  return out;
}

// Whether `part` is `whole` from `from` on with frames left out, order kept.
bool is_ordered_subset(const std::vector<led_frame> &part, const std::vector<led_frame> &whole, std::size_t from) {
  std::size_t at = from;
  for (const auto &frame : part) {
    while (at < whole.size() && whole[at] != frame)
      ++at;
    if (at == whole.size())
      return false;
    ++at;
  }
  return true;
}

bool is_prefix(const std::vector<led_frame> &part, const std::vector<led_frame> &whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

long long ms_of(steady::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

// Whether the system resolver finds `name` with IPv6 addresses and no IPv4 one.
bool resolves_to_ipv6_only(const std::string &name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  addrinfo *results = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &results) != 0)
    return false;
  bool ipv4 = false, ipv6 = false;
  for (const addrinfo *a = results; a; a = a->ai_next) {
    ipv4 = ipv4 || a->ai_family == AF_INET;
    ipv6 = ipv6 || a->ai_family == AF_INET6;
  }
  freeaddrinfo(results);
  return ipv6 && !ipv4;
}

// The frame of the thank-you slide in which its first word has come in; after
// it the show is drawn by frame count up to the greetings' hold, so the same
// frames follow whatever time an outage cost.
std::size_t thank_you_index(const std::vector<led_frame> &frames) {
  const led_frame entering = in_led_order(thank_you_entering_frame());
  return std::size_t(std::find(frames.begin(), frames.end(), entering) - frames.begin());
}

// That frame is the slide's second; the graphics page follows the slide, then
// the music page.
constexpr std::size_t GRAPHICS_PAGE_AFTER_THANK_YOU = THANK_YOU_FRAMES - 1;
constexpr std::size_t CREDITS_PAGE = CREDITS_FRAMES;

// ---------------------------------------------------------------------------
// The LED server: absent, gone for a while, stalled, late.

TEST(ShowWithoutServer, EachFrameMakesOneAttemptAndTheShowRunsToItsEnd) {
  const std::string hostport = "127.0.0.1:" + std::to_string(refusing_port());
  const show_run run = run_program(DEMO_VIRTUAL, {"OPC=" + hostport});
  ASSERT_EQ(run.status, 0) << run.output;

  const std::string refused = "OPC: Failed to connect to " + hostport + ": Connection refused";
  std::size_t attempts = 0, late = 0;
  for (const auto &line : lines_of(run.output)) {
    if (line == refused)
      ++attempts;
    else if (is_late_report(line))
      ++late;
    else
      ADD_FAILURE() << "unexpected line: " << line;
  }
  std::printf("no server: %zu attempts, %zu late frames, %.1f s\n", attempts, late,
              std::chrono::duration<double>(run.took).count());
  if (late == 0) {
    // The refusal came at once: the show lost no time and tried every frame.
    EXPECT_EQ(attempts, reference().frames.size());
    return;
  }
  // The refusal came through the pending socket error, and each one paused
  // the show for the time-out: every frame after one is late by that pause
  // less what the clock had ahead, one pause (one attempt) per frame.
  for (const auto &line : lines_of(run.output))
    if (is_late_report(line)) {
      const int ms = std::stoi(line);
      EXPECT_GE(ms, OPC_TIMEOUT_MS - 2 * FRAME_MS) << line;
      EXPECT_LT(ms, OPC_TIMEOUT_MS) << line;
    }
  // Only the first frame of a frame clock comes on time, and the show starts
  // about a hundred clocks (scenes and fades) against thousands of frames.
  EXPECT_GT(attempts, late);
  EXPECT_LT(attempts - late, attempts / 50);
}

TEST(ShowWithServerFaults, ServerGoneMidSceneAndBackOnItsPortGetsTheRestOnANewConnection) {
  const auto &ref = reference();
  // Fifty frames into the graphics credits page.
  const std::size_t outage_at = thank_you_index(ref.frames) + GRAPHICS_PAGE_AFTER_THANK_YOU + 50;
  ASSERT_LT(outage_at, ref.frames.size());
  auto server = std::make_unique<loopback_opc_server>();
  const u16 port = server->port();
  const std::string hostport = server->hostport();
  child_process demo({DEMO_VIRTUAL}, {"OPC=" + hostport});
  ASSERT_TRUE(server->wait_for_messages(outage_at, SHOW_LIMIT)) << demo.output();
  const std::vector<led_frame> before = frames_of(*server);
  server.reset(); // from now on the port refuses
  ASSERT_TRUE(demo.wait_for_output("OPC: Failed to connect to", SHOW_LIMIT)) << demo.output();
  loopback_opc_server back(port);
  ASSERT_EQ(demo.wait(SHOW_LIMIT), 0) << demo.output();
  const std::vector<led_frame> after = settled_frames(back);

  // The lost connection is noticed at a send and closed, possibly once more
  // for a connection the listening socket took just before it went; then the
  // attempts are refused until the server is back, and then nothing more.
  const std::string error = "OPC: Error sending data: ", closed = "OPC: Closed connection to " + hostport,
                    refused = "OPC: Failed to connect to " + hostport + ": Connection refused";
  const std::vector<std::string> lines = client_lines(demo.output());
  ASSERT_GE(lines.size(), 3u) << demo.output();
  std::size_t i = 0;
  for (; i + 1 < lines.size() && lines[i].rfind(error, 0) == 0; i += 2)
    EXPECT_EQ(lines[i + 1], closed);
  EXPECT_GE(i, 2u) << "the first lines report the send error and the close:\n" << demo.output();
  EXPECT_LT(i, lines.size()) << "no refused attempt was seen";
  for (; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], refused);

  EXPECT_GE(before.size(), outage_at);
  EXPECT_TRUE(is_prefix(before, ref.frames)) << "the frames before the outage are the show's first";
  EXPECT_EQ(back.connections(), 1u);
  ASSERT_FALSE(after.empty());
  // From the credits on the show is drawn by frame count: the frames after
  // the outage are the show's own, in order, those sent meanwhile left out.
  // Only the greetings' hold and the black frames at the end depend on the
  // music, which went on while the refusals paused the show: a hold cut
  // short can leave more black frames to the end than the undisturbed show has.
  std::vector<led_frame> drawn = after;
  while (!drawn.empty() && std::all_of(drawn.back().begin(), drawn.back().end(), [](u8 v) { return v == 0; }))
    drawn.pop_back();
  EXPECT_TRUE(is_ordered_subset(drawn, ref.frames, before.size()));
}

// What one connection to a server that has stopped reading takes in before
// the client's sends block: at most the client's send buffer, which the
// kernel grows up to tcp_wmem's maximum, and the server's receive buffer,
// fixed by the test server (the kernel books twice the size set). 0 when the
// kernel does not say.
std::size_t stalled_connection_capacity(int receive_buffer_bytes) {
  std::ifstream wmem("/proc/sys/net/ipv4/tcp_wmem");
  std::size_t least = 0, initial = 0, most = 0;
  if (!(wmem >> least >> initial >> most))
    return 0;
  return most + 2 * std::size_t(receive_buffer_bytes);
}

TEST(ShowWithServerFaults, ServerThatStopsReadingCostsOneFramePerTimeOutAndNoMore) {
  const auto &ref = reference();
  constexpr int RECEIVE_BUFFER = 128 * 1024;
  constexpr std::size_t STALL_AT = 2000, TIMEOUTS = 2, MESSAGE_BYTES = 4 + 1536;
  // For two time-outs the rest of the show must fill two connections.
  const std::size_t capacity = stalled_connection_capacity(RECEIVE_BUFFER);
  ASSERT_GT(capacity, 0u) << "the kernel does not tell its TCP buffer sizes";
  const std::size_t frames_per_connection = capacity / MESSAGE_BYTES + 1;
  if (ref.frames.size() <= STALL_AT + TIMEOUTS * frames_per_connection)
    GTEST_SKIP() << "this kernel's TCP send buffers (" << capacity
                 << " bytes with the server's) hold so much of the show that it cannot fill " << TIMEOUTS
                 << " connections";

  loopback_opc_server server(0, RECEIVE_BUFFER);
  const std::string hostport = server.hostport();
  const std::string timed_out = "OPC: Error sending data: Connection timed out";
  const auto start = steady::now();
  child_process demo({DEMO_VIRTUAL}, {"OPC=" + hostport});
  ASSERT_TRUE(server.wait_for_messages(STALL_AT, SHOW_LIMIT)) << demo.output();

  // The client fills the socket buffers, then gives up on the frame in hand
  // after the time-out, reconnects (the listening socket still takes the
  // connection) and fills that one. Stall until two frames have gone so; a
  // show that ends meanwhile, or a client held longer than its time-outs,
  // ends the stall with fewer.
  server.set_reading(false);
  const auto stalled = steady::now();
  std::size_t seen_while_stalled = 0;
  poll_until(
      [&] {
        seen_while_stalled = count_lines(demo.output(), timed_out);
        return seen_while_stalled >= TIMEOUTS || demo.ended();
      },
      STALL_LIMIT, 10ms);
  const auto stall = steady::now() - stalled;
  server.set_reading(true);
  ASSERT_EQ(demo.wait(SHOW_LIMIT), 0) << demo.output();
  const auto took = steady::now() - start;
  const std::vector<led_frame> got = settled_frames(server);

  EXPECT_EQ(seen_while_stalled, TIMEOUTS) << "the client gave up on frames while the server was not reading";
  const std::vector<std::string> lines = client_lines(demo.output());
  ASSERT_EQ(lines.size() % 2, 0u) << demo.output();
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    EXPECT_EQ(lines[i], timed_out);
    EXPECT_EQ(lines[i + 1], "OPC: Closed connection to " + hostport);
  }
  const std::size_t timeouts = lines.size() / 2;

  // What was in the buffers is delivered once the server reads again: the
  // show lost exactly the frames it reported, none else, and kept its order.
  EXPECT_EQ(got.size() + timeouts, ref.frames.size());
  EXPECT_TRUE(is_ordered_subset(got, ref.frames, 0));
  EXPECT_EQ(server.connections(), timeouts + 1);

  // Each of those frames held the show for no more than the time-out: the
  // run took the undisturbed show's time plus one time-out per report (with
  // generous slack for a busy machine). The stall ends with the second
  // report, so the run holds no wait of the test's own.
  const auto allowed = 2 * ref.took + timeouts * std::chrono::milliseconds(OPC_TIMEOUT_MS) + 2s;
  EXPECT_LE(took, allowed) << "stall " << ms_of(stall) << " ms, show " << ms_of(took) << " ms, undisturbed "
                           << ms_of(ref.took) << " ms";
  std::string per_connection;
  for (const auto &bytes : server.bytes_per_connection())
    per_connection += " " + std::to_string(bytes.size() / MESSAGE_BYTES);
  std::printf("stalled server: %zu time-outs in a stall of %lld ms; run %lld ms, undisturbed %lld ms; "
              "frames per connection%s\n",
              timeouts, ms_of(stall), ms_of(took), ms_of(ref.took), per_connection.c_str());
}

TEST(ShowWithServerFaults, ServerThatRefusesAtFirstGetsTheShowOnceItAccepts) {
  const auto &ref = reference();
  const u16 port = refusing_port();
  const std::string hostport = "127.0.0.1:" + std::to_string(port);
  child_process demo({DEMO_VIRTUAL}, {"OPC=" + hostport});
  ASSERT_TRUE(demo.wait_for_output("OPC: Failed to connect to", SHOW_LIMIT)) << demo.output();
  loopback_opc_server server(port);
  ASSERT_EQ(demo.wait(SHOW_LIMIT), 0) << demo.output();
  const std::vector<led_frame> got = settled_frames(server);

  const std::vector<std::string> lines = client_lines(demo.output());
  ASSERT_FALSE(lines.empty());
  for (const auto &line : lines)
    EXPECT_EQ(line, "OPC: Failed to connect to " + hostport + ": Connection refused");
  EXPECT_EQ(server.connections(), 1u) << "connected once, and stayed";
  // However far the refusals reached (each one paused the show, and where the
  // music was playing the scenes then drew other frames), the show's frame-
  // timed ending arrives whole and in order.
  const std::size_t got_from = thank_you_index(got);
  ASSERT_LT(got_from, got.size()) << "the thank-you slide never arrived";
  EXPECT_TRUE(is_ordered_subset({got.begin() + std::ptrdiff_t(got_from), got.end()}, ref.frames,
                                thank_you_index(ref.frames)));
  EXPECT_LE(got.size() + lines.size(), ref.frames.size());
}

// ---------------------------------------------------------------------------
// OPC settings.

// A server of this test on 127.0.0.1:7890, so that a setting that means the
// default reaches it and not some real server; null when the port stays
// taken (other tests hold it for a moment too, so wait a little for it).
std::unique_ptr<loopback_opc_server> default_port_server() {
  for (const auto until = steady::now() + 2s;; std::this_thread::sleep_for(50ms)) {
    try {
      return std::make_unique<loopback_opc_server>(7890);
    } catch (const std::system_error &) {
      if (steady::now() > until)
        return nullptr;
    }
  }
}

struct default_setting {
  const char *name;
  std::string env; // "OPC=..." or a bare "OPC" for none
};

void PrintTo(const default_setting &setting, std::ostream *out) { *out << setting.name; }

class OpcSettingMeaningTheDefault : public testing::TestWithParam<default_setting> {};

TEST_P(OpcSettingMeaningTheDefault, SendsToLocalhostPort7890WithoutAWord) {
  const auto server = default_port_server();
  if (!server)
    GTEST_SKIP() << "port 7890 is taken on this machine";
  child_process demo({DEMO_VIRTUAL}, {GetParam().env});
  // The title's fade-in is enough to see where the frames go.
  ASSERT_TRUE(server->wait_for_messages(PLAYBACK_STARTS_AFTER_FRAMES, SHOW_LIMIT)) << demo.output();
  EXPECT_EQ(demo.output().find("OPC: "), std::string::npos) << demo.output();
}

// An empty host part is localhost, and a port without leading digits ("",
// ":", "-1") reads 0, which is the default.
INSTANTIATE_TEST_SUITE_P(
    Settings, OpcSettingMeaningTheDefault,
    testing::Values(default_setting{"Unset", "OPC"}, default_setting{"Empty", "OPC="},
                    default_setting{"OnlyAColon", "OPC=:"}, default_setting{"TwoColons", "OPC=::"},
                    default_setting{"NegativePort", "OPC=localhost:-1"}),
    [](const auto &info) { return std::string(info.param.name); });

// Runs the show with an `OPC` setting that makes no sink: the setting is
// reported once, at start-up, then every frame meets the missing sink, and the
// show runs its course on the music. The number of frames that met it.
std::size_t frames_without_a_sink(const std::string &opc, const std::string &message) {
  const show_run run = run_program(DEMO_VIRTUAL, {"OPC=" + opc});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = lines_of(run.output);
  EXPECT_FALSE(lines.empty());
  if (lines.empty())
    return 0;
  EXPECT_EQ(lines[0], message);
  for (std::size_t i = 1; i < lines.size(); ++i)
    if (lines[i] != "OPC: Sink -1 does not exist") {
      ADD_FAILURE() << "line " << i << ": " << lines[i];
      break;
    }
  return lines.size() - 1;
}

TEST(OpcSettingWithoutASink, EveryFrameTheShowWouldSendMeetsTheMissingSinkOnce) {
  const std::size_t frames =
      frames_without_a_sink("127.0.0.1:99999", "OPC: Port out of range (1 to 65535): 127.0.0.1:99999");
  EXPECT_EQ(frames, reference().frames.size());
}

struct sinkless_setting {
  const char *name;
  std::string opc;
  std::string message;
};

void PrintTo(const sinkless_setting &setting, std::ostream *out) { *out << setting.name; }

class OpcSettingWithoutASinkIs : public testing::TestWithParam<sinkless_setting> {};

TEST_P(OpcSettingWithoutASinkIs, ReportedOnceAndTheShowRunsItsCourse) {
  const sinkless_setting &setting = GetParam();
  if (setting.opc == "ip6-localhost" && !resolves_to_ipv6_only(setting.opc))
    GTEST_SKIP() << "ip6-localhost is not an IPv6-only name here (scripts/setup.sh adds it to /etc/hosts)";
  EXPECT_GT(frames_without_a_sink(setting.opc, setting.message), 0u);
}

const std::string LONG_NAME(10000, 'a');

INSTANTIATE_TEST_SUITE_P(
    Settings, OpcSettingWithoutASinkIs,
    testing::Values(sinkless_setting{"MinusOneAsAName", "-1", "OPC: Host not found: -1"},
                    sinkless_setting{"TenThousandCharacters", LONG_NAME, "OPC: Host not found: " + LONG_NAME},
                    sinkless_setting{"NameThatDoesNotResolve", "no-such-host.invalid",
                                     "OPC: Host not found: no-such-host.invalid"},
                    sinkless_setting{"Ipv6OnlyName", "ip6-localhost", "OPC: Host not found: ip6-localhost"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Broken assets.

TEST(ShowWithBrokenAssets, PictureThatDoesNotDecodeEndsTheShowWhereItIsNeeded) {
  const auto &ref = reference();
  loopback_opc_server server;
  const show_run run = run_program(DEMO_BROKEN_PICTURE, {"OPC=" + server.hostport()});
  const std::vector<led_frame> got = settled_frames(server);
  EXPECT_EQ(run.status, 1);
  // The broken one is the music page's picture, decoded as that page starts:
  // the last line names the credits scene's source and a line in it.
  const std::vector<std::string> lines = lines_of(run.output);
  ASSERT_FALSE(lines.empty());
  const std::string &report = lines.back();
  const std::string source = "src/credits.cpp:";
  const std::size_t at = report.rfind(source);
  EXPECT_TRUE(report.starts_with("FAIL! at ") && at != std::string::npos && run.output.ends_with("\n") &&
              at + source.size() < report.size() && report[at + source.size()] != '0' &&
              report.find_first_not_of("0123456789", at + source.size()) == std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("OPC: "), std::string::npos) << run.output;
  // Everything before it was sent: the show up to the end of the graphics page.
  EXPECT_EQ(got.size(), thank_you_index(ref.frames) + GRAPHICS_PAGE_AFTER_THANK_YOU + CREDITS_PAGE);
  EXPECT_TRUE(is_prefix(got, ref.frames));
}

TEST(ShowWithBrokenAssets, SoundtrackThatIsNotOggEndsTheStartUpBeforeAnyFrame) {
  loopback_opc_server server;
  const show_run run = run_program(DEMO_NOT_OGG, {"OPC=" + server.hostport()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Stream open error: no playable Ogg Vorbis stream\n");
  settled_frames(server);
  EXPECT_EQ(server.connections(), 0u) << "not even a connection";
}

TEST(ShowWithBrokenAssets, HoleInTheSoundtrackEndsTheShowWithTheDecoderError) {
  loopback_opc_server server;
  const show_run run = run_program(DEMO_HOLE, {"OPC=" + server.hostport()});
  const std::vector<led_frame> got = settled_frames(server);
  ASSERT_EQ(run.output.find("Playback open error"), std::string::npos)
      << "no sound device: start the headless sound server first\n" << run.output;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(count_lines(run.output, "ov_read: "), 1u) << run.output;
  // On a busy machine the sound device may run dry before the hole; the
  // player mends that, and the sound library says so in a line of its own.
  std::vector<std::string> reports = client_lines(run.output);
  std::erase_if(reports, [](const std::string &line) {
    return line.starts_with("ALSA lib ") && line.ends_with("underrun occurred");
  });
  EXPECT_EQ(reports.size(), 1u) << "nothing but the decoder's report\n" << run.output;
  // The title faded in and the music started; the hole, 1.2 s into the
  // stream, ended the show before the music reached the title's end, so
  // every later frame holds the title's picture, however slowly a busy
  // machine let the sound play.
  const auto &ref = reference();
  constexpr std::size_t fade_in = PLAYBACK_STARTS_AFTER_FRAMES;
  ASSERT_GT(got.size(), fade_in);
  EXPECT_TRUE(is_prefix({got.begin(), got.begin() + std::ptrdiff_t(fade_in)}, ref.frames));
  EXPECT_TRUE(std::all_of(got.begin() + std::ptrdiff_t(fade_in), got.end(),
                          [&](const led_frame &f) { return f == ref.frames[fade_in]; }))
      << "a frame after the title's picture was sent";
  std::printf("hole: exit %d after %lld ms and %zu frames\n", run.status, ms_of(run.took), got.size());
}

TEST(HoleStream, DecoderMeetsTheMissingPageAsAHoleBetweenOneAndTwoSeconds) {
  const std::vector<unsigned char> bytes = file_bytes(HOLE_STREAM);
  ASSERT_FALSE(bytes.empty());
  OggVorbis_File vf{};
  ASSERT_EQ(ov_load_data(bytes.data(), bytes.size(), &vf), 0);
  char block[8192];
  long result = 0;
  while ((result = ov_read(&vf, block, int(sizeof block), nullptr)) > 0) {
  }
  const ogg_int64_t at = ov_pcm_tell(&vf);
  ov_clear(&vf);
  EXPECT_EQ(result, OV_HOLE);
  EXPECT_GE(at, 44100);
  EXPECT_LT(at, 2 * 44100);
}

} // namespace
