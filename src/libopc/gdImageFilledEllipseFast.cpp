#include "opcgd.h"

#include "ellipse_rows.h"

namespace {

// Stores `c` straight into row y from x1 to x2, clipped to the image itself
// (not to libgd's clipping rectangle): no blending, no brushes, alpha kept.
void write_span(gdImagePtr im, int y, int x1, int x2, int c) {
  if (y < 0 || y >= im->sy)
    return;
  if (x1 < 0)
    x1 = 0;
  if (x2 > im->sx - 1)
    x2 = im->sx - 1;
  if (im->trueColor) {
    int *row = im->tpixels[y];
    for (int x = x1; x <= x2; ++x)
      row[x] = c;
  } else {
    unsigned char *row = im->pixels[y];
    for (int x = x1; x <= x2; ++x)
      row[x] = static_cast<unsigned char>(c);
  }
}

} // namespace

void gdImageFilledEllipseFast(gdImagePtr im, int mx, int my, int w, int h, int c) {
  ellipse_rows(w, h, [&](int k, int half) {
    write_span(im, my - k, mx - half, mx + half, c);
    if (k != 0)
      write_span(im, my + k, mx - half, mx + half, c);
  });
}
