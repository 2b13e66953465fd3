// The 4x8 font: its gdFont record, the fixed glyphs, the build rules
// every glyph follows, and text drawn with it by libgd.
#include "opcgd.h"
#include "gdfont4x8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using image_ptr = gd_image_ptr;

// Glyphs written out a second time, apart from the font's own sheet, so that a
// slip in either shows up as a difference: rows 0 to 7, '#' ink.
const std::map<int, std::vector<std::string>> &tabled_glyphs() {
  static const std::map<int, std::vector<std::string>> table = {
      {48, {"###.", "#.#.", "#.#.", "#.#.", "#.#.", "#.#.", "###.", "...."}},
      {65, {".#..", "#.#.", "#.#.", "###.", "#.#.", "#.#.", "#.#.", "...."}},
      {68, {"##..", "#.#.", "#.#.", "#.#.", "#.#.", "#.#.", "##..", "...."}},
      {69, {"###.", "#...", "#...", "##..", "#...", "#...", "###.", "...."}},
      {72, {"#.#.", "#.#.", "#.#.", "###.", "#.#.", "#.#.", "#.#.", "...."}},
      {73, {"###.", ".#..", ".#..", ".#..", ".#..", ".#..", "###.", "...."}},
      {75, {"#.#.", "#.#.", "##..", "##..", "#.#.", "#.#.", "#.#.", "...."}},
      {76, {"#...", "#...", "#...", "#...", "#...", "#...", "###.", "...."}},
      {77, {"#.#.", "###.", "###.", "#.#.", "#.#.", "#.#.", "#.#.", "...."}},
      {78, {"##..", "#.#.", "#.#.", "#.#.", "#.#.", "#.#.", "#.#.", "...."}},
      {79, {".#..", "#.#.", "#.#.", "#.#.", "#.#.", "#.#.", ".#..", "...."}},
      {80, {"##..", "#.#.", "#.#.", "##..", "#...", "#...", "#...", "...."}},
      {82, {"##..", "#.#.", "#.#.", "##..", "#.#.", "#.#.", "#.#.", "...."}},
      {83, {".#..", "#.#.", "#...", ".#..", "..#.", "#.#.", ".#..", "...."}},
      {84, {"###.", ".#..", ".#..", ".#..", ".#..", ".#..", ".#..", "...."}},
      {85, {"#.#.", "#.#.", "#.#.", "#.#.", "#.#.", "#.#.", "###.", "...."}},
      {87, {"#.#.", "#.#.", "#.#.", "#.#.", "###.", "###.", "#.#.", "...."}},
      {97, {"....", "....", "##..", "..#.", ".##.", "#.#.", ".##.", "...."}},
      {103, {"....", "....", ".##.", "#.#.", "#.#.", ".##.", "..#.", "##.."}},
      {38, {".#..", "#.#.", "#.#.", ".#..", ".#.#", "#.#.", "###.", "..##"}},
      {95, {"....", "....", "....", "....", "....", "....", "....", "####"}},
      {127, {"....", "....", ".#..", ".#..", "#.#.", "#.#.", "###.", "...."}},
  };
  return table;
}

// Byte of the font for code c, row r, column k, read through the gdFont record
// the way libgd's gdImageChar reads it.
int font_byte(int c, int r, int k) {
  const gdFontPtr f = gdFontGet4x8();
  return f->data[(c - f->offset) * f->w * f->h + r * f->w + k];
}

bool ink(int c, int r, int k) { return font_byte(c, r, k) != 0; }

bool row_has_ink(int c, int r) {
  for (int k = 0; k < 4; ++k)
    if (ink(c, r, k))
      return true;
  return false;
}

bool column_has_ink(int c, int k, int first_row, int last_row) {
  for (int r = first_row; r <= last_row; ++r)
    if (ink(c, r, k))
      return true;
  return false;
}

std::string row_picture(int c, int r) {
  std::string s;
  for (int k = 0; k < 4; ++k)
    s += ink(c, r, k) ? '#' : '.';
  return s;
}

std::string glyph_name(int c) { return "code " + std::to_string(c) + " '" + std::string(1, char(c)) + "'"; }

