#include "ellipses.h"

#include "render_work.h"

#include "opcgd.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace {

// Distance from `centre` to the farther edge of a span of `size` pixels
// (for an even size; integer arithmetic, as the ring count depends on it).
int reach(int size, int centre) {
  int r = size - centre;
  if (size / 2 > r)
    r = size - r;
  return r;
}

} // namespace

ellipses_t ellipses_init(gdImagePtr im, int oversampling) {
  auto d = static_cast<ellipses_t>(render_record(sizeof(ellipses_s)));
  const gdImagePtr work = render_work_image(im, oversampling, "ellipses");
  const int w = gdImageSX(work), h = gdImageSY(work);

  // The ring steps start at 0 rather than undefined, so that drawing before
  // they are set trips the assertion in ellipses_calc.
  *d = ellipses_s{im, work, 0x00FFFFFF, 0, w / 2, h / 2, 0, 0};
  return d;
}

void ellipses_set_calc(ellipses_t d, int x, int y, int xsize, int ysize, int color1, int color2) {
  d->x = x;
  d->y = y;
  d->xsize = xsize;
  d->ysize = ysize;
  d->color1 = color1;
  d->color2 = color2;
  ellipses_calc(d);
}

void ellipses_calc(ellipses_t d) {
  assert(d->xsize > 0 && d->ysize > 0 && "ellipses_calc: ring steps must be positive (set them first)");
  const int w = gdImageSX(d->work);
  const int h = gdImageSY(d->work);

  // The outermost ring goes about half as far again as the larger reach, so
  // the rings cover the image whatever the centre.
  const int startx = reach(w, d->x);
  const int starty = reach(h, d->y);
  const int steps = startx * d->ysize > starty * d->xsize ? (3 * startx) / d->xsize : (3 * starty) / d->ysize;

  gdImageFilledRectangle(d->work, 0, 0, w - 1, h - 1, d->color2);
  // Largest first: each smaller ellipse covers the middle of the one before.
  for (int s = steps; s >= 1; --s)
    gdImageFilledEllipseFast(d->work, d->x, d->y, s * d->xsize, s * d->ysize, s % 2 ? d->color1 : d->color2);

  // Area averaging turns ring edges into intermediate shades; with opaque
  // ring colours every target pixel is replaced, not blended over.
  gdImageCopyResampled(d->im, d->work, 0, 0, 0, 0, gdImageSX(d->im), gdImageSY(d->im), w, h);
}

void ellipses_done(ellipses_t d) {
  if (!d)
    return;
  gdImageDestroy(d->work);
  std::free(d);
}

void ellipses_setpos(ellipses_t d, int x, int y) {
  d->x = x;
  d->y = y;
}

void ellipses_setsize(ellipses_t d, int x, int y) {
  d->xsize = x;
  d->ysize = y;
}

void ellipses_setcolor(ellipses_t d, int color1, int color2) {
  d->color1 = color1;
  d->color2 = color2;
}
