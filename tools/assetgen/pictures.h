// The drawings of the show's pictures. Each function draws one picture from
// nothing, deterministically (no clock, no unseeded randomness), and returns
// a new libgd image that the caller destroys. Palette pictures come back as
// palette images whose palette is exactly the picture's palette, in order;
// the others as true-colour images. The asset generator writes them as PNG
// files in the exact formats the show expects.
#pragma once

#include <gd.h>

// 2048x1024 true colour: coloured greeting labels on black along the
// greetings route, a heading at the top left.
gdImagePtr draw_greetings();
// 320x200 palette of exactly 17 colours: a figure reaching out of a blue and
// violet maze of glyphs.
gdImagePtr draw_into_the_blue();
// 3392x232 palette of exactly 13 colours (written 4 bits deep): a side-view
// landscape ending in a flagpole and a small castle.
gdImagePtr draw_panorama();
// 119x305 true colour: a tall dark can with a pink palm emblem on blue-violet.
gdImagePtr draw_drink();
// Credit portraits, true colour; the graphics one keeps an alpha channel.
gdImagePtr draw_credit_lead();  // 180x297
gdImagePtr draw_credit_gfx();   // 198x332, with alpha
gdImagePtr draw_credit_music(); // 198x250
gdImagePtr draw_credit_code();  // 198x235
// Credit captions, 32x16 palette images of exactly two colours: black then
// blue, except the code caption (blue then black). Handle and role in two
// lines of the 4x8 font.
gdImagePtr draw_caption_lead();
gdImagePtr draw_caption_gfx();
gdImagePtr draw_caption_music();
gdImagePtr draw_caption_code();
