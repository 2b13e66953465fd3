#include "present.h"

#include "gdfont4x8.h"
#include "opcgd.h"
#include "show_timeline.h"
#include "title_zoom.h"
#include "wait_until.h"

#include <cmath>
#include <numbers>

namespace {

constexpr int WHEAT = 0xF5DEB3;

} // namespace

void present_draw(opc_sink s) {
  const gdImagePtr title = vorn_zoom_frame(); // the title's normalised canvas, only read
  const gdImagePtr frame = gdImageCreateTrueColor(32, 16);
  const gdImagePtr text = gdImageCreateTrueColor(28, 8);
  gdImageString(text, gdFontGet4x8(), 0, 0, reinterpret_cast<unsigned char *>(const_cast<char *>("PRESENT")),
                WHEAT);
  gdImageColorTransparent(text, 0); // the picture shows around the letters

  const wait_until_t clock = wait_until_init();
  wait_until_ms(clock, 40);
  // The word dips to the bottom row and back up over the scene's frames.
  for (int i = 0; i < PRESENT_FRAMES; ++i) {
    const int k = i < PRESENT_FRAMES / 2 ? i : PRESENT_FRAMES - i;
    const float w = std::cos(float(k * std::numbers::pi / PRESENT_FRAMES));
    gdImageCopy(frame, title, 0, 0, 0, 0, 32, 16);
    gdImageCopy(frame, text, 32 - i, 8 - int(8 * w), 0, 0, 28, 8);
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, frame);
  }
  gdImageDestroy(text);
  gdImageDestroy(frame);
  wait_until_done(clock);
}
