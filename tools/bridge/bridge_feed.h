// The frames the bridge received, handed from the thread that reads OPC to
// the outputs' threads, and whether a client is there.
//
// The OPC thread puts every frame in a ring of the last BRIDGE_FEED_FRAMES,
// under a short lock, and goes back to reading. Each output takes the frames
// in order at its own pace; one that falls further behind than the ring
// holds skips to the newest, so a slow output loses frames, never memory.
//
// Outputs whose sends never wait (UDP) may join the feed as readers that
// must not miss frames: when one of them is a whole ring behind, the OPC
// thread waits for it, at most BRIDGE_FEED_WAIT_MS per frame. Such an output
// falls behind only when the machine is busy (a show in virtual time sends
// thousands of frames a second); at the show's 25 frames a second it never
// does. Outputs that may stall on their peer (OPC over TCP) never join.
#pragma once

#include "wall_frame.h"

#include <cstdint>

inline constexpr int BRIDGE_FEED_FRAMES = 64;
inline constexpr int BRIDGE_FEED_WAIT_MS = 100;

struct bridge_feed_s;
using bridge_feed_t = bridge_feed_s *;

bridge_feed_t bridge_feed_init();
void bridge_feed_done(bridge_feed_t feed); // accepts null; after every reader has stopped

// For the OPC thread: a frame came.
void bridge_feed_put(bridge_feed_t feed, const wall_frame &frame);
// For the OPC thread, between frames: whether a client is connected now.
void bridge_feed_client(bridge_feed_t feed, bool connected, std::int64_t now_ns);
// Wakes every reader for good: the bridge is stopping.
void bridge_feed_stop(bridge_feed_t feed);

// What a reader knows: the last frame it took and the last connection state
// it saw. Start with the record as it is made.
struct bridge_feed_reader {
  long taken = 0;                   // number of the last frame taken (frames count from 1)
  long skipped = 0;                 // frames it fell too far behind to take
  long changes_seen = 0;            // connection changes it has seen
  bool connected = false;           // the state it saw last
  std::int64_t changed_ns = 0;      // when that state began (monotonic)
};

// A reader that the OPC thread waits for (see above), from its first wait
// until it leaves.
void bridge_feed_join(bridge_feed_t feed, bridge_feed_reader *reader);
void bridge_feed_leave(bridge_feed_t feed, bridge_feed_reader *reader);

enum class bridge_feed_event { frame, client, timeout, stop };

// Waits until there is a frame the reader has not taken (copied into
// *frame), the connection changed, the stop, or `deadline_ns` (monotonic;
// INT64_MAX: none), whichever comes first. Frames come before a change of
// connection, so that a client's last frames go out before its leaving.
bridge_feed_event bridge_feed_wait(bridge_feed_t feed, bridge_feed_reader *reader, std::int64_t deadline_ns,
                                   wall_frame *frame);
