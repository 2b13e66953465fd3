#include "block_average.h"

#include "opcgd.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr int MAX_BLOCK = 8; // o x o pixels must fit the 64 bits of a mask

// A block of one or two opaque colours: `first` is its top-left pixel's
// colour, `second` the other one (or `first` again), and bit y * o + x of
// `mask` is set where pixel (x, y) has `second`.
struct block_key {
  std::uint64_t mask;
  int first, second;
  int o;
  bool operator==(const block_key &) const = default;
};

struct remembered {
  block_key key;
  int average;
  bool used;
};

// Open addressing with linear probing; starting afresh at three quarters
// full keeps the probes short. The ellipses scene meets about 4,000 distinct
// blocks in its 30 seconds.
constexpr std::size_t SLOTS = 8192;
constexpr std::size_t FILL_LIMIT = SLOTS / 4 * 3;
std::array<remembered, SLOTS> memory;
std::size_t filled = 0;

bool opaque(int colour) { return gdTrueColorGetAlpha(colour) == 0; }

// The key of the block whose top-left work pixel is (x0, y0); false if the
// block has a colour that is not opaque or more than two colours.
bool key_of(gdImagePtr work, int x0, int y0, int o, block_key *key) {
  const int first = work->tpixels[y0][x0];
  if (!opaque(first))
    return false;
  int second = first;
  std::uint64_t mask = 0;
  std::uint64_t bit = 1;
  for (int y = y0; y < y0 + o; ++y) {
    const int *row = work->tpixels[y];
    for (int x = x0; x < x0 + o; ++x, bit <<= 1) {
      const int c = row[x];
      if (c == first)
        continue;
      if (second == first) {
        if (!opaque(c))
          return false;
        second = c;
      } else if (c != second) {
        return false;
      }
      mask |= bit;
    }
  }
  *key = block_key{mask, first, second, o};
  return true;
}

std::size_t slot_of(const block_key &key) {
  // splitmix64's finaliser over the key's fields
  std::uint64_t h = key.mask ^ (std::uint64_t(std::uint32_t(key.first)) << 32) ^ std::uint32_t(key.second) ^
                    (std::uint64_t(key.o) << 58);
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9u;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBu;
  return std::size_t(h ^ (h >> 31)) % SLOTS;
}

// libgd's average of the block at (x0, y0), made on a 1x1 image of its own so
// that nothing of the target (its blending, its clipping) enters the result.
// The image lives as long as the process and is never destroyed: an owner
// would be destroyed by exit(), which a fatal error on the audio thread calls
// while the show's thread may still be averaging.
int average_of(gdImagePtr work, int x0, int y0, int o) {
  static const gdImagePtr pixel = [] {
    const gdImagePtr im = gdImageCreateTrueColor(1, 1);
    gdImageAlphaBlending(im, 0);
    return im;
  }();
  gdImageCopyResampled(pixel, work, 0, 0, x0, y0, 1, 1, o, o);
  return pixel->tpixels[0][0];
}

int remembered_average(gdImagePtr work, int x0, int y0, const block_key &key) {
  std::size_t slot = slot_of(key);
  for (; memory[slot].used; slot = (slot + 1) % SLOTS)
    if (memory[slot].key == key)
      return memory[slot].average;
  if (filled == FILL_LIMIT) {
    memory.fill(remembered{});
    filled = 0;
    slot = slot_of(key);
  }
  const int average = average_of(work, x0, y0, key.o);
  memory[slot] = remembered{key, average, true};
  ++filled;
  return average;
}

} // namespace

void block_average_reduce(gdImagePtr target, gdImagePtr work) {
  const int tw = gdImageSX(target), th = gdImageSY(target);
  const int ww = gdImageSX(work), wh = gdImageSY(work);
  const int o = ww / tw;
  if (!target->trueColor || !work->trueColor || o < 1 || o > MAX_BLOCK || ww != o * tw || wh != o * th) {
    gdImageCopyResampled(target, work, 0, 0, 0, 0, tw, th, ww, wh);
    return;
  }
  // Target pixel (x, y) averages work pixels (o x .. o x + o - 1, o y .. o y + o - 1)
  // with weight 1 each, whether the call covers the whole image or that pixel
  // alone; the result of an all-opaque block is opaque and is stored as it is.
  for (int y = 0; y < th; ++y)
    for (int x = 0; x < tw; ++x) {
      block_key key;
      if (key_of(work, o * x, o * y, o, &key))
        gdImageSetPixel(target, x, y, remembered_average(work, o * x, o * y, key));
      else
        gdImageCopyResampled(target, work, x, y, o * x, o * y, 1, 1, o, o);
    }
}
