// The greetings canvas (2048x1024, drawn by draw_greetings in pictures.h): its
// pieces and how they are laid out, shared with the route test.
//
// Every pan of the flight's route (move_list in route.h: the linear records,
// with the zig-zag pairs 46-47 and 53-54 each reading one label) reads one
// label. A label lies along its pan's path, turned so that it reads in the
// direction of travel, in the 4x8 font scaled so that one font pixel is two
// matrix pixels at the pan's zoom (block size 2 x zoom canvas pixels): the
// 7-row capitals fill 14 of the view's 16 rows. Its letters are spread so
// that the text runs from a little before the pan's start to a little past
// its end. Besides the labels there are two pieces that no pan reads: the
// heading at the top left, and a small "HI!" at the flight's first view
// (1324, 712) at zoom 1. Everything else is pure black, which the PNG marks
// transparent; no ink is pure black.
#pragma once

#include <gd.h>

struct greetings_piece_s {
  const char *name;   // the label's text, or what the piece is
  int first_move;     // the pans of move_list reading it, first_move..last_move;
  int last_move;      // -1, -1 for the heading and the hello
};

int greetings_piece_count();
const greetings_piece_s &greetings_piece(int k);

// Draws piece k alone onto `canvas` (2048x1024 true colour): only its ink
// pixels are written. Returns false, after a message on stderr, if the piece
// does not fit (its text is too long or short for its pan, or it leaves the
// canvas).
bool greetings_draw_piece(gdImagePtr canvas, int k);
