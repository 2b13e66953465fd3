// The whole show in virtual time through the bridge to an E1.31 and a DDP
// receiver on loopback: each receiver's frames, put back into the wall's LED
// order, are the frames of the committed digest.
#include "child_process.h"
#include "poll_until.h"
#include "show_frames.h"
#include "udp_receiver.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using bytes = std::vector<u8>;

std::string digest(const bytes &leds) {
  std::uint64_t h = 1469598103934665603ull; // FNV-1a, as the committed digest has it
  for (u8 b : leds)
    h = (h ^ b) * 1099511628211ull;
  char line[17];
  std::snprintf(line, sizeof line, "%016" PRIx64, h);
  return line;
}

// Runs of the same frame count once: a silent second brings a repeat.
std::vector<std::string> without_repeats(const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  for (const std::string &l : lines)
    if (out.empty() || out.back() != l)
      out.push_back(l);
  return out;
}

// The receiver's frames in image order (the bridge's default rows), as digests
// of the wall's LED order. A frame is complete on its last packet: DDP's push
// flag, E1.31's fourth universe. Stream-terminated packets are no frames.
std::vector<std::string> received_digests(const std::vector<received_datagram> &datagrams, bool ddp) {
  std::vector<std::string> out;
  bytes frame;
  for (const received_datagram &d : datagrams) {
    const bytes &p = d.bytes;
    bool last = false;
    if (ddp) {
      frame.insert(frame.end(), p.begin() + 10, p.end());
      last = p[0] & 0x01;
    } else {
      if (p.size() < 126 || p[21] != 0x04 || (p[112] & 0x40))
        continue;
      frame.insert(frame.end(), p.begin() + 126, p.end());
      last = (p[113] << 8 | p[114]) == 4;
    }
    if (!last)
      continue;
    show_frame picture{};
    if (frame.size() == picture.size()) {
      std::copy(frame.begin(), frame.end(), picture.begin());
      out.push_back(digest(in_led_order(picture)));
    } else {
      out.push_back("a frame of " + std::to_string(frame.size()) + " bytes");
    }
    frame.clear();
  }
  return out;
}

std::string first_difference(const std::vector<std::string> &want, const std::vector<std::string> &got) {
  std::size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i])
    ++i;
  if (i == want.size() && i == got.size())
    return "";
  return "frame " + std::to_string(i) + " of the show without repeats differs (committed " +
         std::to_string(want.size()) + " distinct runs, received " + std::to_string(got.size()) + ")";
}

TEST(BridgeShow, TheWholeShowThroughTheBridgeIsTheCommittedShow) {
  std::vector<std::string> golden;
  std::ifstream in(SHOW_DIGEST_GOLDEN);
  for (std::string line; std::getline(in, line);)
    golden.push_back(line);
  ASSERT_GT(golden.size(), 10000u);

  udp_receiver e131, ddp;
  child_process bridge(emulated({BRIDGE, "--listen", "127.0.0.1:0", "--idle-hold", "0", "--to",
                                 "e131://" + e131.at() + " ddp://" + ddp.at()}));
  const std::string mark = "listening on 127.0.0.1:";
  ASSERT_TRUE(bridge.wait_for_output(mark, 20s)) << bridge.output();
  const std::string out = bridge.output();
  const int port = std::stoi(out.substr(out.find(mark) + mark.size()));
  child_process demo(emulated({DEMO_VIRTUAL}), {"OPC=127.0.0.1:" + std::to_string(port)});
  ASSERT_EQ(demo.wait(10min), 0) << demo.output();
  // Until nothing more comes for a second.
  std::size_t seen = 0;
  while (poll_until([&] { return e131.count() + ddp.count() != seen; }, 1000ms, 50ms))
    seen = e131.count() + ddp.count();
  bridge.signal(SIGTERM);
  EXPECT_EQ(bridge.wait(20s), 0);
  const std::string log = bridge.output();
  for (const udp_receiver *r : {&e131, &ddp}) {
    const std::size_t line = log.find(r->at() + ": ");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.substr(line, log.find('\n', line) - line).find(" 0 send errors, 0 frames skipped"), std::string::npos)
        << log;
  }

  const std::vector<std::string> want = without_repeats(golden);
  const std::vector<std::string> from_e131 = without_repeats(received_digests(e131.datagrams(), false));
  const std::vector<std::string> from_ddp = without_repeats(received_digests(ddp.datagrams(), true));
  EXPECT_EQ(first_difference(want, from_e131), "") << "at the E1.31 receiver";
  EXPECT_EQ(first_difference(want, from_ddp), "") << "at the DDP receiver";
}

} // namespace
