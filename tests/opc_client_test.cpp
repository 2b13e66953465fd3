// The OPC client against a real TCP server on loopback.
#include "loopback_opc_server.h"
#include "opc.h"
#include "output_capture.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

std::vector<pixel> numbered_frame(u8 seed = 0) {
  std::vector<pixel> frame(512);
  for (size_t i = 0; i < frame.size(); ++i)
    frame[i] = {u8(i + seed), u8(i >> 8), u8(255 - i)};
  return frame;
}

std::vector<u8> message_bytes(u8 channel, const std::vector<pixel> &frame) {
  const size_t length = frame.size() * 3;
  std::vector<u8> bytes(4 + length);
  bytes[0] = channel;
  bytes[2] = u8(length >> 8);
  bytes[3] = u8(length & 0xff);
  std::memcpy(bytes.data() + 4, frame.data(), length);
  return bytes;
}

int count_lines_starting(const std::string &text, const std::string &prefix) {
  int count = 0;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (text.compare(at, prefix.size(), prefix) == 0)
      ++count;
    if (end == std::string::npos)
      break;
    at = end + 1;
  }
  return count;
}

// A port that nothing listens on: a server took it and went away.
u16 vacant_port() {
  loopback_opc_server gone;
  return gone.port();
}

std::string hostport_for(u16 port) { return "127.0.0.1:" + std::to_string(port); }

struct resolved {
  std::string address;
  int port;
};

std::optional<resolved> resolve(const char *text, u16 default_port = OPC_DEFAULT_PORT) {
  sockaddr_in address{};
  if (!opc_resolve(text, &address, default_port))
    return std::nullopt;
  EXPECT_EQ(address.sin_family, AF_INET);
  char dotted[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
  return resolved{dotted, ntohs(address.sin_port)};
}

TEST(OpcResolve, HostAndPortTextGivesAddressAndPortInNetworkOrder) {
  const auto r = resolve("127.0.0.1:7000");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->address, "127.0.0.1");
  EXPECT_EQ(r->port, 7000);
  EXPECT_EQ(resolve("localhost:65535")->port, 65535);
  EXPECT_EQ(resolve("localhost:1")->port, 1);
}

TEST(OpcResolve, EmptyHostIsLocalhost) {
  const auto r = resolve(":7000");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->address, "127.0.0.1");
  EXPECT_EQ(r->port, 7000);
  EXPECT_EQ(resolve(":")->port, OPC_DEFAULT_PORT);
  EXPECT_EQ(resolve("::")->address, "127.0.0.1");
}

TEST(OpcResolve, MissingZeroOrDigitlessPortTakesTheDefault) {
  EXPECT_EQ(resolve("localhost")->port, 7890);
  EXPECT_EQ(resolve("localhost", 1234)->port, 1234);
  EXPECT_EQ(resolve("localhost:0")->port, 7890);
  EXPECT_EQ(resolve("localhost:")->port, 7890);
  EXPECT_EQ(resolve("localhost:abc")->port, 7890);
  EXPECT_EQ(resolve("localhost:-1")->port, 7890);
  EXPECT_EQ(resolve("localhost:7000xyz")->port, 7000) << "only the leading digits count";
}

TEST(OpcResolve, PortAbove65535IsRefusedNotWrapped) {
  stderr_capture err;
  EXPECT_FALSE(resolve("localhost:65536"));
  EXPECT_FALSE(resolve("localhost:99999"));
  EXPECT_FALSE(resolve("localhost:99999999999999999999999"));
  EXPECT_EQ(count_lines_starting(err.text(), "OPC: Port out of range (1 to 65535): localhost:"), 3);
}

TEST(OpcResolve, NameWithoutAnIpv4AddressIsNotFound) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  addrinfo *found = nullptr;
  ASSERT_EQ(getaddrinfo("ip6-localhost", nullptr, &hints, &found), 0)
      << "the set-up script puts the standard ip6-localhost line into /etc/hosts";
  for (const addrinfo *a = found; a; a = a->ai_next)
    ASSERT_EQ(a->ai_family, AF_INET6) << "ip6-localhost must resolve to IPv6 only";
  freeaddrinfo(found);

  EXPECT_FALSE(resolve("ip6-localhost"));
  EXPECT_FALSE(resolve("ip6-localhost:7000"));
  EXPECT_FALSE(resolve("no-such-host.invalid"));
}

