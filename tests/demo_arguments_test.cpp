// The show takes no arguments: it answers --help and --version without
// playing and refuses anything else, so that a mistyped option does not
// start a seven-minute show.
#include "child_process.h"
#include "loopback_opc_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct demo_run {
  int status;
  std::string out, err;
  std::size_t connections;
};

demo_run run_demo(const std::vector<std::string> &arguments) {
  loopback_opc_server server;
  std::vector<std::string> argv{DEMO};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  child_process demo(emulated(argv), {"OPC=" + server.hostport()}, "", child_streams::apart);
  const int status = demo.wait(20s); // a show that started would still be playing
  return {status, demo.output(), demo.errors(), server.connections()};
}

TEST(DemoArguments, AnswersHelpAndVersionOnStandardOutputWithoutPlaying) {
  const demo_run help = run_demo({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: ledwall-demo [--help | --version]\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("$OPC"), std::string::npos) << "the usage says where the frames go";
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.connections, 0u);

  const demo_run version = run_demo({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "ledwall-demo " LEDWALL_VERSION "\n");
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(version.connections, 0u);
}

TEST(DemoArguments, RefusesAnyOtherArgumentWithTheUsageOnStandardError) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
      {{"--hlep"}, "--hlep"},          {{"-h"}, "-h"},
      {{"play"}, "play"},              {{""}, ""},
      {{"--help", "now"}, "now"},      {{"--version", "--help"}, "--help"},
      {{"x", "--version"}, "x"},
  };
  for (const auto &[arguments, named] : refused) {
    const demo_run run = run_demo(arguments);
    EXPECT_EQ(run.status, 2) << named;
    EXPECT_EQ(run.out, "") << named;
    EXPECT_EQ(run.err.rfind("ledwall-demo: unexpected argument '" + named + "'\nusage: ledwall-demo", 0), 0u)
        << run.err;
    EXPECT_EQ(run.connections, 0u) << named;
  }
}

} // namespace
