// One output of the bridge: a thread that takes the frames from the feed,
// lays each out for its controller and sends it there (DDP, E1.31 or Art-Net
// over UDP, OPC over TCP).
//
// Timing: a frame goes out as soon as the output takes it. While a client is
// connected and silent, the last frame goes out again every
// BRIDGE_KEEP_ALIVE_NS (controllers let go of a silent source after about
// 2.5 s). When the client goes away the output sends black, again every
// BRIDGE_KEEP_ALIVE_NS, for the idle hold, then nothing, and ends its E1.31
// streams (three packets with the stream-terminated option) so that the
// controller goes back to its own program at once. It ends them at the stop
// too.
//
// Faults cost the other outputs and the OPC side nothing: UDP sends never
// wait (a full socket buffer counts as an error), an OPC connection is made
// and written on this output's thread only. A failure is written to stderr
// once when it starts and once when sending works again, never per frame;
// after one the host's name is resolved again (at most once a second), for
// controllers whose address changes.
#pragma once

#include "bridge_feed.h"
#include "bridge_url.h"
#include "led_packets.h"
#include "pixel_layout.h"

#include <cstdint>
#include <string>

inline constexpr std::int64_t BRIDGE_KEEP_ALIVE_NS = 1'000'000'000;

struct bridge_settings {
  pixel_levels levels{};           // brightness and gamma
  std::int64_t idle_hold_ns = 15'000'000'000;
  e131_cid cid{};
  std::string source_name = "ledwall-bridge";
};

// What an output has done, for a view: a copy taken under the output's lock.
struct bridge_output_status {
  std::string url;
  long frames = 0;        // frames sent (new ones, repeats and black ones alike)
  long packets = 0;       // packets (UDP) or messages (OPC) sent
  long errors = 0;        // sends and connections that failed
  long skipped = 0;       // frames it was too far behind to send
  std::string last_error; // empty until one
  bool failing = false;   // the last attempt failed
  // Latency of the last frame: from its OPC message to its last packet sent.
  std::int64_t last_latency_ns = 0;
};

struct bridge_output_s;
using bridge_output_t = bridge_output_s *;

// Starts the output's thread on `feed` (which must outlive it).
bridge_output_t bridge_output_init(const bridge_output_config &config, const bridge_settings &settings,
                                   bridge_feed_t feed);

bridge_output_status bridge_output_get_status(bridge_output_t output);

// Waits for the thread to end (the feed must be stopped first; the thread
// ends its E1.31 streams as it goes) and frees the output, leaving its last
// status in *last when given. Accepts null.
void bridge_output_done(bridge_output_t output, bridge_output_status *last = nullptr);
