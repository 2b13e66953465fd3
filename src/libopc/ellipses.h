// Concentric elliptical rings in two alternating colours around a movable
// centre, drawn oversampled and averaged down so that ring edges come out as
// intermediate shades.
//
//   ellipses_t e = ellipses_init(frame, 8);   // 8x oversampled work image
//   for (each frame) ellipses_set_calc(e, 128, 64, 32, 40, 0xFFFFFF, 0);
//   ellipses_done(e);
//
// Positions and ring steps are in work pixels. Ring s (1 innermost) is
// s x xsize by s x ysize and has color1 when s is odd, color2 when even;
// color2 is also the background; both are opaque true-colour values (alpha
// would be blended over the target's old content). Enough rings are drawn to cover the work
// image from the centre outwards. Each ellipses_calc redraws the whole work
// image and rewrites every pixel of `im`. The record owns `work`, never `im`.
// Fields are public so that tests can look at the work image.
//
// An allocation failure (record or work image) is reported on stderr and
// ends the process with status 1. Main thread only; no locks.
#pragma once

#include <gd.h>

#include <memory>

struct ellipses_s {
  gdImagePtr im;   // target, the caller's
  gdImagePtr work; // oversampled drawing, the record's own
  int color1;      // odd rings, the innermost among them
  int color2;      // even rings and the background
  int x;           // ring centre, work column
  int y;           // ring centre, work row
  int xsize;       // horizontal ring step; > 0 when drawn
  int ysize;       // vertical ring step; > 0 when drawn
};
using ellipses_t = ellipses_s *;

// `oversampling` >= 1. Centred on the work image, white rings on black; the
// ring steps are 0 until set, so set them before the first ellipses_calc.
ellipses_t ellipses_init(gdImagePtr im, int oversampling);

// Stores the six values, then draws (ellipses_calc).
void ellipses_set_calc(ellipses_t d, int x, int y, int xsize, int ysize, int color1, int color2);

// Draws the rings into `work` and reduces them onto `im`. Needs positive
// xsize and ysize.
void ellipses_calc(ellipses_t d);

// Destroys the work image and frees the record; accepts null.
void ellipses_done(ellipses_t d);

// A record owned by its holder, released with ellipses_done.
struct ellipses_deleter {
  void operator()(ellipses_t d) const { ellipses_done(d); }
};
using ellipses_ptr = std::unique_ptr<ellipses_s, ellipses_deleter>;

// Setters that only store; nothing is drawn until the next ellipses_calc.
void ellipses_setpos(ellipses_t d, int x, int y);
void ellipses_setsize(ellipses_t d, int x, int y); // xsize, ysize
void ellipses_setcolor(ellipses_t d, int color1, int color2);
