// Frames of the show that tests recognise, in image order (red, green, blue
// of pixel (x, y) at 3 * (32 * y + x)), the order the simulator records.
#pragma once

#include "matrix_wiring.h"
#include "types.h"

#include <array>
#include <vector>

using show_frame = std::array<u8, MATRIX_FRAME_BYTES>;

bool is_black(const show_frame &frame);
// A frame as the OPC client sends it (LED order) in image order, and back.
show_frame in_image_order(const std::vector<u8> &leds);
std::vector<u8> in_led_order(const show_frame &picture);
// The thank-you slide's frame in which its first word has entered on the bottom row.
show_frame thank_you_entering_frame();
