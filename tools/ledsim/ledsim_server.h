// The simulator's OPC server: listens on TCP, serves one client at a time and
// turns every set-pixel-colours message on channel 0 (or the broadcast
// channel 255) into a picture of the wall.
//
// The wall keeps its state between messages: a message of fewer than 512
// pixels updates only those LEDs, pixels beyond 512 are ignored, other
// commands and channels are skipped by their length. A partial message left
// by a client that goes away is dropped. Whatever a client sends, memory stays
// bounded and the next client is served. A client that has sent nothing for a
// second gives way to a newer one, so a silent connection cannot lock the wall.
// An empty set-pixel-colours message is no frame: it changes and counts
// nothing. When a connection cannot be accepted for want of descriptors or
// memory, the server says so once, tries again every 100 ms (serving the
// client it has meanwhile) and says so again once it can.
//
// For rehearsing failures the server can stop reading for a while, close each
// connection after some frames, or refuse connections for a while at start.
#pragma once

#include "tool_address.h"
#include "wall_frame.h"

struct ledsim_faults {
  int pause_after_frames = 0; // after this many frames in all, stop reading ...
  int pause_ms = 0;           // ... for this long (0: never)
  int close_after_frames = 0; // close each connection after this many frames (0: never)
  int refuse_ms = 0;          // refuse connections for this long after start
};

struct ledsim_server_s;
using ledsim_server_t = ledsim_server_s *;
using ledsim_frame_callback = void (*)(void *user, const wall_frame &frame);
using ledsim_tick_callback = void (*)(void *user);

// Binds the address (port 0 picks a free one). Null, with a message on
// stderr, when the address cannot be had.
ledsim_server_t ledsim_server_init(const tool_address &address, const ledsim_faults &faults);
// The same for "HOST:PORT" as the tools' address options take it (tool_address.h).
ledsim_server_t ledsim_server_init(const char *hostport, const ledsim_faults &faults);

// The port actually bound.
int ledsim_server_port(ledsim_server_t server);

// Serves until `stop_fd` becomes readable (or reports end of file), calling
// `on_frame` for every picture. Returns 0, or -1 after a fatal socket error.
// `on_tick`, when given, is called after every turn of the loop: at least
// every 200 ms while nothing arrives, and at once after a signal cut a wait
// short, so that a caller can keep a clock or a view up to date.
int ledsim_server_run(ledsim_server_t server, int stop_fd, ledsim_frame_callback on_frame, void *user,
                      ledsim_tick_callback on_tick = nullptr);

// Serves, without waiting, whatever is there now (a connection waiting to be
// taken, data that has arrived), calling `on_frame` for every picture. For a
// server in the same thread as its client: once the client has sent, its
// frames are here. Returns 0, or -1 after a fatal socket error.
int ledsim_server_take_waiting(ledsim_server_t server, ledsim_frame_callback on_frame, void *user);

// Connections accepted so far.
int ledsim_server_connections(ledsim_server_t server);

// Whether a client is connected now.
bool ledsim_server_has_client(ledsim_server_t server);

void ledsim_server_done(ledsim_server_t server); // accepts null
