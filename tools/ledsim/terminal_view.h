// A live view of the wall in an ANSI terminal with 24-bit colour.
//
// Two LED rows share one text row: the upper-half block takes the upper LED's
// colour as foreground and the lower LED's as background. Each LED is two
// columns wide, its block and a dark gap, with one more dark column between
// panels; the wall takes 8 text rows of 67 columns, and the status line
// follows on the row below. Every redraw repaints the whole wall.
//
// The record owns the text buffer, reused for every frame; the caller owns
// the descriptor, which must stay open until terminal_view_done.
#pragma once

#include "wall_frame.h"

#include <string>

struct terminal_view_s;
using terminal_view_t = terminal_view_s *;

// Switches the terminal on `fd` to the alternate screen and hides the cursor.
terminal_view_t terminal_view_init(int fd);

// Writes the wall and the status line in one write (repeated only when the
// terminal takes part of it). A write that fails loses that frame's view only.
void terminal_view_draw(terminal_view_t view, const wall_frame &frame, const char *status_line);

// Resets colours, shows the cursor, leaves the alternate screen; frees the record.
void terminal_view_done(terminal_view_t view);

// The text terminal_view_draw writes, into *text (cleared first, capacity
// kept): cursor home, the 8 rows of the wall, then the status line, with
// control characters in it shown as '?'. It ends with the status line.
void terminal_view_render(const wall_frame &frame, const char *status_line, std::string *text);
