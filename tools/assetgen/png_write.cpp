#include "png_write.h"

#include "assetgen_output.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>

namespace {

static_assert(png_alpha_from_gd(0) == 255 && png_alpha_from_gd(127) == 0, "alpha ends map to ends");
static_assert(png_alpha_from_gd(1) == 253 && png_alpha_from_gd(64) == 126, "alpha rounds to nearest");

bool format_is_palette(png_write_format f) { return f == png_write_palette8 || f == png_write_palette4; }

// Checks what libpng would otherwise reject or silently change.
bool image_fits(const char *path, gdImagePtr im, const png_write_options_s &o) {
  if (format_is_palette(o.format)) {
    if (gdImageTrueColor(im)) {
      std::fprintf(stderr, "%s: a palette format needs a palette image\n", path);
      return false;
    }
    const int colours = gdImageColorsTotal(im);
    const int limit = o.format == png_write_palette4 ? 16 : 256;
    if (colours < 1 || colours > limit) {
      std::fprintf(stderr, "%s: %d palette entries do not fit %d\n", path, colours, limit);
      return false;
    }
    for (int y = 0; y < gdImageSY(im); ++y)
      for (int x = 0; x < gdImageSX(im); ++x)
        if (gdImagePalettePixel(im, x, y) >= colours) {
          std::fprintf(stderr, "%s: pixel (%d, %d) uses an index past the palette\n", path, x, y);
          return false;
        }
  }
  if (o.trns_black && o.format != png_write_rgb8) {
    std::fprintf(stderr, "%s: tRNS black is for RGB images only\n", path);
    return false;
  }
  return true;
}

// One row of output bytes for row y.
void fill_row(gdImagePtr im, png_write_format f, int y, png_byte *row, std::size_t bytes) {
  const int w = gdImageSX(im);
  switch (f) {
  case png_write_rgb8:
    for (int x = 0; x < w; ++x) {
      const int c = gdImageGetTrueColorPixel(im, x, y);
      row[3 * x] = png_byte(gdTrueColorGetRed(c));
      row[3 * x + 1] = png_byte(gdTrueColorGetGreen(c));
      row[3 * x + 2] = png_byte(gdTrueColorGetBlue(c));
    }
    break;
  case png_write_rgba8:
    for (int x = 0; x < w; ++x) {
      const int c = gdImageGetTrueColorPixel(im, x, y);
      row[4 * x] = png_byte(gdTrueColorGetRed(c));
      row[4 * x + 1] = png_byte(gdTrueColorGetGreen(c));
      row[4 * x + 2] = png_byte(gdTrueColorGetBlue(c));
      row[4 * x + 3] = png_byte(png_alpha_from_gd(gdTrueColorGetAlpha(c)));
    }
    break;
  case png_write_palette8:
    for (int x = 0; x < w; ++x)
      row[x] = png_byte(gdImagePalettePixel(im, x, y));
    break;
  case png_write_palette4:
    // Two pixels a byte, the left one in the high nibble (PNG's bit order).
    std::fill(row, row + bytes, png_byte(0));
    for (int x = 0; x < w; ++x)
      row[x / 2] = png_byte(row[x / 2] | gdImagePalettePixel(im, x, y) << (x % 2 == 0 ? 4 : 0));
    break;
  }
}

std::size_t row_bytes(png_write_format f, int w) {
  switch (f) {
  case png_write_rgb8: return std::size_t(3 * w);
  case png_write_rgba8: return std::size_t(4 * w);
  case png_write_palette8: return std::size_t(w);
  case png_write_palette4: return std::size_t((w + 1) / 2);
  }
  return 0;
}

// Everything libpng needs, made by the caller. The function that calls
// setjmp holds no C++ objects: a libpng error longjmps back into it, and
// objects with destructors or changed since setjmp do not survive that.
struct png_job_s {
  std::FILE *file;
  gdImagePtr im;
  png_write_format format;
  const png_write_options_s *options;
  png_byte *row;
  std::size_t row_size;
  png_color *palette;
  int palette_size;
  png_text *texts;
  int text_count;
};

bool run_libpng(const png_job_s &job) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png)
    return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, job.file);
  png_set_compression_level(png, 9);
  const png_write_options_s &o = *job.options;
  const bool palette = format_is_palette(job.format);
  png_set_IHDR(png, info, png_uint_32(gdImageSX(job.im)), png_uint_32(gdImageSY(job.im)),
               job.format == png_write_palette4 ? 4 : 8,
               palette ? PNG_COLOR_TYPE_PALETTE
                       : (job.format == png_write_rgba8 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB),
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (palette)
    png_set_PLTE(png, info, job.palette, job.palette_size);
  if (o.srgb)
    png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
  png_color_16 black{}; // also palette index 0 for bKGD
  if (o.trns_black)
    png_set_tRNS(png, info, nullptr, 0, &black);
  if (o.bkgd)
    png_set_bKGD(png, info, &black);
  if (o.phys)
    png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);
  if (job.text_count > 0)
    png_set_text(png, info, job.texts, job.text_count);
  png_write_info(png, info);
  for (int y = 0; y < gdImageSY(job.im); ++y) {
    fill_row(job.im, job.format, y, job.row, job.row_size);
    png_write_row(png, job.row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

} // namespace

bool png_write_file(const char *path, gdImagePtr im, const png_write_options_s &o) {
  if (!image_fits(path, im, o))
    return false;
  const output_file file = open_output(path);
  if (!file)
    return false;
  std::vector<png_byte> row(row_bytes(o.format, gdImageSX(im)));
  std::vector<png_color> palette;
  if (format_is_palette(o.format))
    for (int i = 0; i < gdImageColorsTotal(im); ++i)
      palette.push_back({png_byte(gdImageRed(im, i)), png_byte(gdImageGreen(im, i)), png_byte(gdImageBlue(im, i))});
  std::vector<png_text> texts;
  for (const auto &[key, value] : o.text) {
    png_text t{};
    t.compression = PNG_TEXT_COMPRESSION_NONE;
    t.key = const_cast<char *>(key.c_str());
    t.text = const_cast<char *>(value.c_str());
    texts.push_back(t);
  }
  const png_job_s job{file.get(), im,          o.format,          &o,           row.data(), row.size(),
                      palette.data(), int(palette.size()), texts.data(), int(texts.size())};
  if (!run_libpng(job)) {
    std::fprintf(stderr, "%s: libpng failed to write\n", path);
    return false;
  }
  if (std::fflush(file.get()) != 0) {
    std::perror(path);
    return false;
  }
  return true;
}
