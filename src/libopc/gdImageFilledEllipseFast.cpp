#include "opcgd.h"

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

// Midpoint scan from the middle row outwards: each step either moves one row
// up and down (vertical) or narrows the span by one column at each end
// (horizontal), and a row pair is written when the scan first reaches it.
void gdImageFilledEllipseFast(gdImagePtr im, int mx, int my, int w, int h, int c) {
  const int a = w >> 1;
  const int b = h >> 1;
  write_span(im, my, mx - a, mx + a, c);

  int mx1 = mx - a, mx2 = mx + a;
  int my1 = my, my2 = my;
  const int aq = a * a, bq = b * b;
  const int dx = 2 * aq, dy = 2 * bq;
  int r = a * bq;
  int rx = 2 * r;
  int ry = 0;
  int x = a;
  int old_y2 = -2;
  while (x > 0) {
    if (r > 0) {
      ++my1;
      --my2;
      ry += dx;
      r -= ry;
    } else {
      --x;
      ++mx1;
      --mx2;
      rx -= dy;
      r += rx;
    }
    if (my2 != old_y2) {
      write_span(im, my1, mx1, mx2, c);
      write_span(im, my2, mx1, mx2, c);
    }
    old_y2 = my2;
  }
}
