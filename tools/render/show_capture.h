// The show played in virtual time exactly as the demo plays it (its driver,
// its scenes, the virtual clock and the virtual player standing in for the
// real ones), with the wall watched as the LED server sees it: every frame
// goes through the real OPC client and matrix output to the simulator's OPC
// server in this process, and is put back into image order with the demo's
// wiring table.
//
// For a range of the show it hands on, for every 40 ms from the range's
// start, the wall as it stood at that moment: the last frame it had
// received by then (dark before the first). A frame the show sends late, or
// not at all for a while, leaves the previous picture standing, as on the
// LEDs.
#pragma once

#include "render_time.h"
#include "wall_frame.h"

#include <cstdint>
#include <string>

inline constexpr std::int64_t CAPTURE_FRAME_MS = 40; // 25 frames per second

struct capture_frame {
  long number;                    // from the range's start
  std::int64_t show_ms;           // its moment in show time
  const wall_frame *wall;         // the wall then, valid during the call
  std::int64_t playback_start_ns; // show time at which the sound started; -1 until it has
};

struct capture_range {
  render_time from;
  bool to_end; // to the end of the show, else to `to` (not included)
  render_time to;
};

struct capture_handlers {
  void (*frame)(void *context, const capture_frame &frame);
  // Once: the range is done (`failure` empty) or cannot be rendered, with
  // what is wrong; with the playback start as known by then. Returns the
  // exit status. The show's scenes cannot be left half-way, so a range that
  // ends before the show does ends the process then, with that status.
  int (*end)(void *context, const std::string &failure, std::int64_t playback_start_ns);
  void *context;
};

// Plays the show (once per process) and returns the `end` handler's status.
int show_capture_run(const capture_range &range, const capture_handlers &handlers);
