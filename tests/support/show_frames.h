// Frames of the show that tests recognise, in image order (red, green, blue
// of pixel (x, y) at 3 * (32 * y + x)), the order the simulator records.
#pragma once

#include "types.h"

#include <array>

using show_frame = std::array<u8, 32 * 16 * 3>;

bool is_black(const show_frame &frame);
// The thank-you slide's frame in which its first word has entered on the bottom row.
show_frame thank_you_entering_frame();
