#include "ellipses.h"

#include "block_average.h"
#include "ellipse_rows.h"
#include "render_work.h"

#include "opcgd.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Distance from `centre` to the farther edge of a span of `size` pixels
// (for an even size; integer arithmetic, as the ring count depends on it).
int reach(int size, int centre) {
  int r = size - centre;
  if (size / 2 > r)
    r = size - r;
  return r;
}

// What clearing the work image with color2 and then drawing rings steps .. 1
// (largest first, each over the larger ones) leaves, with every pixel written
// once: the rings go smallest first, each only into the part of a row that
// no smaller ring took, and the background last into what no ring took.
// Rings are stored as the fast ellipse stores them; the background as the
// filled rectangle does, blended if color2 is not opaque.
void draw_rings(ellipses_t d, int steps) {
  const gdImagePtr work = d->work;
  assert(work->trueColor && "ellipses: the work image is true colour");
  const int w = gdImageSX(work), h = gdImageSY(work);
  // Per row: the half-width around the centre column that rings took; -1 for
  // none. Kept from frame to frame so that a frame allocates nothing (main
  // thread only, as the renderer is).
  static std::vector<int> taken;
  taken.assign(std::size_t(h), -1);
  // Calls write(a, b) for the parts of columns x1 .. x2 of row y outside what rings took.
  const auto outside_taken = [&](int y, int x1, int x2, auto write) {
    const int t = taken[std::size_t(y)];
    if (t < 0) {
      write(x1, x2);
      return;
    }
    write(x1, std::min(x2, d->x - t - 1));
    write(std::max(x1, d->x + t + 1), x2);
  };

  for (int s = 1; s <= steps; ++s) {
    const int c = s % 2 ? d->color1 : d->color2;
    const auto take = [&](int y, int half) {
      if (y < 0 || y >= h || half <= taken[std::size_t(y)])
        return;
      outside_taken(y, d->x - half, d->x + half, [&](int x1, int x2) { fill_row(work->tpixels[y], w, x1, x2, c); });
      taken[std::size_t(y)] = half;
    };
    ellipse_rows(s * d->xsize, s * d->ysize, [&](int k, int half) {
      take(d->y - k, half);
      if (k != 0)
        take(d->y + k, half);
    });
  }

  const bool opaque = gdTrueColorGetAlpha(d->color2) == 0;
  for (int y = 0; y < h; ++y)
    outside_taken(y, 0, w - 1, [&](int x1, int x2) {
      if (opaque) {
        fill_row(work->tpixels[y], w, x1, x2, d->color2);
        return;
      }
      for (int x = std::max(x1, 0); x <= std::min(x2, w - 1); ++x)
        gdImageSetPixel(work, x, y, d->color2);
    });
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

  draw_rings(d, steps);
  // Area averaging turns ring edges into intermediate shades; with opaque
  // ring colours every target pixel is replaced, not blended over.
  block_average_reduce(d->im, d->work);
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
