// A live view of the wall in web browsers: one page, compiled into the
// simulator, that draws the wall as the GIF does (round LEDs on the dark
// board, the gaps between the panels, the same colours) with the status line
// under it, updated through server-sent events as frames arrive.
//
// Any number of browsers may watch (up to HTTP_VIEW_WATCHERS at once; more
// wait for a free place). Each is sent the newest frame whenever it is ready
// for one, so a slow browser misses frames and never holds up the OPC side:
// handing a frame over copies it under a lock, and all sending happens on
// the view's own threads. A browser that takes nothing for
// HTTP_VIEW_WRITE_TIMEOUT_S seconds is dropped.
//
// Anyone who can reach the address can watch; it is 127.0.0.1 unless the
// caller says otherwise.
#pragma once

#include "tool_address.h"
#include "wall_frame.h"

#include <string>

inline constexpr int HTTP_VIEW_WATCHERS = 64;
inline constexpr int HTTP_VIEW_WRITE_TIMEOUT_S = 5;
inline constexpr int HTTP_VIEW_SCALE = 16; // pixels per LED of the board geometry the page scales from

struct http_view_s;
using http_view_t = http_view_s *;

// Listens on the address (port 0: any free one) and serves on threads of its
// own. Null, with a message on stderr, when the address cannot be had.
http_view_t http_view_init(const tool_address &address);

// The host and the port it listens on.
const std::string &http_view_host(http_view_t view);
int http_view_port(http_view_t view);

// A new picture of the wall, and the status line that goes with it.
void http_view_frame(http_view_t view, const wall_frame &frame, const std::string &status);

// The status line between frames: watchers are sent it only when it changed.
void http_view_status(http_view_t view, const std::string &status);

// Stops serving (every watcher is let go) and frees the view. Accepts null.
void http_view_done(http_view_t view);
