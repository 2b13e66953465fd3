// A live view of the wall in an ANSI terminal with 24-bit colour, at the
// wall's true shape, with a status line below it.
//
// A character cell is about twice as tall as wide, so the view draws in
// square units of one column by half a row: the upper-half block takes the
// upper unit's colour as foreground and the lower one's as background. An LED
// is `pitch` units from the next; from a pitch of 3 on a dark unit or more
// parts neighbouring LEDs, and a wider dark gap parts the panels at any pitch.
// The view takes the largest pitch at which the wall and the status line fit
// the terminal, the wall at the top left and the status line on the row below.
// A terminal too small for a pitch of 1 gets one line saying so instead.
//
// The record owns the text buffer, the last frame and the last status line
// (to draw again after a resize); the caller owns the descriptor, which must
// stay open until terminal_view_done.
#pragma once

#include "wall_frame.h"

#include <string>

// The wall's geometry at one pitch, in units and in text cells.
struct terminal_layout {
  int pitch;     // units from an LED to the next; 0: the terminal is too small
  int lit;       // units across an LED's lit square
  int panel_gap; // further dark units between panels
  int columns;   // text columns of the wall
  int rows;      // text rows of the wall (the lower half of the last may be outside)
};

inline constexpr int TERMINAL_VIEW_MAX_PITCH = 32;

terminal_layout terminal_view_layout_at(int pitch);

// The largest layout whose wall and status line fit `columns` x `rows`.
terminal_layout terminal_view_layout(int columns, int rows);

struct terminal_view_s;
using terminal_view_t = terminal_view_s *;

// Switches the terminal on `fd` to the alternate screen, hides the cursor and
// takes its size (80x24 when `fd` is no terminal or does not tell).
terminal_view_t terminal_view_init(int fd);

// Writes the wall and the status line in one write (repeated only when the
// terminal takes part of it). A write that fails loses that frame's view only.
void terminal_view_draw(terminal_view_t view, const wall_frame &frame, const char *status_line);

// Writes the status line alone, when it differs from the one on the screen.
void terminal_view_status(terminal_view_t view, const char *status_line);

// Takes the terminal's size again and draws the last frame and status line at
// the layout that fits now. Called from the main loop after SIGWINCH.
void terminal_view_resize(terminal_view_t view);

// Resets colours, shows the cursor, leaves the alternate screen; frees the record.
void terminal_view_done(terminal_view_t view);

// The text terminal_view_draw writes for a terminal of `columns` x `rows`,
// into *text (cleared first, capacity kept): the wall from the top left, the
// status line (control characters in it shown as '?', cut at the end of its
// last two-space parted field that fits the width), or the line saying the
// terminal is too small. Each row is written whole, with the rest of the
// screen cleared, so no earlier picture shows through.
void terminal_view_render(const wall_frame &frame, const char *status_line, int columns, int rows, std::string *text);
