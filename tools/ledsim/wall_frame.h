// One picture of the LED wall as the simulator received it: 32x16 colours in
// image order (row by row, left to right), already put back from LED order.
#pragma once

#include "types.h"

#include <array>
#include <cstdint>

struct wall_frame {
  std::array<u8, 32 * 16 * 3> rgb; // red, green, blue of pixel (x, y) at 3 * (32 * y + x)
  std::int64_t received_ns;        // monotonic clock, when the message was complete
  int connection;                  // which connection brought it: 0 for the first
};
