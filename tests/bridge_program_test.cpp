// The bridge as a program: OPC frames in on loopback, the controllers'
// packets out to UDP receivers on loopback (and an OPC server), checked
// against layouts and header bytes worked out here from the protocols'
// published layouts, not from the bridge's code. (Debian's Open Lighting
// Architecture daemon checks the E1.31 and Art-Net packets independently:
// tests/bridge_receivers_test.py.)
#include "child_process.h"
#include "loopback_opc_server.h"
#include "loopback_socket.h"
#include "poll_until.h"
#include "raw_opc_client.h"
#include "show_frames.h"
#include "udp_receiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;
using bytes = std::vector<u8>;

// The bridge, started on a free port; the port it listens on is read from its first line.
struct bridge_process {
  std::unique_ptr<child_process> process;
  int port = 0;
};

bridge_process start_bridge(std::vector<std::string> args, const std::vector<std::string> &env = {}) {
  std::vector<std::string> argv = {BRIDGE, "--listen", "127.0.0.1:0"};
  argv.insert(argv.end(), args.begin(), args.end());
  bridge_process b;
  b.process = std::make_unique<child_process>(emulated(argv), env);
  const std::string mark = "listening on 127.0.0.1:";
  if (b.process->wait_for_output(mark, 20s)) {
    const std::string out = b.process->output();
    b.port = std::stoi(out.substr(out.find(mark) + mark.size()));
  }
  return b;
}

// A picture in which every pixel has its own colour: red tells x, green y.
show_frame test_picture() {
  show_frame f{};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const std::size_t at = std::size_t(3 * (32 * y + x));
      f[at] = u8(8 * x);
      f[at + 1] = u8(16 * y);
      f[at + 2] = u8(100 + x + y);
    }
  return f;
}

std::array<u8, 3> rgb(const show_frame &f, int x, int y) {
  const std::size_t at = std::size_t(3 * (32 * y + x));
  return {f[at], f[at + 1], f[at + 2]};
}

void send_picture(const raw_client &client, const show_frame &picture) {
  client.send_bytes(opc_message(0, 0, in_led_order(picture)));
}

// DDP frames as a receiver puts them together: data at its offset, complete
// with the push flag.
std::vector<bytes> ddp_frames(const std::vector<received_datagram> &datagrams) {
  std::vector<bytes> frames;
  bytes building;
  for (const received_datagram &d : datagrams) {
    const bytes &p = d.bytes;
    if (p.size() < 10)
      continue;
    const std::size_t offset = std::size_t(p[4]) << 24 | std::size_t(p[5]) << 16 | std::size_t(p[6]) << 8 | p[7];
    const std::size_t length = std::size_t(p[8]) << 8 | p[9];
    if (building.size() < offset + length)
      building.resize(offset + length);
    std::copy(p.begin() + 10, p.begin() + 10 + std::ptrdiff_t(length), building.begin() + std::ptrdiff_t(offset));
    if (p[0] & 0x01) {
      frames.push_back(building);
      building.clear();
    }
  }
  return frames;
}

// E1.31 data packets: universe (bytes 113-114), options (112), slots from 126.
int e131_universe(const bytes &p) { return p[113] << 8 | p[114]; }
bytes e131_slots(const bytes &p) { return bytes(p.begin() + 126, p.end()); }
bool is_e131_data(const bytes &p) { return p.size() >= 126 && p[21] == 0x04; }

// E1.31 frames for universes first..last: complete at the last universe.
std::vector<bytes> e131_frames(const std::vector<received_datagram> &datagrams, int last) {
  std::vector<bytes> frames;
  bytes building;
  for (const received_datagram &d : datagrams) {
    if (!is_e131_data(d.bytes))
      continue;
    const bytes slots = e131_slots(d.bytes);
    building.insert(building.end(), slots.begin(), slots.end());
    if (e131_universe(d.bytes) == last) {
      frames.push_back(building);
      building.clear();
    }
  }
  return frames;
}

std::string write_map_file(const std::string &name, const std::string &text) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

