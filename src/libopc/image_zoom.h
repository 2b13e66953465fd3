// Zooming and panning a window over a large picture into a small destination.
//
// image_zoom_init builds, once per picture, a chain of successively halved
// true-colour copies (level 0 at full size); image_zoom_calc picks a level by
// the zoom and resamples the window from it, so that a frame averages far
// fewer pixels than the window holds at full size. The window is not
// clamped: whatever lies outside the picture comes out opaque black.
//
// The caller owns the source (it may destroy it right after init) and the
// destination (it must outlive the record).
#pragma once

#include <gd.h>

#include <memory>

struct image_zoom_s {
  gdImagePtr im;   // the destination every image_zoom_calc fills completely
  int listsize;    // levels in the chain, at least 1
  gdImagePtr *list; // level 0 is a true-colour copy of the source; level i halves level i-1
  int *scale;      // level 0's width divided by level i's width: 1, 2, 4, ...
};
using image_zoom_t = image_zoom_s *;

image_zoom_t image_zoom_init(gdImagePtr im, gdImagePtr src);

// Fills the destination with the window centred at (cx, cy) in source pixels;
// `zoom` is source pixels per destination pixel (larger zooms out).
void image_zoom_calc(image_zoom_t d, int cx, int cy, float zoom);

// Destroys the chain and frees the record, never the destination; accepts null.
void image_zoom_done(image_zoom_t d);

// A record owned by its holder, released with image_zoom_done.
struct image_zoom_deleter {
  void operator()(image_zoom_t d) const { image_zoom_done(d); }
};
using image_zoom_ptr = std::unique_ptr<image_zoom_s, image_zoom_deleter>;
