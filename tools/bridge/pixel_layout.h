// From the wall's picture to one controller's channels: the picture (32x16,
// image order, as the OPC server hands it over) is fitted to the controller's
// matrix, mirrored, put into the controller's LED order, passed through the
// levels table (brightness and gamma) and written red, green and blue in the
// controller's colour order.
//
// Fitting keeps the whole picture, centred, with black borders where the
// shapes differ. Each matrix pixel averages the part of the picture it
// covers, weighted by area in whole units: where the matrix is the picture
// enlarged a whole number of times, every pixel covers one picture pixel and
// the picture comes out in exact blocks; anything else is resampled.
//
// All of it is worked out once per output into a table of (picture pixel,
// weight) per LED; a frame then costs one pass over the LEDs.
#pragma once

#include "bridge_url.h"
#include "types.h"
#include "wall_frame.h"

#include <array>
#include <cstdint>
#include <vector>

// The weights of one LED's sources add up to this (32 * 16: a picture pixel
// spans `matrix width` units across and `matrix height` units down).
inline constexpr int PIXEL_LAYOUT_WEIGHT = 32 * 16;

struct pixel_layout_s {
  int leds = 0;                       // physical LEDs, including any a map leaves dark
  std::vector<std::uint32_t> first;   // per LED: its sources are [first[i], first[i + 1])
  std::vector<std::uint16_t> source;  // picture pixel (32 * y + x)
  std::vector<std::uint16_t> weight;
  std::array<int, 3> colors{0, 1, 2};
};

// A brightness and gamma table for every channel value.
using pixel_levels = std::array<u8, 256>;

// `brightness` in per cent (0-100), `gamma` 1 for none: the identity at 100 and 1.
pixel_levels pixel_levels_make(double brightness, double gamma);

// The layout for an output (the config's options are assumed checked).
void pixel_layout_make(const bridge_output_config &config, pixel_layout_s *layout);

// The channels for `picture` (3 * layout.leds bytes) into *channels.
void pixel_layout_apply(const pixel_layout_s &layout, const pixel_levels &levels,
                        const std::array<u8, WALL_FRAME_BYTES> &picture, std::vector<u8> *channels);