// Every order and option, one output each, all from one frame.
TEST(Bridge, LaysTheFrameOutInEveryOrderAndOption) {
  // The reversed map: matrix position p is LED 511 - p.
  std::string reversed = "[";
  for (int p = 0; p < 512; ++p)
    reversed += std::to_string(511 - p) + (p < 511 ? "," : "]\n");
  const std::string map = write_map_file("reversed_map.json", reversed);
  const std::vector<std::string> options = {
      "",                               // 0: rows
      "?order=columns&serpentine",      // 1
      "?serpentine&flip=y",             // 2: rows from the bottom left
      "?order=wiring",                  // 3
      "?colors=grb",                    // 4
      "?size=64x32",                    // 5: blocks of 2x2
      "?size=64x64",                    // 6: 64x32 in the middle
      "?size=16x16",                    // 7: halved, in rows 4 to 11
      "?map=" + map,                    // 8
      "?order=columns&flip=x",          // 9: columns from the top right
      "?size=32x8",                     // 10: halved, in columns 8 to 23
  };
  std::vector<std::unique_ptr<udp_receiver>> receivers;
  std::vector<std::string> args;
  for (const std::string &o : options) {
    receivers.push_back(std::make_unique<udp_receiver>());
    args.insert(args.end(), {"--to", "ddp://" + receivers.back()->at() + o});
  }
  bridge_process bridge = start_bridge(args);
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  const show_frame picture = test_picture();
  raw_client client(bridge.port);
  send_picture(client, picture);

  std::vector<bytes> got;
  for (auto &r : receivers) {
    EXPECT_TRUE(poll_until([&] { return !ddp_frames(r->datagrams()).empty(); }, 10s));
    const auto frames = ddp_frames(r->datagrams());
    got.push_back(frames.empty() ? bytes{} : frames[0]);
  }
  // What LED i must show, by output.
  const auto expect = [&](std::size_t output, int leds, auto colour_of_led) {
    ASSERT_EQ(got[output].size(), std::size_t(3 * leds)) << options[output];
    int wrong = 0;
    for (int i = 0; i < leds; ++i) {
      const std::array<u8, 3> want = colour_of_led(i);
      const std::array<u8, 3> have = {got[output][std::size_t(3 * i)], got[output][std::size_t(3 * i + 1)],
                                      got[output][std::size_t(3 * i + 2)]};
      if (want != have && ++wrong <= 3)
        ADD_FAILURE() << options[output] << ": LED " << i << " shows " << int(have[0]) << "," << int(have[1]) << ","
                      << int(have[2]) << ", not " << int(want[0]) << "," << int(want[1]) << "," << int(want[2]);
    }
  };
  expect(0, 512, [&](int i) { return rgb(picture, i % 32, i / 32); });
  expect(1, 512, [&](int i) {
    const int x = i / 16;
    return rgb(picture, x, x % 2 ? 15 - i % 16 : i % 16);
  });
  expect(2, 512, [&](int i) {
    const int row = i / 32; // counted from the bottom
    return rgb(picture, row % 2 ? 31 - i % 32 : i % 32, 15 - row);
  });
  const bytes led_order = in_led_order(picture);
  EXPECT_EQ(got[3], led_order) << "order=wiring passes the wall's own LED order on";
  expect(4, 512, [&](int i) {
    const auto c = rgb(picture, i % 32, i / 32);
    return std::array<u8, 3>{c[1], c[0], c[2]};
  });
  expect(5, 64 * 32, [&](int i) { return rgb(picture, i % 64 / 2, i / 64 / 2); });
  expect(6, 64 * 64, [&](int i) {
    const int y = i / 64;
    return y < 16 || y >= 48 ? std::array<u8, 3>{} : rgb(picture, i % 64 / 2, (y - 16) / 2);
  });
  // A halved picture: each LED the rounded mean of a 2x2 block.
  const auto mean = [&](int x, int y) {
    std::array<u8, 3> m{};
    for (int c = 0; c < 3; ++c) {
      int sum = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          sum += rgb(picture, 2 * x + dx, 2 * y + dy)[std::size_t(c)];
      m[std::size_t(c)] = u8((sum + 2) / 4);
    }
    return m;
  };
  expect(7, 16 * 16, [&](int i) {
    const int y = i / 16;
    return y < 4 || y >= 12 ? std::array<u8, 3>{} : mean(i % 16, y - 4);
  });
  expect(8, 512, [&](int i) { return rgb(picture, (511 - i) % 32, (511 - i) / 32); });
  expect(9, 512, [&](int i) { return rgb(picture, 31 - i / 16, i % 16); });
  expect(10, 32 * 8, [&](int i) {
    const int x = i % 32;
    return x < 8 || x >= 24 ? std::array<u8, 3>{} : mean(x - 8, i / 32);
  });
}

