// A 4x8 bitmap font in libgd's gdFont format, for text on the 16-row wall:
// 96 glyphs for codes 32 to 127, each drawn in the top-left 3x7 pixels of its
// cell, so that text set at the 4-pixel advance keeps a one-pixel gap between
// letters and a blank row below the line. Only the descenders (, ; Q g j p q y),
// the underscore, the ampersand and the tilde use the spare column or row.
// Draw with gdImageString or gdImageChar; they set only ink pixels.
#pragma once

#include <gd.h>

#include <array>

// Glyph of code c at byte (c - 32) * 32, row r and column k at r * 4 + k;
// each byte is 1 (ink) or 0 (background). Constant in use; non-const only
// because gdFont's data field is a plain char pointer.
extern std::array<char, 96 * 4 * 8> gdFont4x8Data;
extern gdFont gdFont4x8Rep;   // nchars 96, offset 32, w 4, h 8, data above
extern gdFontPtr gdFont4x8;   // &gdFont4x8Rep

gdFontPtr gdFontGet4x8();     // always gdFont4x8
