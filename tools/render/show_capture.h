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

enum class capture_outcome {
  done,        // every frame of the range was handed on
  empty_range, // the range's end does not come after its start
  failed,      // the capture itself failed
  stopped,     // a handler asked it to stop
};

struct capture_handlers {
  // The next frame of the range; false stops the capture there.
  bool (*frame)(void *context, const capture_frame &frame);
  // Asked at every step of the show (each of its sleeps and scenes): true
  // stops the capture there.
  bool (*stop)(void *context);
  // Once, after everything else: how the capture ended, what is wrong for an
  // empty range or a failure (else ""), and the playback start as known by
  // then (-1 before it).
  void (*end)(void *context, capture_outcome outcome, const std::string &why, std::int64_t playback_start_ns);
  void *context;
};

// Plays the show (once per process) and hands on the range. A range is
// checked as soon as both its ends are known: a scene's start is known when
// the show gets there, and a scene that has not started by the time the
// range ends starts after it.
//
// The show's scenes cannot be left half-way: when the capture ends before
// the show does (the range is done or empty, a handler stopped it), the
// calling thread calls `end` and then stays in here, idle, until the process
// ends. So run it on a thread of its own, and end the process once `end` has
// been called. It returns only when the show has played to its end.
void show_capture_run(const capture_range &range, const capture_handlers &handlers);
