// Decoding a linked-in picture. The pictures are part of the program, so one
// that does not decode is a broken build: report where and stop.
#pragma once

#include "opcgd.h"

// The picture, the caller's to keep.
gd_image_ptr decode_png_or_fail(const unsigned char *png, int png_size, const char *file, int line);

#define DECODE_PNG_OR_FAIL(png, size) decode_png_or_fail((png), (size), __FILE__, __LINE__)
