// The simulator as a program: started on a free port with every output,
// fed frames by the demo's own client, ended by a signal; its files are
// complete and its summary is right.
#include "frame_log.h"
#include "file_contents.h"
#include "loopback_opc_server.h"
#include "simulator_process.h"
#include "opcgd.h"
#include "raw_opc_client.h"
#include "wait_until.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

namespace {

// The simulator as this test starts it.
struct simulator : simulator_process {
  explicit simulator(const std::vector<std::string> &options) : simulator_process(LEDSIM, options) {}
  // Ends it with `sig`; its exit status, and everything it wrote.
  int stop(int sig, std::string *said) {
    const int status = simulator_process::stop(sig);
    *said = program.output();
    return status;
  }
};

void records_everything_and_ends_cleanly_on(int sig) {
  SCOPED_TRACE(strsignal(sig));
  const std::string dir = testing::TempDir() + std::to_string(sig);
  const std::string log = dir + "run.log", gif = dir + "run.gif", sheet = dir + "run.png", summary = dir + "run.txt";
  simulator sim({"--listen", "127.0.0.1:0", "--log", log, "--gif", gif, "--gif-scale", "4", "--sheet", sheet,
                 "--summary", summary});
  ASSERT_GT(sim.port, 0);

  const opc_sink sink = opc_new_sink(("127.0.0.1:" + std::to_string(sim.port)).c_str());
  gdImagePtr im = gdImageCreateTrueColor(32, 16);
  const wait_until_t clock = wait_until_init();
  wait_until_ms(clock, 40);
  for (int i = 0; i < 40; ++i) {
    gdImageFilledRectangle(im, 0, 0, 31, 15, gdTrueColor(6 * i, 0, 255 - 6 * i));
    wait_until_timeout(clock);
    ASSERT_EQ(opc_put_gd_image_32x16z(sink, im), 1);
  }
  wait_until_done(clock);
  gdImageDestroy(im);
  usleep(200000);

  std::string rest;
  EXPECT_EQ(sim.stop(sig, &rest), 0) << rest;
  EXPECT_NE(rest.find("frames: 40\n"), std::string::npos) << rest;
  EXPECT_NE(rest.find("connections: 1\n"), std::string::npos) << rest;

  std::vector<wall_frame> frames;
  ASSERT_TRUE(frame_log_read(log.c_str(), &frames));
  ASSERT_EQ(frames.size(), 40u);
  EXPECT_EQ(frames[39].rgb[0], 6 * 39);
  EXPECT_EQ(frames[39].rgb[2], 255 - 6 * 39);

  const std::string text = file_text(summary);
  EXPECT_NE(text.find("frames: 40\n"), std::string::npos);
  double mean = 0;
  ASSERT_NE(text.find("mean frame period: "), std::string::npos);
  std::sscanf(text.c_str() + text.find("mean frame period: "), "mean frame period: %lf", &mean);
  // The period is the simulator's own measure, from the receive times it logs
  // (a busy machine may make the sender late, never the figure inconsistent).
  const double logged_ms = double(frames[39].received_ns - frames[0].received_ns) / 39 / 1e6;
  EXPECT_NEAR(mean, logged_ms, 0.01);
  EXPECT_GT(mean, 40.0 - 3.0) << "the frames were paced, not sent in a burst";

  for (const std::string &picture : {gif, sheet}) {
    std::FILE *f = std::fopen(picture.c_str(), "rb");
    ASSERT_NE(f, nullptr) << picture;
    gdImagePtr decoded = picture == gif ? gdImageCreateFromGif(f) : gdImageCreateFromPng(f);
    std::fclose(f);
    ASSERT_NE(decoded, nullptr) << picture << " is complete";
    gdImageDestroy(decoded);
  }
}

// SIGHUP is how a dropped ssh session ends it: the same as SIGTERM.
TEST(LedsimProgram, RecordsEverythingAndEndsCleanlyOnSigtermAndSighup) {
  for (const int sig : {SIGTERM, SIGHUP})
    records_everything_and_ends_cleanly_on(sig);
}

// A start that fails part-way (here the browser view's port is taken) still
// finishes what it had opened: the GIF is a whole file, the log has its header.
TEST(LedsimProgram, AFailedStartFinishesWhatItOpened) {
  loopback_opc_server taken;
  const std::string dir = testing::TempDir();
  const std::string log = dir + "failed.log", gif = dir + "failed.gif";
  simulator sim({"--listen", "127.0.0.1:0", "--log", log, "--gif", gif, "--http", taken.hostport()});
  std::string said;
  EXPECT_EQ(sim.stop(0, &said), 1) << said;
  EXPECT_EQ(said.find("frames:"), std::string::npos) << "no summary of a simulator that never ran: " << said;
  std::vector<wall_frame> frames;
  EXPECT_TRUE(frame_log_read(log.c_str(), &frames));
  EXPECT_TRUE(frames.empty());
  std::FILE *f = std::fopen(gif.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  gdImagePtr decoded = gdImageCreateFromGif(f);
  std::fclose(f);
  EXPECT_NE(decoded, nullptr) << "the GIF was finished";
  if (decoded)
    gdImageDestroy(decoded);
}

TEST(LedsimProgram, SigintEndsItToo) {
  simulator sim({"--listen", "127.0.0.1:0"});
  std::string rest;
  EXPECT_EQ(sim.stop(SIGINT, &rest), 0);
  EXPECT_NE(rest.find("frames: 0\n"), std::string::npos) << rest;
}

// An empty set-pixel-colours message (on the wall's channel or the
// broadcast one) sets no pixel: it is no frame in the log, the summary or
// the connection's count.
TEST(LedsimProgram, EmptyMessagesAreNoFrames) {
  const std::string log = testing::TempDir() + "ledsim_empty.log";
  simulator sim({"--listen", "127.0.0.1:0", "--log", log});
  ASSERT_GT(sim.port, 0);
  raw_client client(sim.port);
  ASSERT_TRUE(client.connected);
  const std::vector<u8> empty = {0, 0, 0, 0}, empty_broadcast = {255, 0, 0, 0}; // channel, command, length 0
  for (const u8 red : {10, 20, 30}) {
    client.send_bytes(opc_message(0, 0, std::vector<u8>(3 * 512, red)));
    for (const auto *message : {&empty, &empty_broadcast, &empty})
      client.send_bytes(*message);
  }
  usleep(300000);
  std::string rest;
  EXPECT_EQ(sim.stop(SIGTERM, &rest), 0);
  EXPECT_NE(rest.find("frames: 3\n"), std::string::npos) << rest;
  std::vector<wall_frame> frames;
  ASSERT_TRUE(frame_log_read(log.c_str(), &frames));
  ASSERT_EQ(frames.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(frames[i].rgb[0], 10 * (i + 1));
}

TEST(LedsimProgram, BadOptionsAreRefused) {
  simulator sim({"--gif-scale", "two"});
  EXPECT_EQ(sim.first_line, "ledsim: bad value for --gif-scale: two");
  std::string rest;
  EXPECT_EQ(sim.stop(0, &rest), 1);
}

TEST(LedsimProgram, ABadAddressIsOneMessageNamingIt) {
  const std::string port = "the port must be a whole number from 0 to 65535";
  const std::string brackets = "an IPv6 host goes in brackets with the port after them, as [::1]:7890";
  for (const auto &[option, text, why] : {std::tuple{"--listen", "127.0.0.1:99999", port + ", not '99999'"},
                                          {"--listen", "78x", port + ", not '78x'"},
                                          {"--listen", "localhost:", port + ", not ''"},
                                          {"--listen", "::1:7890", brackets},
                                          {"--listen", "[::1]7890", brackets},
                                          {"--http", "127.0.0.1:-1", port + ", not '-1'"},
                                          {"--http", "[::1", brackets}}) {
    simulator sim({option, text});
    const std::string expected = "ledsim: bad address for " + std::string(option) + ": '" + text + "': " + why;
    std::string said;
    EXPECT_EQ(sim.stop(0, &said), 1) << said;
    EXPECT_EQ(said, expected + "\n") << "one message, and nothing opened before it";
  }
}

// A client of the simulator on a loopback address of either family.
bool reaches(int family, int port) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&a);
    v6->sin6_family = AF_INET6, v6->sin6_port = htons(u16(port)), v6->sin6_addr = in6addr_loopback;
    length = sizeof *v6;
  } else {
    auto *v4 = reinterpret_cast<sockaddr_in *>(&a);
    v4->sin_family = AF_INET, v4->sin_port = htons(u16(port)), v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *v4;
  }
  const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&a), length) == 0;
  close(fd);
  return connected;
}

