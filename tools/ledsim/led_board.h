// The wall drawn as a board of round LED dots, shared by the animated GIF,
// the contact sheet and the video renderer so that all show the wall alike.
//
// Geometry, in pixels, for `scale` pixels per LED (LED_BOARD_MIN_SCALE to
// LED_BOARD_MAX_SCALE): the board is dark (LED_BOARD_COLOUR) with a margin of
// scale / 2 around it; LED (x, y) owns the scale x scale cell at
//   (margin + scale * x + gap * (x / 8), margin + scale * y + gap * (y / 8)),
// where the panel gap is another scale / 2, and its dot is a disc centred on
// pixel (scale / 2, scale / 2) of the cell, about 3/4 of the cell across.
// The board's corner pixel, the cell's pixel (0, 0), is always board.
#pragma once

#include "opcgd.h"
#include "wall_frame.h"

#include <gd.h>

#include <memory>

inline constexpr int LED_BOARD_MIN_SCALE = 2;
inline constexpr int LED_BOARD_MAX_SCALE = 64;
inline constexpr int LED_BOARD_COLOUR = 0x101010; // red 16, green 16, blue 16

int led_board_width(int scale);
int led_board_height(int scale);
// The centre pixel of LED x (column) or y (row)'s dot, from the board's corner.
int led_board_centre(int scale, int led);
// The dot's radius: its rows reach out to where (w^2 + dy^2 <= r^2 + r), about r + 1/2.
int led_board_dot_radius(int scale);

// Draws the board with its top-left corner at (x0, y0), true-colour or palette:
// on a palette image each colour is resolved (exact where the palette has it
// or room for it, else the closest entry).
void led_board_draw(gdImagePtr im, int x0, int y0, int scale, const wall_frame &frame);

// The same board drawn into packed red, green, blue bytes, `stride` bytes a
// row, which must hold it at (x0, y0) (the video renderer's frames).
void led_board_draw_rgb(u8 *pixels, int stride, int x0, int y0, int scale, const wall_frame &frame);

// Owner of an image the views make.
using led_board_image = gd_image_ptr;
