// Writing a libgd image as a PNG file of an exact format, through libpng.
//
// libgd's own writer picks the bit depth and colour type itself (a two-colour
// palette comes out 1 bit deep, for instance); the show's assets need exact
// formats, so the asset generator writes them here. Output is
// non-interlaced and deterministic: the same image and options give the same
// bytes (no time chunk, fixed compression settings).
#pragma once

#include <gd.h>

#include <string>
#include <utility>
#include <vector>

enum png_write_format {
  png_write_rgb8,      // colour type 2, 8 bits: each pixel's red, green, blue
  png_write_rgba8,     // colour type 6, 8 bits: alpha from libgd's 0..127 (0 opaque)
  png_write_palette8,  // colour type 3, 8 bits per index
  png_write_palette4,  // colour type 3, 4 bits per index (at most 16 colours)
};

struct png_write_options_s {
  png_write_format format = png_write_rgb8;
  bool trns_black = false; // RGB only: a tRNS chunk marking pure black (0,0,0) transparent
  bool phys = false;       // pHYs: 2835 pixels per metre (72 dpi) both ways
  bool srgb = false;       // sRGB chunk, perceptual intent
  bool bkgd = false;       // bKGD: palette index 0 for palette images, black otherwise
  std::vector<std::pair<std::string, std::string>> text; // tEXt chunks, key and value
};

// Palette formats write exactly the image's palette (gdImageColorsTotal
// entries, in order) and its pixel indices; they need a palette image. The
// RGB formats accept any image. Returns false after printing a message to
// stderr if the image does not fit the format or the file cannot be written.
bool png_write_file(const char *path, gdImagePtr im, const png_write_options_s &options);

// libgd's alpha (0 opaque .. 127 transparent) as PNG alpha (255 .. 0), rounded
// to the nearest step: 0 -> 255, 127 -> 0.
constexpr int png_alpha_from_gd(int gd_alpha) { return 255 - (gd_alpha * 255 + 63) / 127; }