// The header bytes worked out by hand from DDP's published layout, for a
// 32x16 frame (1536 bytes: 1440 and 96) and a 64x32 one (6144 bytes: four of
// 1440 and 384), with sequence numbers running 1 to 15 across packets.
TEST(Bridge, SendsDdpPacketsWithTheHeaderAsPublished) {
  udp_receiver wall, big;
  bridge_process bridge = start_bridge({"--to", "ddp://" + wall.at(), "--to", "ddp://" + big.at() + "?size=64x32"});
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  raw_client client(bridge.port);
  for (int frame = 0; frame < 4; ++frame)
    send_picture(client, test_picture());
  ASSERT_TRUE(wall.wait_for(8, 10s));
  ASSERT_TRUE(big.wait_for(20, 10s));
  const auto small = wall.datagrams();
  EXPECT_EQ(small[0].bytes.size(), 1450u);
  EXPECT_EQ(bytes(small[0].bytes.begin(), small[0].bytes.begin() + 10),
            (bytes{0x40, 0x01, 0x0b, 0x01, 0, 0, 0, 0, 0x05, 0xa0}));
  EXPECT_EQ(small[1].bytes.size(), 106u);
  EXPECT_EQ(bytes(small[1].bytes.begin(), small[1].bytes.begin() + 10),
            (bytes{0x41, 0x02, 0x0b, 0x01, 0, 0, 0x05, 0xa0, 0x00, 0x60}));
  const auto large = big.datagrams();
  const std::size_t sizes[] = {1440, 1440, 1440, 1440, 384};
  for (std::size_t i = 0; i < 20; ++i) {
    const bytes &p = large[i].bytes;
    const std::size_t k = i % 5, offset = 1440 * k;
    EXPECT_EQ(p[0], k == 4 ? 0x41 : 0x40) << "push on the frame's last packet only, packet " << i;
    EXPECT_EQ(p[1], i % 15 + 1) << "sequence numbers 1 to 15, packet " << i;
    EXPECT_EQ(p[4] << 24 | p[5] << 16 | p[6] << 8 | p[7], int(offset)) << "packet " << i;
    EXPECT_EQ(std::size_t(p[8] << 8 | p[9]), sizes[k]);
    EXPECT_EQ(p.size(), 10 + sizes[k]);
  }
}

