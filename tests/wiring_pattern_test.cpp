// The wiring test program against a real loopback server: each panel step
// lights only the LEDs of that panel in the chain, each row step exactly the
// 32 LEDs of that row, and the last step every panel with its number.
#include "child_process.h"
#include "loopback_opc_server.h"
#include "matrix_wiring.h"
#include "wiring_pattern.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Positions (32 * y + x) of the lit LEDs of a frame in LED order.
std::vector<int> lit_positions(const std::vector<u8> &leds) {
  std::vector<int> out;
  for (int led = 0; led < MATRIX_LEDS; ++led)
    if (leds[size_t(3 * led)] || leds[size_t(3 * led + 1)] || leds[size_t(3 * led + 2)])
      out.push_back(matrix_led_to_position[size_t(led)]);
  return out;
}

int lit_leds_in_panel(const std::vector<u8> &leds, int panel) {
  int n = 0;
  for (int led = 64 * panel; led < 64 * (panel + 1); ++led)
    n += leds[size_t(3 * led)] || leds[size_t(3 * led + 1)] || leds[size_t(3 * led + 2)];
  return n;
}

TEST(WiringTest, LightsEachPanelThenEachRowThenAllPanelsOnce) {
  loopback_opc_server server;
  child_process tool({WIRING_TEST, "--step-ms", "40"}, {"OPC=" + server.hostport()});
  ASSERT_EQ(tool.wait(30s), 0) << tool.output();
  ASSERT_TRUE(server.wait_for_messages(WIRING_STEPS, 2s));
  const auto messages = server.messages();
  ASSERT_EQ(messages.size(), size_t(WIRING_STEPS));

  for (int panel = 0; panel < WIRING_PANELS; ++panel) {
    const auto &leds = messages[size_t(panel)].data;
    const int inside = lit_leds_in_panel(leds, panel);
    EXPECT_EQ(int(lit_positions(leds).size()), inside) << "panel " << panel + 1 << " lights LEDs of another panel";
    EXPECT_GT(inside, 40) << "panel " << panel + 1 << " is lit";
    EXPECT_LT(inside, 64) << "panel " << panel + 1 << " shows its number in black";
  }
  for (int row = 0; row < WIRING_ROWS; ++row) {
    const auto lit = lit_positions(messages[size_t(WIRING_PANELS + row)].data);
    ASSERT_EQ(lit.size(), 32u) << "row " << row + 1;
    for (int p : lit)
      EXPECT_EQ(p / MATRIX_WIDTH, row);
  }
  const auto &all = messages.back().data;
  for (int panel = 0; panel < WIRING_PANELS; ++panel)
    EXPECT_EQ(lit_leds_in_panel(all, panel), lit_leds_in_panel(messages[size_t(panel)].data, panel));

  const std::string said = tool.output();
  EXPECT_NE(said.find("panel 1 of the chain lit, with its number: it belongs top row, 1st from the left"),
            std::string::npos) << said;
  EXPECT_NE(said.find("panel 8 of the chain lit, with its number: it belongs bottom row, 4th from the left"),
            std::string::npos) << said;
  EXPECT_NE(said.find("row 16 of 16"), std::string::npos) << said;
}

TEST(WiringTest, StepsThatDoNotReachTheServerAreNotClaimedAsLit) {
  u16 port = 0;
  {
    loopback_opc_server gone;
    port = gone.port();
  }
  child_process tool({WIRING_TEST, "--step-ms", "40"}, {"OPC=127.0.0.1:" + std::to_string(port)});
  ASSERT_TRUE(tool.wait_for_output("step 1 of 25 not delivered: the wall does not show it\n", 10s)) << tool.output();
  const std::string before = tool.output();
  EXPECT_EQ(before.find("panel 1 of the chain lit"), std::string::npos) << before;
  EXPECT_NE(before.find("OPC: Failed to connect to 127.0.0.1:" + std::to_string(port)), std::string::npos) << before;

  // Each refused attempt holds the tool for the client's pause, so later steps
  // are still to come when the server is there; those it gets are told.
  loopback_opc_server server(port);
  ASSERT_EQ(tool.wait(30s), 0) << tool.output();
  const std::string said = tool.output();
  EXPECT_NE(said.find("all panels with their numbers"), std::string::npos) << said;
  EXPECT_EQ(said.find("panel 1 of the chain lit"), std::string::npos) << said;
}

TEST(WiringTest, BadOptionsAreNamedAndHelpIsTheUsageOnStdout) {
  for (const char *value : {"ten", "39", "600001", ""}) {
    child_process tool({WIRING_TEST, "--step-ms", value}, {}, "", child_streams::apart);
    EXPECT_EQ(tool.wait(5s), 2) << value;
    EXPECT_EQ(tool.output(), "") << value;
    const std::string told = tool.errors();
    EXPECT_EQ(told.rfind("wiring_test: --step-ms takes a whole number of milliseconds from 40 to 600000, not '" +
                             std::string(value) + "'\nusage: wiring_test",
                         0),
              0u)
        << told;
  }
  child_process unknown({WIRING_TEST, "--steps", "40"});
  EXPECT_EQ(unknown.wait(5s), 2);
  EXPECT_EQ(unknown.output().rfind("wiring_test: unknown option '--steps'\nusage: wiring_test", 0), 0u)
      << unknown.output();

  child_process help({WIRING_TEST, "--help"}, {}, "", child_streams::apart);
  EXPECT_EQ(help.wait(5s), 0);
  EXPECT_EQ(help.output().rfind("usage: wiring_test", 0), 0u) << help.output();
  EXPECT_NE(help.output().find("--step-ms MS"), std::string::npos) << help.output();
  EXPECT_EQ(help.errors(), "");
}

} // namespace
