#include "opcgd.h"

#include "matrix_wiring.h"

#include <cstddef>
#include <cstdio>
#include <memory>

namespace {

// Image pixel (x, y)'s entry in the wiring table.
constexpr std::size_t at(int x, int y) { return std::size_t(MATRIX_WIDTH * y + x); }
constexpr int RIGHT = MATRIX_WIDTH - 1, BOTTOM = MATRIX_HEIGHT - 1;

static_assert(tlm_32x16z[at(0, 0)] == 0 && tlm_32x16z[at(7, 0)] == 7 && tlm_32x16z[at(8, 0)] == 64);
static_assert(tlm_32x16z[at(0, 1)] == 15 && tlm_32x16z[at(7, 1)] == 8);
static_assert(tlm_32x16z[at(RIGHT, 7)] == 248 && tlm_32x16z[at(0, 8)] == 256);
static_assert(tlm_32x16z[at(RIGHT, BOTTOM)] == 504);

// Rewritten completely by every frame; the wiring is a permutation.
pixel pixels[MATRIX_LEDS];
static_assert(sizeof pixels == MATRIX_FRAME_BYTES, "one frame goes out as the wall's bytes, nothing between");

} // namespace

u8 opc_put_gd_image_32x16z(opc_sink s, gdImagePtr im) {
  if (gdImageSX(im) != MATRIX_WIDTH || gdImageSY(im) != MATRIX_HEIGHT) {
    gd_image_ptr scaled(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
    // Only a failed allocation gets here; the frame is dropped like one the
    // server did not take, and the next frame tries again.
    if (!scaled) {
      std::fprintf(stderr, "OPC: Cannot create the 32x16 scaling image\n");
      return 0;
    }
    gdImageCopyResampled(scaled.get(), im, 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT, gdImageSX(im), gdImageSY(im));
    return opc_put_gd_image_32x16z(s, scaled.get());
  }

  for (int p = 0; p < MATRIX_LEDS; ++p) {
    // gdImageRed and friends take a true-colour value apart, or look a palette
    // index up in the palette; the alpha bits play no part either way.
    const int colour = gdImageGetPixel(im, p % MATRIX_WIDTH, p / MATRIX_WIDTH);
    pixel &led = pixels[tlm_32x16z[size_t(p)]];
    led.r = u8(gdImageRed(im, colour));
    led.g = u8(gdImageGreen(im, colour));
    led.b = u8(gdImageBlue(im, colour));
  }
  return opc_put_pixels(s, 0, MATRIX_LEDS, pixels);
}
