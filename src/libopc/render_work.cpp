#include "render_work.h"

#include "fatal.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

void *render_record(std::size_t size) { return allocated_or_exit(std::calloc(1, size)); }

gdImagePtr render_work_image(gdImagePtr target, int oversampling, const char *renderer) {
  assert(target && "render_work_image: no target image");
  assert(oversampling >= 1 && "render_work_image: oversampling must be at least 1");
  const int w = oversampling * gdImageSX(target);
  const int h = oversampling * gdImageSY(target);
  const gdImagePtr work = allocated_or_exit(gdImageCreateTrueColor(w, h), [&] {
    std::fprintf(stderr, "%s: cannot allocate a %dx%d work image\n", renderer, w, h);
  });
  gdImageColorTransparent(work, 0);
  return work;
}
