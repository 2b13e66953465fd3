#include "opcgd.h"

#include "ellipse_rows.h"

void gdImageFilledEllipseFast(gdImagePtr im, int mx, int my, int w, int h, int c) {
  ellipse_rows(w, h, [&](int k, int half) {
    write_span(im, my - k, mx - half, mx + half, c);
    if (k != 0)
      write_span(im, my + k, mx - half, mx + half, c);
  });
}
