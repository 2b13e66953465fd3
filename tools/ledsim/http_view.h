// A live view of the wall in web browsers: one page, compiled into the
// simulator, that draws the wall as the GIF does (round LEDs on the dark
// board, the gaps between the panels, the same colours) with the status line
// under it, updated through server-sent events as frames arrive.
//
// Up to HTTP_VIEW_CONNECTIONS connections are served at once, each on a
// thread of the view's own; a connection beyond them is answered 503 (a
// page that asks again after two seconds) and closed at once, so that those
// already watching keep the view. Each
// watcher is sent the newest frame whenever it is ready for one, so a slow
// browser misses frames and never holds up the OPC side: handing a frame
// over copies it under a lock, and all sending happens on the view's own
// threads. A browser that takes nothing for HTTP_VIEW_WRITE_TIMEOUT_S
// seconds is dropped, and so is a connection that sends no request for
// HTTP_VIEW_IDLE_TIMEOUT_S seconds or pauses in one for
// HTTP_VIEW_READ_TIMEOUT_S seconds. A connection that has sent more than
// HTTP_VIEW_RECEIVE_MAX_BYTES in all is cut (looked at every 50 ms, so it
// may send a few megabytes more first): cpp-httplib takes a request line or a header
// line however long it is into memory, and a line that never ends would grow
// it without limit. A browser's requests come nowhere near that (at most
// HTTP_VIEW_KEEP_ALIVE_REQUESTS of a few hundred bytes each on one connection).
//
// Only GET and HEAD are served: any other request is answered 405 and its
// connection closed before a byte of its body is read. Against DNS
// rebinding, a request must name the view's own host (Host header):
// 127.0.0.1, localhost, ::1, the address it listens on (every address of
// this machine when that is 0.0.0.0 or ::) or one of the names the caller
// gives, each with or without the port; other names are answered 421 and
// closed. A request without a Host header (HTTP/1.0) is served: only a
// browser can be steered by rebinding, and browsers always send one.
//
// Anyone who can reach the address can watch; it is 127.0.0.1 unless the
// caller says otherwise.
#pragma once

#include "tool_address.h"
#include "wall_frame.h"

#include <string>
#include <vector>

inline constexpr int HTTP_VIEW_CONNECTIONS = 64;
inline constexpr int HTTP_VIEW_WRITE_TIMEOUT_S = 5;
inline constexpr int HTTP_VIEW_READ_TIMEOUT_S = 3;
inline constexpr int HTTP_VIEW_IDLE_TIMEOUT_S = 2;
inline constexpr int HTTP_VIEW_BODY_MAX_BYTES = 4096;
inline constexpr int HTTP_VIEW_KEEP_ALIVE_REQUESTS = 16; // on one connection
inline constexpr int HTTP_VIEW_RECEIVE_MAX_BYTES = 65536; // per connection, in all
inline constexpr int HTTP_VIEW_SCALE = 16; // pixels per LED of the board geometry the page scales from

struct http_view_s;
using http_view_t = http_view_s *;

// Listens on the address (port 0: any free one) and serves on threads of its
// own; `names` are further host names the page may be reached by (lower
// case, no port). Null, with a message on stderr, when the address cannot be
// had.
http_view_t http_view_init(const tool_address &address, const std::vector<std::string> &names = {});

// The host and the port it listens on.
const std::string &http_view_host(http_view_t view);
int http_view_port(http_view_t view);

// A new picture of the wall, and the status line that goes with it.
void http_view_frame(http_view_t view, const wall_frame &frame, const std::string &status);

// The status line between frames: watchers are sent it only when it changed.
void http_view_status(http_view_t view, const std::string &status);

// Stops serving (every watcher is let go) and frees the view. Accepts null.
void http_view_done(http_view_t view);