bool is_upper(int c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool one_of(int c, const char *set) { return std::strchr(set, c) != nullptr; }

TEST(Font4x8, RecordDescribesNinetySixGlyphsOfFourByEight) {
  ASSERT_EQ(gdFontGet4x8(), gdFont4x8);
  ASSERT_EQ(gdFont4x8, &gdFont4x8Rep);
  EXPECT_EQ(gdFont4x8Rep.nchars, 96);
  EXPECT_EQ(gdFont4x8Rep.offset, 32);
  EXPECT_EQ(gdFont4x8Rep.w, 4);
  EXPECT_EQ(gdFont4x8Rep.h, 8);
  EXPECT_EQ(gdFont4x8Rep.data, gdFont4x8Data.data());
  EXPECT_EQ(sizeof(gdFont4x8Data), 3072u);
}

TEST(Font4x8, EveryByteIsZeroOrOneAndNineHundredEighteenAreInk) {
  int ones = 0;
  for (size_t i = 0; i < gdFont4x8Data.size(); ++i) {
    ASSERT_TRUE(gdFont4x8Data[i] == 0 || gdFont4x8Data[i] == 1) << "byte " << i;
    ones += gdFont4x8Data[i];
  }
  EXPECT_EQ(ones, 918);
}

TEST(Font4x8, TabledGlyphsMatchTheirSecondDrawing) {
  for (const auto &[c, rows] : tabled_glyphs())
    for (int r = 0; r < 8; ++r)
      EXPECT_EQ(row_picture(c, r), rows[size_t(r)]) << glyph_name(c) << " row " << r;
}

TEST(Font4x8, SpaceIsEmptyAndEveryOtherGlyphHasInk) {
  for (int r = 0; r < 8; ++r)
    EXPECT_FALSE(row_has_ink(' ', r)) << "row " << r;
  for (int c = 33; c < 128; ++c) {
    bool any = false;
    for (int r = 0; r < 8; ++r)
      any = any || row_has_ink(c, r);
    EXPECT_TRUE(any) << glyph_name(c);
  }
}

TEST(Font4x8, ColumnThreeIsBlankButForAmpersandUnderscoreAndTilde) {
  for (int c = 32; c < 128; ++c)
    for (int r = 0; r < 8; ++r) {
      const bool allowed = (c == '&' && (r == 4 || r == 7)) || (c == '_' && r == 7) || (c == '~' && r == 0);
      if (allowed)
        EXPECT_TRUE(ink(c, r, 3)) << glyph_name(c) << " row " << r;
      else
        EXPECT_FALSE(ink(c, r, 3)) << glyph_name(c) << " row " << r;
    }
}

TEST(Font4x8, RowSevenHoldsOnlyDescendersUnderscoreAndAmpersand) {
  for (int c = 32; c < 128; ++c) {
    if (one_of(c, ",;Qgjpqy_&"))
      EXPECT_TRUE(row_has_ink(c, 7)) << glyph_name(c) << " must reach into row 7";
    else
      EXPECT_FALSE(row_has_ink(c, 7)) << glyph_name(c);
  }
  EXPECT_EQ(row_picture('_', 7), "####");
  for (int r = 0; r < 7; ++r)
    EXPECT_FALSE(row_has_ink('_', r)) << "underscore row " << r;
}

TEST(Font4x8, CapitalsAndDigitsAreThreeWideAndSevenTall) {
  for (int c = 32; c < 128; ++c) {
    if (!is_upper(c) && !is_digit(c))
      continue;
    EXPECT_TRUE(row_has_ink(c, 0)) << glyph_name(c);
    EXPECT_TRUE(row_has_ink(c, 6)) << glyph_name(c);
    EXPECT_TRUE(column_has_ink(c, 0, 0, 6)) << glyph_name(c);
    EXPECT_TRUE(column_has_ink(c, 2, 0, 6)) << glyph_name(c);
  }
}

TEST(Font4x8, RoundCapitalsHaveSingleCentrePixelTopAndBottom) {
  for (const char c : std::string("OCGQS")) {
    EXPECT_EQ(row_picture(c, 0), ".#..") << glyph_name(c);
    EXPECT_EQ(row_picture(c, 6), ".#..") << glyph_name(c);
  }
}

TEST(Font4x8, LowerCaseSitsInRowsTwoToSixWithAscendersDotsAndTheStemOfT) {
  for (int c = 'a'; c <= 'z'; ++c) {
    EXPECT_TRUE(row_has_ink(c, 2)) << glyph_name(c);
    EXPECT_TRUE(row_has_ink(c, 6)) << glyph_name(c);
    if (one_of(c, "bdfhkl")) {
      EXPECT_TRUE(row_has_ink(c, 0)) << glyph_name(c) << " ascender";
      EXPECT_TRUE(row_has_ink(c, 1)) << glyph_name(c) << " ascender";
    } else if (one_of(c, "ij")) {
      EXPECT_TRUE(row_has_ink(c, 0)) << glyph_name(c) << " dot";
      EXPECT_FALSE(row_has_ink(c, 1)) << glyph_name(c) << " gap under the dot";
    } else if (c == 't') {
      EXPECT_FALSE(row_has_ink(c, 0)) << glyph_name(c);
      EXPECT_TRUE(row_has_ink(c, 1)) << glyph_name(c) << " stem";
    } else {
      EXPECT_FALSE(row_has_ink(c, 0)) << glyph_name(c);
      EXPECT_FALSE(row_has_ink(c, 1)) << glyph_name(c);
    }
  }
}

// Seven characters at x = 2 end at column 28, column 29
// blank. Every pixel is compared against the table typed above, so this also
// pins the 4-pixel advance and that background pixels are left alone.
TEST(Font4x8, StringSetsOnlyInkPixelsAtFourPixelAdvance) {
  const image_ptr im(gdImageCreateTrueColor(40, 16));
  const int background = gdTrueColor(0, 0, 90);
  const int colour = gdTrueColor(255, 200, 0);
  gdImageFilledRectangle(im.get(), 0, 0, 39, 15, background);
  const std::string text = "LEDWALL";
  const int x0 = 2, y0 = 5;
  gdImageString(im.get(), gdFontGet4x8(), x0, y0, reinterpret_cast<unsigned char *>(const_cast<char *>(text.c_str())),
                colour);

  int rightmost_ink = -1;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 40; ++x) {
      bool expected = false;
      const int i = (x - x0) / 4, k = (x - x0) % 4, r = y - y0;
      if (x >= x0 && i < int(text.size()) && r >= 0 && r < 8)
        expected = tabled_glyphs().at(text[size_t(i)])[size_t(r)][size_t(k)] == '#';
      const int got = gdImageGetTrueColorPixel(im.get(), x, y);
      EXPECT_EQ(got, expected ? colour : background) << "pixel (" << x << ", " << y << ")";
      if (got == colour && x > rightmost_ink)
        rightmost_ink = x;
    }
  EXPECT_EQ(rightmost_ink, 28);
  for (int y = 0; y < 16; ++y)
    EXPECT_EQ(gdImageGetTrueColorPixel(im.get(), 29, y), background) << "column 29, row " << y;
}

