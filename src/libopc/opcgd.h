// Sending a libgd image to the 32x16 LED wall as one OPC message.
#pragma once

#include "opc.h"

#include <gd.h>

#include <memory>

// An image owned by its holder, destroyed with gdImageDestroy.
struct gd_image_deleter {
  void operator()(gdImagePtr im) const { gdImageDestroy(im); }
};
using gd_image_ptr = std::unique_ptr<gdImage, gd_image_deleter>;

// Sends `im` (any size, true-colour or palette; only read) on channel 0 in LED
// order. Other sizes than 32x16 are first averaged down (or up) to 32x16.
// Alpha is ignored. Returns the result of opc_put_pixels, or 0 with a message
// when no memory could be had for the scaled copy.
u8 opc_put_gd_image_32x16z(opc_sink s, gdImagePtr im);

// The toolkit's additions to libgd, in libgd's own naming style.

// Copies the w x h rectangle at (srcX, srcY) of `src` to (dstX, dstY) of `dst`,
// multiplying the colours channel by channel ((s * d) >> 8, so 255 x 255 gives
// 254). Source pixels of `src`'s transparent colour leave `dst` alone; outside
// `src` the source reads 0. Alpha plays no part; the result is opaque.
void gdImageCopyMultiply(gdImagePtr dst, gdImagePtr src, int dstX, int dstY, int srcX, int srcY, int w, int h);

// Fills the ellipse of width w and height h centred at (mx, my) with `c`,
// written straight into the pixel rows: no blending (alpha is stored as given),
// clipped to the image's own size.
void gdImageFilledEllipseFast(gdImagePtr im, int mx, int my, int w, int h, int c);

// The floor of the square root of x, in integers only.
u32 isqrt(u32 x);
