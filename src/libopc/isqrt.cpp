#include "opcgd.h"

// Bit by bit, two result bits per step: at most 16 steps, integers only.
u32 isqrt(u32 x) {
  u32 op = x;
  u32 res = 0;
  u32 one = u32(1) << 30;
  while (one > op)
    one >>= 2;
  while (one != 0) {
    if (op >= res + one) {
      op -= res + one;
      res += 2 * one;
    }
    res >>= 1;
    one >>= 2;
  }
  return res;
}
