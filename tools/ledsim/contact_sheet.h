// A PNG contact sheet of a show: the wall once per second of show time, drawn
// as LED boards (led_board.h) in a grid, each with its time ("m:ss") under it.
//
// A frame is kept when it is the first of a new whole second counted from the
// first frame's receive time. A second without frames gets no tile, so a gap
// in the stream shows as a jump in the labels. Only the kept frames are
// stored; contact_sheet_done draws and writes the sheet.
//
// Layout, in pixels: the tiles run row by row, min(columns, tiles) across; a
// tile is a board with a label strip CONTACT_SHEET_LABEL_HEIGHT high under it,
// the label centred in it in libgd's small font and CONTACT_SHEET_INK. Tiles are
// apart from each other and from the edges by CONTACT_SHEET_MARGIN pixels of
// CONTACT_SHEET_BACKGROUND.
#pragma once

#include "wall_frame.h"

#include <cstddef>

inline constexpr int CONTACT_SHEET_MARGIN = 8;
inline constexpr int CONTACT_SHEET_LABEL_HEIGHT = 16;
inline constexpr int CONTACT_SHEET_BACKGROUND = 0x303030;
inline constexpr int CONTACT_SHEET_INK = 0xe0e0e0;

struct contact_sheet_s;
using contact_sheet_t = contact_sheet_s *;

// `scale` is pixels per LED (LED_BOARD_MIN_SCALE to LED_BOARD_MAX_SCALE),
// `columns` at least 1. Null, with a message on stderr, when one is out of
// range or the file cannot be opened.
contact_sheet_t contact_sheet_init(const char *path, int scale, int columns);

void contact_sheet_add(contact_sheet_t sheet, const wall_frame &frame);

// Draws and writes the sheet, closes the file and frees the record. 1 when the
// PNG reached the file, else 0 with a message on stderr. With no frames the
// sheet is a blank CONTACT_SHEET_MARGIN square, and a note says so. Accepts
// null (and returns 1).
int contact_sheet_done(contact_sheet_t sheet);

// The label of a tile: minutes and two-digit seconds, "0:00", "1:05", "61:40".
void contact_sheet_label(int second, char *text, std::size_t size);
