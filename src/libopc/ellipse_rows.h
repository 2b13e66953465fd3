// The rows of the fast filled ellipse (gdImageFilledEllipseFast) without the
// pixels, for drawing code that must know which pixels an ellipse takes: the
// ellipses renderer uses it to write each ring only where no smaller ring
// covers it. Both store their spans with fill_row.
#pragma once

#include "opcgd.h"

#include <algorithm>
#include <cstdint>

// Sets elements x1 .. x2 of a pixel row `width` long, clipped to it, to `c`.
template <typename Pixel> void fill_row(Pixel *row, int width, int x1, int x2, Pixel c) {
  x1 = std::max(x1, 0);
  x2 = std::min(x2, width - 1);
  if (x1 <= x2)
    std::fill(row + x1, row + x2 + 1, c);
}

// Stores `c` straight into row y from x1 to x2, clipped to the image itself
// (not to libgd's clipping rectangle): no blending, no brushes, alpha kept.
inline void write_span(gdImagePtr im, int y, int x1, int x2, int c) {
  if (y < 0 || y >= im->sy)
    return;
  if (im->trueColor)
    fill_row(im->tpixels[y], im->sx, x1, x2, c);
  else
    fill_row(im->pixels[y], im->sx, x1, x2, static_cast<unsigned char>(c));
}

// Midpoint scan from the middle row outwards: each step either moves one row
// up and down (vertical) or narrows the span by one column at each end
// (horizontal). Calls row(k, half) when the scan first reaches a row pair:
// rows my - k and my + k span mx - half .. mx + half for an ellipse w wide
// and h high centred at (mx, my). Offset 0 comes first with half = w / 2 and
// may come once more, narrower; every other offset comes once.
template <typename Row> void ellipse_rows(int w, int h, Row &&row) {
  const int a = w >> 1;
  const int b = h >> 1;
  row(0, a);

  // The error terms grow with the cube of the half axes; 64 bits keep
  // ellipses far larger than any image exact (32 bits overflow from about
  // 1,300 pixels across).
  const std::int64_t aq = std::int64_t(a) * a, bq = std::int64_t(b) * b;
  const std::int64_t dx = 2 * aq, dy = 2 * bq;
  std::int64_t r = a * bq;
  std::int64_t rx = 2 * r;
  std::int64_t ry = 0;
  int half = a;
  int k = 0;
  int reported_k = -1; // no row pair reported by the loop yet
  while (half > 0) {
    if (r > 0) {
      ++k;
      ry += dx;
      r -= ry;
    } else {
      --half;
      rx -= dy;
      r += rx;
    }
    if (k != reported_k)
      row(k, half);
    reported_k = k;
  }
}
