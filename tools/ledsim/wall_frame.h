// One picture of the LED wall as the simulator received it: 32x16 colours in
// image order (row by row, left to right), already put back from LED order.
#pragma once

#include "matrix_wiring.h"
#include "types.h"

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t WALL_FRAME_BYTES = std::size_t(MATRIX_LEDS) * 3;

struct wall_frame {
  std::array<u8, WALL_FRAME_BYTES> rgb; // red, green, blue of pixel (x, y) at 3 * (MATRIX_WIDTH * y + x)
  std::int64_t received_ns;        // monotonic clock, when the message was complete
  int connection;                  // which connection brought it: 0 for the first
};
