#include "hsv.h"

#include <algorithm>

void rgb_to_hsv(hsv_t *hsv, u32 rgb) {
  const float r = float((rgb >> 16) & 0xff) / 255.0f;
  const float g = float((rgb >> 8) & 0xff) / 255.0f;
  const float b = float(rgb & 0xff) / 255.0f;
  const float max = std::max({r, g, b});
  const float min = std::min({r, g, b});
  const float delta = max - min;

  hsv->v = max;
  if (max == 0.0f) {
    hsv->h = 0.0f;
    hsv->s = 0.0f;
    return;
  }
  hsv->s = delta / max;
  if (delta == 0.0f) {
    hsv->h = 0.0f;
    return;
  }
  float sixths;
  if (r == max)
    sixths = (g - b) / delta;
  else if (g == max)
    sixths = (b - r) / delta + 2.0f;
  else
    sixths = (r - g) / delta + 4.0f;
  hsv->h = sixths / 6.0f;
  if (hsv->h < 0.0f)
    hsv->h += 1.0f;
}
