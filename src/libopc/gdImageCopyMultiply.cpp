#include "opcgd.h"

namespace {

struct rgb {
  int r, g, b;
};

// A colour of `im` as libgd returns it (a true-colour value or a palette
// index) split into its channels; alpha is dropped.
rgb channels_of(gdImagePtr im, int colour) {
  if (im->trueColor)
    return {gdTrueColorGetRed(colour), gdTrueColorGetGreen(colour), gdTrueColorGetBlue(colour)};
  return {im->red[colour], im->green[colour], im->blue[colour]};
}

} // namespace

// Pixel by pixel through libgd's own getter and setter, with nothing buffered:
// outside `src` reads 0, `dst`'s clipping rectangle and blending mode apply to
// every write, and a copy of an image onto itself sees its own earlier writes.
void gdImageCopyMultiply(gdImagePtr dst, gdImagePtr src, int dstX, int dstY, int srcX, int srcY, int w, int h) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int s = gdImageGetPixel(src, srcX + x, srcY + y);
      if (s == src->transparent)
        continue;
      int colour = s;
      if (dst != src) {
        const rgb a = channels_of(src, s);
        const rgb b = channels_of(dst, gdImageGetPixel(dst, dstX + x, dstY + y));
        // The floor of the product over 256 (a shift), not over 255: white on
        // white gives 254, so a full-white mask leaves a colour one step darker.
        // The show's frames are made this way; dividing by 255 would change
        // every tinted pixel.
        colour = gdImageColorResolve(dst, (a.r * b.r) >> 8, (a.g * b.g) >> 8, (a.b * b.b) >> 8);
      }
      gdImageSetPixel(dst, dstX + x, dstY + y, colour);
    }
  }
}
