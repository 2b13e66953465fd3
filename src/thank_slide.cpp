#include "thank_slide.h"

#include "gdfont4x8.h"
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
constexpr int TALL = 16 + 8 * int(std::size(WORDS)) + 16;
static_assert(TALL - 16 == THANK_YOU_FRAMES);

} // namespace

void thank_slide(opc_sink s) {
  const wait_until_t clock = wait_until_init();
  const gdImagePtr text = gdImageCreateTrueColor(32, TALL);
  const gdImagePtr frame = gdImageCreateTrueColor(32, 16);
  // One word per line from row 16, each centred by its 4-pixel cells.
  int top = 16;
  for (const char *word : WORDS) {
    const int x = (32 - 4 * int(std::strlen(word))) / 2;
    gdImageString(text, gdFontGet4x8(), x, top, reinterpret_cast<unsigned char *>(const_cast<char *>(word)), WHEAT);
    top += 8;
  }

  wait_until_ms(clock, 40);
  for (int k = 0; k < THANK_YOU_FRAMES; ++k) {
    gdImageCopy(frame, text, 0, 0, 0, k, 32, 16);
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, frame);
  }
  wait_until_done(clock);
  gdImageDestroy(text);
  gdImageDestroy(frame);
}