TEST(Font4x8, CodesOutsideTheFontDrawNothingButStillAdvance) {
  const image_ptr im(gdImageCreateTrueColor(16, 8));
  const int colour = gdTrueColor(255, 255, 255);
  unsigned char text[] = {'L', 200, 'L', 0};
  gdImageString(im.get(), gdFontGet4x8(), 0, 0, text, colour);
  gdImageChar(im.get(), gdFontGet4x8(), 12, 0, 31, colour);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool l_at_0 = x < 4 && tabled_glyphs().at('L')[size_t(y)][size_t(x)] == '#';
      const bool l_at_8 = x >= 8 && x < 12 && tabled_glyphs().at('L')[size_t(y)][size_t(x - 8)] == '#';
      EXPECT_EQ(gdImageGetTrueColorPixel(im.get(), x, y), (l_at_0 || l_at_8) ? colour : 0)
          << "pixel (" << x << ", " << y << ")";
    }
}

TEST(Font4x8, CharDrawsTheGlyphAtItsCell) {
  const image_ptr im(gdImageCreate(8, 10));
  gdImageColorAllocate(im.get(), 0, 0, 0);
  const int ink_index = gdImageColorAllocate(im.get(), 255, 255, 255);
  gdImageChar(im.get(), gdFontGet4x8(), 3, 1, 'g', ink_index);
  const auto &g = tabled_glyphs().at('g');
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool expected = x >= 3 && x < 7 && y >= 1 && y < 9 && g[size_t(y - 1)][size_t(x - 3)] == '#';
      EXPECT_EQ(gdImageGetPixel(im.get(), x, y), expected ? ink_index : 0) << "pixel (" << x << ", " << y << ")";
    }
}

} // namespace
