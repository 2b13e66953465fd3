// Conversions between libgd true-colour values and hue/saturation/value.
// Hue is a fraction of a turn (0 red, 1/3 green, 2/3 blue), not degrees.
#pragma once

#include "types.h"

struct hsv_t {
  float h;
  float s;
  float v;
};

// Alpha bits of `rgb` are ignored. Hue comes out in [0, 1).
void rgb_to_hsv(hsv_t *hsv, u32 rgb);

// Channels are truncated, not rounded; alpha comes out 0 (opaque). A hue of 1
// or more wraps with period 1. Expects s and v in [0, 1] and a hue not below 0.
u32 hsv_to_rgb(const hsv_t *hsv);
