#include "picture_decode.h"

#include <cstdio>
#include <cstdlib>

gd_image_ptr decode_png_or_fail(const unsigned char *png, int png_size, const char *file, int line) {
  gd_image_ptr im(gdImageCreateFromPngPtr(png_size, const_cast<unsigned char *>(png)));
  if (!im) {
    std::fprintf(stderr, "FAIL! at %s:%d\n", file, line);
    std::exit(1);
  }
  return im;
}
