// The simulator's live views (the terminal view, the browser view) and the
// status of the stream they show, kept off the thread that reads OPC.
//
// The OPC thread counts each frame into the status and hands over the newest
// frame, each under a short lock; that is all it does for the views. A
// thread of this module takes the newest frame and a copy of the status at
// most LIVE_VIEWS_MAX_RATE times a second, makes the status line (the scene
// estimate is the costly part) and hands both to each view, which draws on
// threads of its own: the browser view gets an update only when the frame or
// the status line changed.
#pragma once

#include "tool_address.h"
#include "wall_frame.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int LIVE_VIEWS_MAX_RATE = 100;

struct live_views_s;
using live_views_t = live_views_s *;

// `address` is what the status line says the simulator listens on. A view in
// this terminal (standard output) with `terminal`, in browsers at `http` when
// it is not null, reached also by the host names `http_names` (besides its
// own: http_view.h). Null, with a message on stderr, when a view cannot start
// (or this build has no browser view).
live_views_t live_views_init(const std::string &address, bool terminal, const tool_address *http,
                             const std::vector<std::string> &http_names = {});

// For the OPC thread: a frame came.
void live_views_frame(live_views_t live, const wall_frame &frame);

// For the OPC thread, between frames: the clock moved on to `now_ns`;
// `connected` tells whether a client is there, `resized` that the terminal
// changed its size.
void live_views_tick(live_views_t live, std::int64_t now_ns, bool connected, bool resized);

// Stops the thread and the views (the terminal gets its screen back). Accepts null.
void live_views_done(live_views_t live);
