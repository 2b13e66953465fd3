#include "thank_slide.h"

#include "gdfont4x8.h"
#include "matrix_wiring.h"
#include "opcgd.h"
#include "show_timeline.h"
#include "wait_until.h"

#include <cstring>
#include <iterator>

namespace {

constexpr int WHEAT = 0xF5DEB3;
constexpr const char *WORDS[] = {"WOULD", "LIKE", "TO", "THANK", "HIS", "MINIONS"};
// The words one per 8-pixel line between a wall's height of black above and
// below: the crawl goes from black, the first word about to enter, to black,
// the last one gone, one row per frame.
constexpr int LINE_H = 8; // the font's cell height
constexpr int TALL = MATRIX_HEIGHT + LINE_H * int(std::size(WORDS)) + MATRIX_HEIGHT;
static_assert(TALL - MATRIX_HEIGHT == THANK_YOU_FRAMES);

} // namespace

void thank_slide(opc_sink s) {
  const wait_until_ptr clock(wait_until_init());
  const gd_image_ptr text(gdImageCreateTrueColor(MATRIX_WIDTH, TALL));
  const gd_image_ptr frame(gdImageCreateTrueColor(MATRIX_WIDTH, MATRIX_HEIGHT));
  // One word per line below the first wall's height of black, each centred
  // by its 4-pixel cells.
  int top = MATRIX_HEIGHT;
  for (const char *word : WORDS) {
    const int x = (MATRIX_WIDTH - 4 * int(std::strlen(word))) / 2;
    gdImageString(text.get(), gdFontGet4x8(), x, top, reinterpret_cast<unsigned char *>(const_cast<char *>(word)),
                  WHEAT);
    top += LINE_H;
  }

  wait_until_ms(clock.get(), 40);
  for (int k = 0; k < THANK_YOU_FRAMES; ++k) {
    gdImageCopy(frame.get(), text.get(), 0, 0, 0, k, MATRIX_WIDTH, MATRIX_HEIGHT);
    wait_until_timeout(clock.get());
    opc_put_gd_image_32x16z(s, frame.get());
  }
}
