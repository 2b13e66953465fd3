#include "hsv.h"

namespace {

// Products are formed in double precision and truncated toward zero; only the
// low 8 bits are kept, as the channel is stored in a byte.
u32 channel(double value) { return u32(int(value)) & 0xff; }

} // namespace

u32 hsv_to_rgb(const hsv_t *hsv) {
  const double v = hsv->v;
  const u32 V = channel(v * 255);
  if (hsv->s == 0.0f)
    return V << 16 | V << 8 | V;

  const int i = int(double(hsv->h) * 6);
  const float f = hsv->h * 6.0f - float(i);
  const double s = hsv->s;
  const u32 p = channel(v * (1 - s) * 255);
  const u32 q = channel(v * (1 - double(hsv->s * f)) * 255);
  const u32 t = channel(v * (1 - s * (1 - double(f))) * 255);

  u32 r, g, b;
  switch (i % 6) {
  case 0: r = V, g = t, b = p; break;
  case 1: r = q, g = V, b = p; break;
  case 2: r = p, g = V, b = t; break;
  case 3: r = p, g = q, b = V; break;
  case 4: r = t, g = p, b = V; break;
  default: r = V, g = p, b = q; break;
  }
  return r << 16 | g << 8 | b;
}
