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
// The view draws on a thread of its own: the caller hands over the newest
// frame and status line and goes on at once. Whenever the terminal has taken
// the last drawing, the thread draws the newest it was given, writing only
// the rows that changed, so a slow terminal (over a slow link) skips frames
// and never holds up the caller.
//
// The record owns the thread, the text buffers, the last frame and the rows
// on the screen; the caller owns the descriptor, which must stay open until
// terminal_view_done.
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
// How long terminal_view_done waits for a terminal to take the last drawing
// and the restoring sequence before it gives up on them.
inline constexpr int TERMINAL_VIEW_CLOSING_MS = 2000;

terminal_layout terminal_view_layout_at(int pitch);

// The largest layout whose wall and status line fit `columns` x `rows`.
terminal_layout terminal_view_layout(int columns, int rows);

struct terminal_view_s;
using terminal_view_t = terminal_view_s *;

// Switches the terminal on `fd` to the alternate screen, hides the cursor and
// takes its size (80x24 when `fd` is no terminal or does not tell).
terminal_view_t terminal_view_init(int fd);

// Hands over a new picture and its status line, to be drawn: the rows that
// differ from the screen, in one text. A write that fails loses that
// drawing only (the next one draws every row).
void terminal_view_draw(terminal_view_t view, const wall_frame &frame, const char *status_line);

// Hands over a new status line alone; nothing is written when it is the one
// on the screen.
void terminal_view_status(terminal_view_t view, const char *status_line);

// Asks for the terminal's size to be taken again and the last frame and
// status line drawn at the layout that fits now (after SIGWINCH).
void terminal_view_resize(terminal_view_t view);

// Draws what was handed over last, resets colours, shows the cursor, leaves
// the alternate screen (giving the terminal TERMINAL_VIEW_CLOSING_MS for all
// that), stops the thread and frees the record. Accepts null.
void terminal_view_done(terminal_view_t view);

// The text terminal_view_draw writes to an empty screen of `columns` x `rows`,
// into *text (cleared first, capacity kept): the wall from the top left, the
// status line (control characters in it shown as '?', cut at the end of its
// last two-space parted field that fits the width), or the line saying the
// terminal is too small. Each row is written whole, with the rest of the
// screen cleared, so no earlier picture shows through.
void terminal_view_render(const wall_frame &frame, const char *status_line, int columns, int rows, std::string *text);