// E1.31 and Art-Net in universes of 510 channels (170 pixels: four for the
// wall, the last 6 channels) or 512 (three, a pixel straddling two), with the
// headers' fields at their published places.
TEST(Bridge, SendsE131AndArtNetInUniverses) {
  udp_receiver e131, e131_512, artnet;
  bridge_process bridge = start_bridge({"--to", "e131://" + e131.at() + "/7?sync",
                                        "--to", "e131://" + e131_512.at() + "?universe-size=512",
                                        "--to", "artnet://" + artnet.at() + "/16?sync"});
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  raw_client client(bridge.port);
  const show_frame picture = test_picture();
  send_picture(client, picture);
  send_picture(client, picture);
  ASSERT_TRUE(e131.wait_for(10, 10s));
  ASSERT_TRUE(e131_512.wait_for(6, 10s));
  ASSERT_TRUE(artnet.wait_for(10, 10s));
  const bytes rows(picture.begin(), picture.end());

  const auto e = e131.datagrams();
  const int universes[] = {7, 8, 9, 10};
  const bytes cid(e[0].bytes.begin() + 22, e[0].bytes.begin() + 38);
  bytes sent;
  for (std::size_t i = 0; i < 5; ++i) {
    const bytes &p = e[i].bytes;
    EXPECT_EQ(bytes(p.begin(), p.begin() + 16),
              (bytes{0, 0x10, 0, 0, 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0}));
    EXPECT_EQ(bytes(p.begin() + 22, p.begin() + 38), cid) << "one source, one CID";
    if (i == 4) { // the synchronization packet, on the first universe
      EXPECT_EQ(p.size(), 49u);
      EXPECT_EQ(p[21], 0x08);
      EXPECT_EQ(p[43], 0x01);
      EXPECT_EQ(p[45] << 8 | p[46], 7);
      continue;
    }
    ASSERT_TRUE(is_e131_data(p));
    EXPECT_EQ(e131_universe(p), universes[i]);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&p[44])), "ledwall-bridge");
    EXPECT_EQ(p[108], 100) << "priority";
    EXPECT_EQ(p[109] << 8 | p[110], 7) << "synchronized on the first universe";
    EXPECT_EQ(p[112], 0) << "options";
    EXPECT_EQ(p[125], 0) << "start code";
    EXPECT_EQ((p[123] << 8 | p[124]) - 1, int(p.size()) - 126) << "property count: start code and slots";
    EXPECT_EQ(p.size(), i < 3 ? 636u : 132u);
    const bytes slots = e131_slots(p);
    sent.insert(sent.end(), slots.begin(), slots.end());
    EXPECT_EQ(e[i + 5].bytes[111], u8(p[111] + 1)) << "the next frame's sequence number in universe " << universes[i];
  }
  EXPECT_EQ(sent, rows);

  const auto e512 = e131_512.datagrams();
  EXPECT_EQ(e131_frames(e512, 3).at(0), rows);
  EXPECT_EQ(e512[1].bytes.size(), 126u + 512);

  const auto a = artnet.datagrams();
  sent.clear();
  for (std::size_t i = 0; i < 5; ++i) {
    const bytes &p = a[i].bytes;
    EXPECT_EQ(bytes(p.begin(), p.begin() + 8), (bytes{'A', 'r', 't', '-', 'N', 'e', 't', 0}));
    if (i == 4) {
      EXPECT_EQ(p.size(), 14u);
      EXPECT_EQ(p[8] | p[9] << 8, 0x5200) << "ArtSync after the frame";
      continue;
    }
    EXPECT_EQ(p[8] | p[9] << 8, 0x5000) << "ArtDmx";
    EXPECT_EQ(p[10] << 8 | p[11], 14) << "protocol version";
    EXPECT_EQ(p[14] | p[15] << 8, 16 + int(i)) << "port-address";
    const int length = p[16] << 8 | p[17];
    EXPECT_EQ(length % 2, 0);
    EXPECT_EQ(length, i < 3 ? 510 : 6);
    EXPECT_NE(p[12], 0) << "sequence numbers are on";
    EXPECT_EQ(a[i + 5].bytes[12], u8(p[12] % 255 + 1));
    sent.insert(sent.end(), p.begin() + 18, p.end());
  }
  EXPECT_EQ(sent, rows);
}