TEST(OpcResolve, VeryLongTextIsHandledSafely) {
  const std::string long_host(10000, 'a');
  EXPECT_FALSE(resolve(long_host.c_str()));
  const std::string long_port = "localhost:" + std::string(10000, '7');
  stderr_capture err;
  EXPECT_FALSE(resolve(long_port.c_str()));
}

TEST(OpcNewSink, UnresolvableHostsGiveMinusOneWithTheirText) {
  stderr_capture err;
  EXPECT_EQ(opc_new_sink("ip6-localhost"), -1);
  EXPECT_EQ(opc_new_sink("no-such-host.invalid:7000"), -1);
  EXPECT_EQ(err.text(), "OPC: Host not found: ip6-localhost\n"
                        "OPC: Host not found: no-such-host.invalid:7000\n");
}

TEST(OpcNewSink, OutOfRangePortIsReportedAsSuchAndGivesMinusOne) {
  stderr_capture err;
  EXPECT_EQ(opc_new_sink("localhost:99999"), -1);
  EXPECT_EQ(err.text(), "OPC: Port out of range (1 to 65535): localhost:99999\n");
}

TEST(OpcNewSink, NullDestinationReadsTheEnvironment) {
  loopback_opc_server server;
  setenv("OPC", (":" + std::to_string(server.port())).c_str(), 1);
  const opc_sink sink = opc_new_sink(nullptr);
  unsetenv("OPC");
  ASSERT_GE(sink, 0);
  const auto frame = numbered_frame();
  EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));
}

TEST(OpcNewSink, WithoutTheEnvironmentTheDestinationIsLocalhost7890) {
  unsetenv("OPC");
  std::optional<loopback_opc_server> server;
  try {
    server.emplace(OPC_DEFAULT_PORT);
  } catch (const std::system_error &) {
    GTEST_SKIP() << "port 7890 is taken on this machine";
  }
  const opc_sink sink = opc_new_sink(nullptr);
  ASSERT_GE(sink, 0);
  const auto frame = numbered_frame();
  EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  EXPECT_TRUE(server->wait_for_messages(1, 5s));
}

// The sink table is per process and never shrinks, so this runs in a process
// of its own, which reports through its exit status what it saw.
int fill_the_sink_table() {
  if (opc_new_sink("no-such-host.invalid") != -1)
    return 1;
  for (int i = 0; i < OPC_MAX_SINKS; ++i)
    if (opc_new_sink("127.0.0.1:7000") != i)
      return 2; // a failed lookup must not have used a record
  if (opc_new_sink("127.0.0.1:7000") != -1)
    return 3;
  return 0;
}

TEST(OpcNewSinkDeathTest, The65thSinkFailsAndFailedLookupsUseNoRecord) {
  GTEST_FLAG_SET(death_test_style, DEATH_TEST_STYLE);
  EXPECT_EXIT(std::exit(fill_the_sink_table()), testing::ExitedWithCode(0),
              "^OPC: Host not found: no-such-host.invalid\nOPC: No more sinks available\n$");
}

TEST(OpcPutPixels, SinkOutsideTheTableIsReportedAndNothingIsSent) {
  const auto frame = numbered_frame();
  stderr_capture err;
  EXPECT_EQ(opc_put_pixels(-1, 0, 512, frame.data()), 0);
  EXPECT_EQ(opc_put_pixels(100, 0, 512, frame.data()), 0);
  const std::string text = err.text();
  EXPECT_EQ(count_lines_starting(text, "OPC: Sink -1 does not exist"), 1);
  EXPECT_EQ(count_lines_starting(text, "OPC: Sink 100 does not exist"), 1);
}

class OpcDelivery : public testing::Test {
protected:
  loopback_opc_server server;
  opc_sink sink = opc_new_sink(server.hostport().c_str());
};

