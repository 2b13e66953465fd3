// Open Pixel Control client.
//
// A small static table of destinations (sinks). A sink is created from a
// host:port text without connecting; the first message connects, and after any
// failure a later message connects again. Nothing here ever ends the process or
// waits for the server for longer than the time-out: a message that cannot be
// delivered is dropped with a line on stderr starting "OPC: ", and the result
// says so (1 delivered whole, 0 dropped).
//
// Single-threaded: the table and its sockets belong to the thread that sends.
#pragma once

#include "types.h"

struct sockaddr_in;

// One LED's colour, sent to the wire as it lies in memory: red, green, blue.
struct pixel {
  u8 r;
  u8 g;
  u8 b;
};
static_assert(sizeof(pixel) == 3, "pixels go to the wire as packed RGB triples");

// Index into the sink table; -1 means no sink.
using opc_sink = s8;

inline constexpr const char *OPC_DEFAULT_HOST = "localhost";
inline constexpr u16 OPC_DEFAULT_PORT = 7890;
inline constexpr const char *OPC_ENVIRONMENT_VARIABLE = "OPC";
inline constexpr int OPC_MAX_SINKS = 64;
// The largest pixel count whose byte length (3 per pixel) fits the 16-bit length field.
inline constexpr u16 OPC_MAX_PIXELS = 21845;
// Every message of opc_put_pixels is delivered within this time or dropped.
inline constexpr u32 OPC_TIMEOUT_MS = 1000;

// Creates a sink for "host:port" (null: $OPC, else "localhost"; port 7890 when
// missing or 0). Does not connect. Returns the sink, or -1 with a message.
opc_sink opc_new_sink(const char *hostport);

// Sends one set-pixel-colours message of `count` pixels on `channel`.
// Returns 1 if the whole message was sent, else 0 (the message is dropped).
u8 opc_put_pixels(opc_sink sink, u8 channel, u16 count, const pixel *pixels);

// Turns "host:port" into an IPv4 socket address; an empty host is "localhost",
// a missing port or port 0 is `default_port`. Returns 1 on success, 0 if no
// IPv4 address was found or the port is out of range (with a message).
int opc_resolve(const char *s, sockaddr_in *address, u16 default_port);
