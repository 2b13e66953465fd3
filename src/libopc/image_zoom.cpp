#include "image_zoom.h"

#include "fatal.h"

#include <cmath>
#include <cstdlib>

namespace {

// The chain is built at start-up from a linked-in picture; without memory for
// it the scene has nothing to show, so report and stop.
template <typename T> T *allocate(std::size_t count) {
  return allocated_or_exit(static_cast<T *>(std::calloc(count, sizeof(T))));
}

gdImagePtr create_level(int w, int h) { return allocated_or_exit(gdImageCreateTrueColor(w, h)); }

// Halvings of `size` that stay strictly larger than `target`.
int count_halvings(int size, int target) {
  int count = 0;
  while (size / 2 > target) {
    size /= 2;
    ++count;
  }
  return count;
}

} // namespace

image_zoom_t image_zoom_init(gdImagePtr im, gdImagePtr src) {
  auto *d = allocate<image_zoom_s>(1);
  d->im = im;

  const int sw = gdImageSX(src), sh = gdImageSY(src);
  const int dw = gdImageSX(im), dh = gdImageSY(im);
  const bool height_governs = sw / dw < sh / dh;
  const int levels = height_governs ? count_halvings(sh, dh) : count_halvings(sw, dw);
  d->listsize = levels > 0 ? levels : 1;
  d->list = allocate<gdImagePtr>(std::size_t(d->listsize));
  d->scale = allocate<int>(std::size_t(d->listsize));

  d->list[0] = create_level(sw, sh);
  d->scale[0] = 1;
  gdImageCopy(d->list[0], src, 0, 0, 0, 0, sw, sh);
  for (int i = 1; i < d->listsize; ++i) {
    const gdImagePtr above = d->list[i - 1];
    const int w = gdImageSX(above), h = gdImageSY(above);
    d->list[i] = create_level(w / 2, h / 2);
    d->scale[i] = sw / gdImageSX(d->list[i]);
    gdImageCopyResampled(d->list[i], above, 0, 0, 0, 0, w / 2, h / 2, w, h);
  }
  return d;
}

void image_zoom_calc(image_zoom_t d, int cx, int cy, float zoom) {
  // An undefined zoom has no window: turning it into a size would be
  // undefined (and differs between processors), so the frame is left as it is.
  if (std::isnan(zoom))
    return;
  const int dw = gdImageSX(d->im), dh = gdImageSY(d->im);
  int sizex = int(float(dw) * zoom);
  int sizey = int(float(dh) * zoom);
  int startx = cx - sizex / 2;
  int starty = cy - sizey / 2;

  // Level i serves from zoom = scale[i]^2 / 2 upwards (thresholds 0, 2, 8,
  // 32, 128 for scales 1, 2, 4, 8, 16); at the switch each destination pixel
  // averages scale[i] / 2 level pixels across. Equality selects the coarser level.
  int idx = 0;
  for (int i = 0; i < d->listsize; ++i) {
    if (float(d->scale[i] * d->scale[i] / 2) <= zoom)
      idx = i;
    else
      break;
  }

  const int scale = d->scale[idx];
  sizex /= scale;
  sizey /= scale;
  startx /= scale;
  starty /= scale;
  gdImageCopyResampled(d->im, d->list[idx], 0, 0, startx, starty, dw, dh, sizex, sizey);
}

void image_zoom_done(image_zoom_t d) {
  if (!d)
    return;
  for (int i = 0; i < d->listsize; ++i)
    gdImageDestroy(d->list[i]);
  std::free(d->list);
  std::free(d->scale);
  std::free(d);
}