TEST_F(OpcDelivery, A512PixelFrameArrivesAsHeader0060ThenItsRgbBytes) {
  ASSERT_GE(sink, 0);
  const auto frame = numbered_frame();
  ASSERT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));
  const auto bytes = server.bytes_per_connection().at(0);
  ASSERT_EQ(bytes.size(), 4u + 1536u);
  EXPECT_EQ(std::vector<u8>(bytes.begin(), bytes.begin() + 4), (std::vector<u8>{0, 0, 6, 0}));
  EXPECT_EQ(bytes, message_bytes(0, frame));
}

TEST_F(OpcDelivery, ChannelAndLengthFollowTheCall) {
  const std::vector<pixel> two = {{1, 2, 3}, {4, 5, 6}};
  ASSERT_EQ(opc_put_pixels(sink, 7, 2, two.data()), 1);
  ASSERT_EQ(opc_put_pixels(sink, 9, 0, two.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(2, 5s));
  EXPECT_EQ(server.bytes_per_connection().at(0), (std::vector<u8>{7, 0, 0, 6, 1, 2, 3, 4, 5, 6, 9, 0, 0, 0}));
  EXPECT_EQ(server.connections(), 1u) << "one connection serves every message";
}

TEST_F(OpcDelivery, TheLargestCountFillsTheLengthFieldAndOneMoreIsRefused) {
  std::vector<pixel> many(OPC_MAX_PIXELS + 1, pixel{9, 8, 7});
  stderr_capture err;
  EXPECT_EQ(opc_put_pixels(sink, 0, u16(OPC_MAX_PIXELS + 1), many.data()), 0);
  EXPECT_EQ(err.text(), "OPC: Maximum pixel count exceeded (21846 > 21845)\n");
  ASSERT_EQ(opc_put_pixels(sink, 0, OPC_MAX_PIXELS, many.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));
  const auto messages = server.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].length, 65535);
  EXPECT_EQ(server.bytes_per_connection().at(0).size(), 4u + 65535u) << "nothing of the refused message was sent";
}

TEST(OpcReconnect, WithoutServerEachMessageMakesOneAttemptThenTheServerGetsTheNextWhole) {
  const u16 port = vacant_port();
  const opc_sink sink = opc_new_sink(hostport_for(port).c_str());
  ASSERT_GE(sink, 0);
  const auto frame = numbered_frame(3);
  const std::string failed = "OPC: Failed to connect to " + hostport_for(port) + ": Connection refused";
  {
    stderr_capture err;
    EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 0);
    EXPECT_EQ(count_lines_starting(err.text(), failed), 1);
    EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 0);
    EXPECT_EQ(count_lines_starting(err.text(), failed), 2);
    EXPECT_EQ(count_lines_starting(err.text(), "OPC: "), 2) << err.text();
  }
  loopback_opc_server server(port);
  EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));
  EXPECT_EQ(server.bytes_per_connection().at(0), message_bytes(0, frame));
}

int sigpipe_handler_calls = 0;
void count_sigpipe(int) { ++sigpipe_handler_calls; }

TEST(OpcReconnect, ServerThatClosesGivesOneErrorAndOneCloseLineThenAReconnect) {
  loopback_opc_server server;
  server.close_after(1);
  const opc_sink sink = opc_new_sink(server.hostport().c_str());
  const auto frame = numbered_frame(5);

  // The client must not disturb a SIGPIPE handler of the program around it.
  struct sigaction ours {}, before{};
  ours.sa_handler = count_sigpipe;
  sigemptyset(&ours.sa_mask);
  sigaction(SIGPIPE, &ours, &before);

  ASSERT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));

  std::string text;
  {
    stderr_capture err;
    // The first write after the server's close may still be taken by the
    // kernel; the one after that meets the reset.
    int failures = 0;
    for (int i = 0; i < 100 && failures == 0; ++i) {
      if (opc_put_pixels(sink, 0, 512, frame.data()) == 0)
        ++failures;
      else
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(failures, 1);
    text = err.text();
  }
  EXPECT_EQ(count_lines_starting(text, "OPC: Error sending data: "), 1) << text;
  EXPECT_EQ(count_lines_starting(text, "OPC: Closed connection to " + server.hostport() + "\n"), 1) << text;
  EXPECT_EQ(count_lines_starting(text, "OPC: "), 2) << text;

  EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_connections(2, 5s));
  ASSERT_TRUE(server.wait_for_messages(2, 5s));
  EXPECT_EQ(server.messages().back().connection, 1);

  struct sigaction after {};
  sigaction(SIGPIPE, &before, &after);
  EXPECT_EQ(after.sa_handler, count_sigpipe) << "the previous SIGPIPE disposition is restored";
  EXPECT_EQ(sigpipe_handler_calls, 0) << "SIGPIPE is ignored during the send";
}

