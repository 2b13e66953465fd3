// Sending a libgd image to the 32x16 LED wall as one OPC message.
#pragma once

#include "opc.h"

#include <gd.h>

// Sends `im` (any size, true-colour or palette; only read) on channel 0 in LED
// order. Other sizes than 32x16 are first averaged down (or up) to 32x16.
// Alpha is ignored. Returns the result of opc_put_pixels.
u8 opc_put_gd_image_32x16z(opc_sink s, gdImagePtr im);
