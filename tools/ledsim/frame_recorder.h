// The simulator's recordings of the stream (frame log, animated GIF, contact
// sheet), made on a thread of their own so that a slow disk or a slow
// encoder never runs on the thread that reads OPC.
//
// Every frame is recorded: frame_recorder_add copies it into a queue of
// FRAME_RECORDER_QUEUE frames, allocated once (1.6 MB for the 32x16 wall).
// Only when the recordings fall that far behind (some 40 s of a show at 25
// frames a second) does adding wait for room, which reaches a client as TCP
// back pressure rather than as lost frames.
#pragma once

#include "wall_frame.h"

#include <cstddef>

inline constexpr std::size_t FRAME_RECORDER_QUEUE = 1024;

struct frame_recorder_paths {
  const char *log = nullptr; // null: not asked for
  const char *gif = nullptr;
  const char *sheet = nullptr;
  int gif_scale = 8;
  int sheet_scale = 4;
  int sheet_columns = 10;
};

struct frame_recorder_s;
using frame_recorder_t = frame_recorder_s *;

// Opens the recordings asked for and starts the thread (none without any).
// Null, with a message on stderr, when one cannot be opened; those opened
// before it are closed again.
frame_recorder_t frame_recorder_init(const frame_recorder_paths &paths);

// Queues a frame for every recording.
void frame_recorder_add(frame_recorder_t recorder, const wall_frame &frame);

// Records what is queued, finishes and closes every recording, stops the
// thread, frees the record. 1 when everything reached its file. Accepts null
// (and returns 1).
int frame_recorder_done(frame_recorder_t recorder);
