// What the simulator can tell about the stream it receives, for a view to
// show: where it listens, whether a client is there, how many frames came and
// how fast, the largest gap, and where the show is, as far as the receive
// times tell (the scene is an estimate from the show's timeline).
//
// The record is updated on every frame and on a clock tick, so that facts
// that depend on the time (the rate, a silence) move on when nothing arrives.
// An update costs the same however long the stream; the scene is worked out
// only when a line is made.
// It owns everything in it; the caller owns the record from wall_status_init
// to wall_status_done. All times are monotonic nanoseconds.
#pragma once

#include "wall_frame.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The receive times kept for the scene estimate: a whole show several times
// over. Past them the show's time still counts, the scene is no longer told.
inline constexpr std::size_t WALL_STATUS_SHOW_FRAMES = 1 << 15;

// Its size is bounded whatever the stream: the rate is counted by the
// millisecond over the last second, and at most WALL_STATUS_SHOW_FRAMES
// receive times are kept. Copying a record is how another thread takes it.
struct wall_status_s {
  std::string address;                  // HOST:PORT the simulator listens on
  bool connected = false;               // a client is connected now
  long frames = 0;                      // frames received, all connections
  std::int64_t now_ns = 0;              // time of the last update
  std::int64_t last_frame_ns = 0;       // when the last frame came
  double largest_gap_ms = 0;            // between consecutive frames, whatever their connection
  int connection = -1;                  // the connection of the last frame
  std::int64_t show_first_ns = 0;       // that connection's first frame
  std::vector<std::int64_t> show_ns;    // its first receive times, up to WALL_STATUS_SHOW_FRAMES
  std::array<int, 1000> per_ms{};       // frames in each millisecond of the last second, by ms % 1000
  std::int64_t counted_ms = -1;         // the millisecond per_ms reaches to
};
using wall_status_t = wall_status_s *;

wall_status_t wall_status_init(const std::string &address);
void wall_status_done(wall_status_t status); // accepts null

// A frame came: counts it, and takes its time as now.
void wall_status_frame(wall_status_t status, const wall_frame &frame);

// The clock moved on to `now_ns`; `connected` tells whether a client is there.
void wall_status_tick(wall_status_t status, std::int64_t now_ns, bool connected);

// Frames received in the second up to now (counted by the millisecond).
int wall_status_rate(const wall_status_s &status);

// Whole seconds since the last frame; 0 before the first one.
long wall_status_silent_s(const wall_status_s &status);

// The facts as one line, fields parted by two spaces, the most telling first
// (a narrow view can cut the line at a field's end):
//   "connected on 127.0.0.1:7890  frames 1234  25 fps  show 1:02 ~ panorama  largest gap 81.2 ms"
// After a second without frames the rate reads "0 fps  no frames for N s".
// Until the first frame it is "waiting for a client on HOST:PORT" alone.
void wall_status_line(const wall_status_s &status, std::string *line);
