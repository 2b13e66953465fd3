#include "thank_slide.h"

#include "gdfont4x8.h"
#include "opcgd.h"
#include "wait_until.h"

#include <cstring>

namespace {

constexpr int WHEAT = 0xF5DEB3;
constexpr int TALL = 80;
const char *const WORDS[] = {"WOULD", "LIKE", "TO", "THANK", "HIS", "MINIONS"};

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
  for (int k = 0; k < TALL - 16; ++k) {
    gdImageCopy(frame, text, 0, 0, 0, k, 32, 16);
    wait_until_timeout(clock);
    opc_put_gd_image_32x16z(s, frame);
  }
  wait_until_done(clock);
  gdImageDestroy(text);
  gdImageDestroy(frame);
}
