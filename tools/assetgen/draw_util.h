// Small drawing helpers shared by the picture drawings: a seeded random
// source and per-pixel noise (so every picture comes out the same on every
// run), colour arithmetic on true-colour values, palette set-up, block text in
// the 4x8 font, and outlined shapes. Colours are whatever the target image
// takes: palette indices for palette images, true-colour values otherwise,
// except where a function says it works on true-colour values.
#pragma once

#include "types.h"

#include <gd.h>

#include <span>

// xorshift32; a state of 0 would stick, so draw_rng_make never gives one.
struct draw_rng_s {
  u32 state;
};
draw_rng_s draw_rng_make(u32 seed);
u32 draw_rng_next(draw_rng_s &rng);
int draw_rng_below(draw_rng_s &rng, int n);  // 0 .. n-1, n > 0
int draw_rng_between(draw_rng_s &rng, int lo, int hi);  // lo .. hi inclusive

// Noise that depends only on the position and the seed, for textures that
// must not shift when the drawing order changes.
u32 draw_hash(int x, int y, u32 seed);

struct draw_rgb_s {
  int r, g, b;
};
// Allocates the colours in order on a palette image; index i is colours[i].
void draw_allocate_palette(gdImagePtr im, std::span<const draw_rgb_s> colours);

// True-colour arithmetic (opaque values).
int draw_mix(int from, int to, float t);  // t 0 gives from, 1 gives to
int draw_scale(int colour, float factor);  // channels times factor, clamped

// Text in the 4x8 font with every font pixel drawn as a scale x scale block,
// advancing 4 x scale per character.
void draw_text_blocks(gdImagePtr im, int x, int y, const char *text, int scale, int colour);
int draw_text_blocks_width(const char *text, int scale);  // without the last gap

// Shapes with a rim of the given thickness around the fill (a polygon's rim
// straddles its edge, so a rim of the fill colour fattens a thin shape).
void draw_outlined_ellipse(gdImagePtr im, int cx, int cy, int w, int h, int thickness,
                           int fill, int rim);
void draw_outlined_polygon(gdImagePtr im, std::span<const gdPoint> points, int thickness,
                           int fill, int rim);
void draw_thick_line(gdImagePtr im, int x0, int y0, int x1, int y1, int thickness, int colour);
