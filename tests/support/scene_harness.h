// Running scenes in virtual time: the virtual clock and the virtual player
// stand in for the real ones, the embedded soundtrack is opened as the show
// opens it, and every frame goes through the real OPC client to a loopback
// server that records it.
#pragma once

#include "alsaplay.h"
#include "loopback_opc_server.h"
#include "opc.h"

#include <tremor/ivorbisfile.h>

#include <gd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

struct scene_harness {
  loopback_opc_server server;
  opc_sink sink;
  OggVorbis_File vf{};
  alsaplay_t alsa;

  scene_harness();
  ~scene_harness();

  // A fresh player on the soundtrack, not started (for long benchmark runs,
  // whose position would otherwise come to rest at the end).
  void restart_player();
  // Starts playback (as the title does) and lets `ms` of virtual time pass.
  void play_until(std::int64_t ms);
  // Virtual milliseconds since playback started.
  double played_ms() const;

  // Every frame received so far (waits until `expected` have arrived, then a
  // moment more to be sure no further frame is on its way).
  std::vector<wall_pixels> frames(size_t expected);
};

// The wall picture of a 32x16 image, as opc_put_gd_image_32x16z would show it.
wall_pixels pixels_of(gdImagePtr im);

inline constexpr std::array<int, 3> BLACK{0, 0, 0};
bool all_black(const wall_pixels &f);
