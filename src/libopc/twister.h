// The twister: a bar of square cross-section spanning the image, spinning
// about its long axis and twisted along it. Opposite faces share a colour and
// the visible faces are shaded by their nearness to the viewer.
//
//   twister_t t = twister_init(frame, 3);   // 3x oversampled work image
//   for (each frame) { twister_set_twist(t, 0, 0.05f); twister_calc(t); }
//   twister_done(t);
//
// Each twister_calc redraws the whole work image, averages it down onto `im`
// (every target pixel is rewritten) and advances the spin by `step`. The
// record owns `work`, never `im`. Fields are public so that tests can look at
// the work image; callers other than tests use the functions.
//
// An allocation failure (record or work image) is reported on stderr and
// ends the process with status 1. Main thread only; no locks.
#pragma once

#include "hsv.h"

#include <gd.h>

#include <array>
#include <memory>

struct twister_s {
  gdImagePtr im;               // target, the caller's
  gdImagePtr work;             // oversampled drawing, the record's own
  int horizontal;              // 0: the bar runs top to bottom; else left to right
  float start;                 // rotation of the first row, radians, 0 to pi
  float step;                  // added to start after each frame, radians
  float twist;                 // extra rotation per target row (column when horizontal)
  std::array<hsv_t, 2> color;  // face colours
};
using twister_t = twister_s *;

// `oversampling` >= 1: the work image is that many times the size of `im`.
// Starts unspun, untwisted, vertical, red and green faces, spin 0.1 per frame.
twister_t twister_init(gdImagePtr im, int oversampling);

// Destroys the work image and frees the record; accepts null.
void twister_done(twister_t d);

// A record owned by its holder, released with twister_done.
struct twister_deleter {
  void operator()(twister_t d) const { twister_done(d); }
};
using twister_ptr = std::unique_ptr<twister_s, twister_deleter>;

void twister_set_colors(twister_t d, const hsv_t *color0, const hsv_t *color1);

// `twist` in radians per target row (per target column when horizontal); finite.
void twister_set_twist(twister_t d, int horizontal, float twist);

// Draws one frame into `work`, reduces it onto `im`, advances `start`.
void twister_calc(twister_t d);