// Brightness and gamma: every channel through 255 * (v / 255)^gamma * brightness.
TEST(Bridge, ScalesBrightnessAndGammaForEveryOutput) {
  udp_receiver ddp, e131;
  bridge_process bridge =
      start_bridge({"--brightness", "40", "--gamma", "2.2", "--to", "ddp://" + ddp.at() + " e131://" + e131.at()});
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  raw_client client(bridge.port);
  const show_frame picture = test_picture();
  send_picture(client, picture);
  ASSERT_TRUE(poll_until([&] { return !ddp_frames(ddp.datagrams()).empty(); }, 10s));
  ASSERT_TRUE(poll_until([&] { return !e131_frames(e131.datagrams(), 4).empty(); }, 10s));
  const bytes got = ddp_frames(ddp.datagrams())[0];
  ASSERT_EQ(got.size(), picture.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(got[i], u8(std::lround(255 * std::pow(picture[i] / 255.0, 2.2) * 0.4))) << "channel " << i;
  EXPECT_EQ(e131_frames(e131.datagrams(), 4)[0], got) << "the same levels on every output";
}

// While the client is there and silent, the last frame again each second;
// once it has gone, black for the idle hold, then the streams end (three
// packets with the stream-terminated option) and nothing more comes.
TEST(Bridge, KeepsTheWallAliveHoldsItBlackThenLetsGo) {
  udp_receiver e131;
  bridge_process bridge = start_bridge({"--idle-hold", "2", "--to", "e131://" + e131.at()});
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  const show_frame picture = test_picture();
  const bytes rows(picture.begin(), picture.end());
  {
    raw_client client(bridge.port);
    send_picture(client, picture);
    ASSERT_TRUE(e131.wait_for(4, 10s));
    // Once a second: two repeats come in about 2 s (a busy machine may take longer).
    EXPECT_TRUE(poll_until([&] { return e131_frames(e131.datagrams(), 4).size() >= 3; }, 6s));
    const auto frames = e131_frames(e131.datagrams(), 4);
    ASSERT_GE(frames.size(), 3u) << "the frame and two repeats";
    const auto d = e131.datagrams();
    EXPECT_GT(std::chrono::duration<double>(d[8].when - d[0].when).count(), 1.5) << "not sooner than once a second";
    for (const bytes &f : frames)
      EXPECT_EQ(f, rows);
  }
  ASSERT_TRUE(poll_until(
      [&] {
        const auto d = e131.datagrams();
        return std::count_if(d.begin(), d.end(), [](const received_datagram &g) { return g.bytes[112] & 0x40; }) >= 12;
      },
      10s))
      << "three stream-terminated packets for each of the four universes";
  std::this_thread::sleep_for(1500ms);
  const auto all = e131.datagrams();
  EXPECT_TRUE(all.back().bytes[112] & 0x40) << "nothing after the streams ended";
  // The stream as a receiver sees it: the picture while the client was
  // there, then only black, then the end of the streams.
  const bytes black(1536, 0);
  std::vector<received_datagram> held;
  std::chrono::steady_clock::time_point first_black{}, ended{};
  bytes building;
  for (const received_datagram &d : all) {
    if (d.bytes[112] & 0x40) {
      if (ended == std::chrono::steady_clock::time_point{})
        ended = d.when;
      continue;
    }
    ASSERT_EQ(ended, std::chrono::steady_clock::time_point{}) << "a frame after the streams ended";
    const bytes slots = e131_slots(d.bytes);
    building.insert(building.end(), slots.begin(), slots.end());
    if (e131_universe(d.bytes) != 4)
      continue;
    if (building == black) {
      if (held.empty())
        first_black = d.when;
      held.push_back(d);
    } else {
      EXPECT_EQ(building, rows);
      EXPECT_TRUE(held.empty()) << "the picture again after black";
    }
    building.clear();
  }
  ASSERT_GE(held.size(), 2u) << "black at once, and again during the 2 s hold";
  const auto hold = std::chrono::duration<double>(ended - first_black).count();
  EXPECT_GT(hold, 1.5) << "held black for the idle hold";
  EXPECT_LT(hold, 4.0) << "then let go";
}

// The CID is kept across restarts; SIGTERM ends the bridge with 0 and its
// E1.31 streams first.
TEST(Bridge, KeepsItsSourceIdAcrossRestartsAndEndsCleanlyOnSignals) {
  const std::string state = testing::TempDir() + "bridge_state_" + std::to_string(getpid());
  std::vector<bytes> cids;
  for (const int sig : {SIGTERM, SIGINT}) {
    udp_receiver e131;
    bridge_process bridge = start_bridge({"--to", "e131://" + e131.at()}, {"XDG_STATE_HOME=" + state, "STATE_DIRECTORY"});
    ASSERT_GT(bridge.port, 0) << bridge.process->output();
    raw_client client(bridge.port);
    send_picture(client, test_picture());
    ASSERT_TRUE(e131.wait_for(4, 10s));
    bridge.process->signal(sig);
    EXPECT_EQ(bridge.process->wait(10s), 0) << bridge.process->output();
    const auto d = e131.datagrams();
    EXPECT_TRUE(d.back().bytes[112] & 0x40) << "the streams ended on the signal";
    cids.emplace_back(d[0].bytes.begin() + 22, d[0].bytes.begin() + 38);
  }
  EXPECT_EQ(cids[0], cids[1]) << "one CID across restarts";
  std::ifstream kept(state + "/ledwall-bridge/cid");
  std::string text;
  EXPECT_TRUE(std::getline(kept, text));
  EXPECT_EQ(text.size(), 36u);
  std::filesystem::remove_all(state);
}

// Ten outputs that fail (refused UDP and OPC ports) or stall (an OPC server
// that never reads) cost the client and the working output nothing: every
// frame comes through, in order; each failure is reported once, not per frame.
TEST(Bridge, FailingOutputsCostTheShowNothing) {
  // A port that refuses: bound, then closed again.
  const auto closed_port = [](int type) {
    int port = 0;
    close(loopback_socket(type, 0, &port));
    return std::to_string(port);
  };
  // An OPC server that accepts and never reads: its buffers fill, then it stalls the sender.
  loopback_opc_server stalled;
  stalled.set_reading(false);
  udp_receiver good;
  const std::vector<std::string> failing = {
      "ddp://127.0.0.1:" + closed_port(SOCK_DGRAM),         "ddp://127.0.0.1:" + closed_port(SOCK_DGRAM),
      "e131://127.0.0.1:" + closed_port(SOCK_DGRAM),        "e131://127.0.0.1:" + closed_port(SOCK_DGRAM) + "?sync",
      "artnet://127.0.0.1:" + closed_port(SOCK_DGRAM),      "artnet://127.0.0.1:" + closed_port(SOCK_DGRAM) + "/3",
      "opc://127.0.0.1:" + closed_port(SOCK_STREAM),        "opc://127.0.0.1:" + closed_port(SOCK_STREAM),
  };
  const std::vector<std::string> stalling = {"opc://" + stalled.hostport(), "opc://" + stalled.hostport() + "?size=64x64"};
  std::vector<std::string> args;
  for (const std::vector<std::string> *urls : {&failing, &stalling})
    for (const std::string &url : *urls)
      args.insert(args.end(), {"--to", url});
  args.insert(args.end(), {"--to", "ddp://" + good.at()});
  bridge_process bridge = start_bridge(args);
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  raw_client client(bridge.port);
  constexpr int FRAMES = 200;
  for (int k = 0; k < FRAMES; ++k) {
    show_frame picture = test_picture();
    picture[0] = u8(k); // the frame's number, in its first channel
    send_picture(client, picture);
    std::this_thread::sleep_for(2ms); // a show faster than the wall's 25 per second
  }
  ASSERT_TRUE(poll_until([&] { return ddp_frames(good.datagrams()).size() >= FRAMES; }, 20s))
      << ddp_frames(good.datagrams()).size() << " frames came through";
  const auto frames = ddp_frames(good.datagrams());
  for (int k = 0; k < FRAMES; ++k)
    ASSERT_EQ(frames[std::size_t(k)][0], u8(k)) << "frame " << k << " in its place";
  bridge.process->signal(SIGTERM);
  EXPECT_EQ(bridge.process->wait(20s), 0);
  const std::string log = bridge.process->output();
  for (const std::string &url : failing) {
    std::size_t reports = 0;
    for (std::size_t at = log.find(url + ": "); at != std::string::npos; at = log.find(url + ": ", at + 1))
      ++reports;
    EXPECT_GE(reports, 1u) << url << " failed unreported:\n" << log;
    EXPECT_LE(reports, 4u) << url << " reported per frame:\n" << log;
  }
}

// A bad URL or option: one line naming it, exit 2, nothing sent (not even to
// the good output named before it).
TEST(Bridge, RefusesBadUrlsAndOptionsBeforeSendingAnything) {
  udp_receiver good;
  const std::string ok = "ddp://" + good.at();
  const std::string bad_map = write_map_file("short_map.json", "[0, 1, 2]");
  const std::string word_map = write_map_file("word_map.json", "[0, one]");
  std::string twice = "[0";
  for (int p = 0; p < 511; ++p)
    twice += "," + std::to_string(p);
  const std::string twice_map = write_map_file("twice_map.json", twice + "]");
  struct case_ {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<case_> cases = {
      {{"--to", "udp://127.0.0.1"}, "not an output"},
      {{"--to", "ddp://"}, "no host"},
      {{"--to", "ddp://127.0.0.1:70000"}, "bad port"},
      {{"--to", "ddp://127.0.0.1/3"}, "takes no universe"},
      {{"--to", "e131://127.0.0.1/0"}, "bad universe"},
      {{"--to", "e131://127.0.0.1/64000"}, "bad universe"},
      {{"--to", "artnet://127.0.0.1/32768"}, "bad universe"},
      {{"--to", "e131://127.0.0.1/63998"}, "go past 63999"},
      {{"--to", "ddp://127.0.0.1?order=diagonal"}, "rows, columns or wiring"},
      {{"--to", "ddp://127.0.0.1?flip=z"}, "x, y or xy"},
      {{"--to", "ddp://127.0.0.1?size=0x16"}, "WIDTHxHEIGHT"},
      {{"--to", "ddp://127.0.0.1?size=512x512"}, "more than 16384"},
      {{"--to", "ddp://127.0.0.1?colors=rrb"}, "rgb, rbg"},
      {{"--to", "ddp://127.0.0.1?universe-size=510"}, "e131:// and artnet:// only"},
      {{"--to", "e131://127.0.0.1?universe-size=500"}, "510 or 512"},
      {{"--to", "ddp://127.0.0.1?map=" + bad_map}, "3 entries"},
      {{"--to", "ddp://127.0.0.1?map=/nonexistent/map.json"}, "cannot read"},
      {{"--to", "ddp://127.0.0.1?map=" + word_map}, "not a whole number"},
      {{"--to", "ddp://127.0.0.1?map=" + twice_map}, "LED 0 appears twice"},
      {{"--to", "ddp://127.0.0.1?order=wiring&size=16x16"}, "order=wiring"},
      {{"--to", "ddp://127.0.0.1?serpentine=yes"}, "takes no value"},
      {{"--to", "ddp://127.0.0.1?speed=2"}, "unknown option 'speed'"},
      {{"--to", "e131://127.0.0.1?interface=127.0.0.1"}, "multicast only"},
      {{"--to", "e131://multicast?interface=lo"}, "IPv4 address"},
      {{"--to", "ddp://[::1"}, "closing ']'"},
      {{"--to", "  "}, "no URL"},
      {{"--brightness", "120"}, "0 to 100"},
      {{"--gamma", "0"}, "0.1 to 5"},
      {{"--idle-hold", "-1"}, "seconds"},
      {{}, "no output"},
  };
  for (const case_ &c : cases) {
    std::vector<std::string> argv = {BRIDGE, "--listen", "127.0.0.1:0"};
    if (!c.args.empty() && c.args[0] == "--to")
      argv.insert(argv.end(), {"--to", ok});
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    child_process bridge(emulated(argv));
    EXPECT_EQ(bridge.wait(20s), 2) << c.says;
    const std::string out = bridge.output();
    EXPECT_NE(out.find(c.says), std::string::npos) << "expected \"" << c.says << "\" in: " << out;
    EXPECT_EQ(out.find("listening"), std::string::npos) << out;
  }
  EXPECT_EQ(good.count(), 0u) << "nothing sent";
}

// A second wall over OPC, on its own connection, that may go away and come back.
TEST(Bridge, ForwardsOpcToAServerThatComesBack) {
  auto server = std::make_unique<loopback_opc_server>();
  const std::string at = server->hostport();
  const u16 port = u16(std::stoi(at.substr(at.find(':') + 1)));
  bridge_process bridge = start_bridge({"--to", "opc://" + at + "?order=wiring"});
  ASSERT_GT(bridge.port, 0) << bridge.process->output();
  raw_client client(bridge.port);
  const show_frame picture = test_picture();
  send_picture(client, picture);
  ASSERT_TRUE(server->wait_for_messages(1, 10s));
  EXPECT_EQ(server->messages()[0].data, in_led_order(picture));
  server.reset(); // the second wall goes away ...
  for (int k = 0; k < 5; ++k) {
    send_picture(client, picture);
    std::this_thread::sleep_for(50ms);
  }
  server = std::make_unique<loopback_opc_server>(port); // ... and comes back
  ASSERT_TRUE(poll_until(
      [&] {
        send_picture(client, picture);
        return server->message_count() > 0;
      },
      15s, 100ms))
      << bridge.process->output();
  EXPECT_EQ(server->messages()[0].data, in_led_order(picture));
  const std::string log = bridge.process->output();
  EXPECT_NE(log.find("opc://" + at + "?order=wiring: "), std::string::npos) << log;
  EXPECT_NE(log.find("sending again"), std::string::npos) << log;
}

} // namespace