TEST(OpcReconnect, ServerThatStopsReadingCostsAtMostTheTimeOutPerMessageAndRecovers) {
  loopback_opc_server server;
  const opc_sink sink = opc_new_sink(server.hostport().c_str());
  auto frame = numbered_frame(7);
  ASSERT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));
  server.set_reading(false);

  std::string text;
  {
    stderr_capture err;
    bool dropped = false;
    auto longest = clock_type::duration::zero();
    for (int i = 0; i < 200000 && !dropped; ++i) {
      const auto start = clock_type::now();
      dropped = opc_put_pixels(sink, 0, 512, frame.data()) == 0;
      longest = std::max(longest, clock_type::now() - start);
    }
    ASSERT_TRUE(dropped) << "the socket buffers never filled";
    EXPECT_LT(longest, std::chrono::milliseconds(OPC_TIMEOUT_MS) + 300ms);
    text = err.text();
  }
  EXPECT_EQ(count_lines_starting(text, "OPC: Error sending data: Connection timed out"), 1) << text;
  EXPECT_EQ(count_lines_starting(text, "OPC: Closed connection to "), 1) << text;

  server.set_reading(true);
  frame = numbered_frame(99);
  bool delivered = false;
  for (int i = 0; i < 50 && !delivered; ++i) {
    delivered = opc_put_pixels(sink, 0, 512, frame.data()) == 1;
    if (!delivered)
      std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(delivered);
  const auto expected = message_bytes(0, frame);
  bool seen = false;
  for (int i = 0; i < 250 && !seen; ++i) {
    for (const auto &m : server.messages())
      seen = seen || (m.connection >= 1 && m.data == std::vector<u8>(expected.begin() + 4, expected.end()));
    if (!seen)
      std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(seen) << "a frame sent after the server reads again arrives whole on a new connection";
}

// Holds every free descriptor below `below`, so that the next one this
// process opens is `below` or higher; gives them back when it goes.
class low_descriptors_taken {
public:
  explicit low_descriptors_taken(int below) {
    for (;;) {
      const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        break;
      if (fd >= below) {
        close(fd);
        break;
      }
      fds_.push_back(fd);
    }
  }
  ~low_descriptors_taken() {
    for (const int fd : fds_)
      close(fd);
  }
  low_descriptors_taken(const low_descriptors_taken &) = delete;
  low_descriptors_taken &operator=(const low_descriptors_taken &) = delete;

private:
  std::vector<int> fds_;
};

TEST(OpcConnect, ASocketBeyondWhatSelectCanWaitForIsRefusedAndTheNextFrameConnects) {
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  const rlim_t wanted = FD_SETSIZE + 16;
  if (before.rlim_max < wanted)
    GTEST_SKIP() << "this process may not open more than " << before.rlim_max << " descriptors";
  rlimit raised = before;
  raised.rlim_cur = std::max(before.rlim_cur, wanted);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);

  loopback_opc_server server;
  const opc_sink sink = opc_new_sink(server.hostport().c_str());
  const auto frame = numbered_frame(11);
  std::string text;
  {
    stderr_capture err;
    const low_descriptors_taken taken(FD_SETSIZE);
    EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 0);
    text = err.text();
  }
  EXPECT_EQ(text, "OPC: Failed to connect to " + server.hostport() + ": socket descriptor " +
                      std::to_string(FD_SETSIZE) + " is beyond what select can wait for\n");
  EXPECT_EQ(server.connections(), 0u);

  EXPECT_EQ(opc_put_pixels(sink, 0, 512, frame.data()), 1);
  ASSERT_TRUE(server.wait_for_messages(1, 5s));
  EXPECT_EQ(server.bytes_per_connection().at(0), message_bytes(0, frame));
  setrlimit(RLIMIT_NOFILE, &before);
}

} // namespace