// A port alone, or after a colon, is one on 127.0.0.1 (it used to be taken
// as a host); IPv6 goes in brackets.
TEST(LedsimProgram, ListensOnEachFormOfAddress) {
  for (const auto &[text, family] : {std::pair{"0", AF_INET}, {":0", AF_INET}, {"127.0.0.1:0", AF_INET},
                                     {"localhost:0", AF_INET}, {"[::1]:0", AF_INET6}}) {
    simulator sim({"--listen", text});
    ASSERT_GT(sim.port, 0) << text << ": " << sim.first_line;
    EXPECT_TRUE(reaches(family, sim.port)) << text;
    if (family == AF_INET6) {
      EXPECT_FALSE(reaches(AF_INET, sim.port)) << text << " is on ::1 only";
    }
    std::string said;
    EXPECT_EQ(sim.stop(SIGTERM, &said), 0) << said;
  }
  // A port given alone, as users wrote it: a port on 127.0.0.1, not a host.
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET, a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
  close(fd); // free again, for the simulator
  const int port = ntohs(a.sin_port);
  simulator sim({"--listen", std::to_string(port)});
  EXPECT_EQ(sim.port, port) << sim.first_line;
  EXPECT_TRUE(reaches(AF_INET, port));
  std::string said;
  EXPECT_EQ(sim.stop(SIGTERM, &said), 0) << said;
}

