// Incremental parser for the server side of an Open Pixel Control stream.
//
// Bytes are fed in whatever pieces the socket delivers them; every complete
// message is handed to the caller's callback. Memory is bounded whatever the
// input: a message body is counted through, and only its first
// OPC_STREAM_KEEP bytes (a whole 32x16 frame) are kept.
#pragma once

#include "matrix_wiring.h"
#include "types.h"

#include <array>
#include <cstddef>

inline constexpr std::size_t OPC_STREAM_KEEP = std::size_t(MATRIX_LEDS) * 3;
inline constexpr u8 OPC_COMMAND_SET_PIXELS = 0;
inline constexpr u8 OPC_BROADCAST_CHANNEL = 255;

struct opc_message {
  u8 channel;
  u8 command;
  u16 length;        // the length field: bytes of data that followed the header
  std::size_t kept;  // how many of them are in `data` (at most OPC_STREAM_KEEP)
  const u8 *data;
};

struct opc_stream_s {
  std::array<u8, 4> header;
  std::size_t header_have;
  std::size_t body_have;
  std::array<u8, OPC_STREAM_KEEP> body;
};

using opc_stream_callback = void (*)(void *user, const opc_message &message);

// Starts a new stream (a new connection): forgets any partial message.
void opc_stream_reset(opc_stream_s *stream);

// Consumes `size` bytes, calling `on_message` for every message they complete.
void opc_stream_feed(opc_stream_s *stream, const u8 *bytes, std::size_t size, opc_stream_callback on_message,
                     void *user);

// True when the stream stands between messages (no partial message pending).
bool opc_stream_idle(const opc_stream_s *stream);
