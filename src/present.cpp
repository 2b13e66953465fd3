#include "present.h"

#include "gdfont4x8.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "show_timeline.h"
#include "title_zoom.h"
#include "wait_until.h"

#include <cmath>
#include <numbers>

namespace {

constexpr int WHEAT = 0xF5DEB3;
constexpr int TEXT_W = 28, TEXT_H = 8;      // "PRESENT" in 4x8 cells
constexpr int DIP = MATRIX_HEIGHT - TEXT_H; // how far the word sinks: onto the bottom row

} // namespace

void present_draw(opc_sink s) {
  const gdImagePtr title = vorn_zoom_frame(); // the title's normalised canvas, only read
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  const gd_image_ptr text(gdImageCreateTrueColor(TEXT_W, TEXT_H));
  gdImageString(text.get(), gdFontGet4x8(), 0, 0,
                reinterpret_cast<unsigned char *>(const_cast<char *>("PRESENT")), WHEAT);
  gdImageColorTransparent(text.get(), 0); // the picture shows around the letters

  const wait_until_ptr clock(wait_until_init());
  wait_until_ms(clock.get(), 40);
  // The word dips to the bottom row and back up over the scene's frames.
  for (int i = 0; i < PRESENT_FRAMES; ++i) {
    const int k = i < PRESENT_FRAMES / 2 ? i : PRESENT_FRAMES - i;
    const float w = std::cos(float(k * std::numbers::pi / PRESENT_FRAMES));
    gdImageCopy(frame.get(), title, 0, 0, 0, 0, MATRIX_WIDTH, MATRIX_HEIGHT);
    gdImageCopy(frame.get(), text.get(), MATRIX_WIDTH - i, DIP - int(DIP * w), 0, 0, TEXT_W, TEXT_H);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }
}