// The scripts' way of starting the simulator (scripts/simulator.sh), run by
// bash: on success it prints the OPC address it reported and runs until
// SIGTERM, which ends the simulator too.
struct script_start : child_process {
  script_start(const std::string &log, const std::string &listen)
      : child_process({"bash", "-c",
                       ". " SCRIPTS "/simulator.sh\n"
                       "trap 'kill $simulator; wait $simulator; exit' TERM\n"
                       "start_simulator \"$1\" \"$2\" || exit\n"
                       "echo \"opc=$simulator_opc\"\n"
                       "wait $simulator\n",
                       "script_start", log, listen},
                      {"LEDSIM=" LEDSIM}) {}
};

TEST(SimulatorScript, ReportsAnAddressThatReachesTheSimulator) {
  if (!emulated({}).empty())
    GTEST_SKIP() << "the scripts run on the build machine";
  const std::string log = testing::TempDir() + "script_start.log";
  script_start script(log, ":0"); // no host: this machine
  ASSERT_TRUE(script.wait_for_output("\n", std::chrono::seconds(5))) << script.output();
  const std::string said = script.output();
  ASSERT_EQ(said.rfind("opc=:", 0), 0u) << said;
  const opc_sink sink = opc_new_sink(said.substr(4, said.find('\n') - 4).c_str());
  const std::array<pixel, 512> frame{};
  EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  usleep(200000);
  script.signal(SIGTERM);
  EXPECT_EQ(script.wait(std::chrono::seconds(10)), 0) << script.output();
  EXPECT_NE(file_text(log).find("frames: 1\n"), std::string::npos) << file_text(log);
}

TEST(SimulatorScript, FailsAndShowsWhyWhenTheSimulatorCannotListen) {
  if (!emulated({}).empty())
    GTEST_SKIP() << "the scripts run on the build machine";
  loopback_opc_server taken;
  script_start script(testing::TempDir() + "script_refused.log", taken.hostport());
  EXPECT_EQ(script.wait(std::chrono::seconds(10)), 1);
  EXPECT_NE(script.output().find("ledsim: cannot listen on " + taken.hostport()), std::string::npos)
      << script.output();
}

} // namespace
