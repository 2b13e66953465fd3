#include "show_frames.h"

#include "gdfont4x8.h"
#include "matrix_wiring.h"
#include "opcgd.h"

#include <algorithm>

bool is_black(const show_frame &frame) {
  return std::all_of(frame.begin(), frame.end(), [](u8 v) { return v == 0; });
}

show_frame in_image_order(const std::vector<u8> &leds) {
  show_frame out{};
  for (std::size_t p = 0; p < MATRIX_LEDS; ++p)
    for (std::size_t c = 0; c < 3; ++c)
      out[3 * p + c] = leds[3 * tlm_32x16z[p] + c];
  return out;
}

std::vector<u8> in_led_order(const show_frame &picture) {
  std::vector<u8> leds(picture.size());
  for (std::size_t p = 0; p < MATRIX_LEDS; ++p)
    for (std::size_t c = 0; c < 3; ++c)
      leds[3 * tlm_32x16z[p] + c] = picture[3 * p + c];
  return leds;
}

show_frame thank_you_entering_frame() {
  gd_image_ptr word(gdImageCreateTrueColor(32, 8));
  gdImageString(word.get(), gdFontGet4x8(), 6, 0, reinterpret_cast<unsigned char *>(const_cast<char *>("WOULD")),
                0xF5DEB3);
  show_frame out{};
  for (int x = 0; x < 32; ++x)
    if (gdImageGetPixel(word.get(), x, 0)) {
      const size_t at = size_t(3 * (32 * 15 + x));
      out[at] = 0xF5, out[at + 1] = 0xDE, out[at + 2] = 0xB3;
    }
  return out;
}
