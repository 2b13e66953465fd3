// Decodes the linked-in soundtrack from start to end as the player does, in
// blocks of the player's size, with no device: the decoding part of the
// show's audio work, to be measured from outside (e.g. under /usr/bin/time).
#include "alsaplay.h"
#include "assets.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <cstdio>

int main() {
  OggVorbis_File vf{};
  if (const int result = ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf); result != 0) {
    std::fprintf(stderr, "decode_only: the soundtrack did not open (%d)\n", result);
    return 1;
  }
  static char block[ALSAPLAY_BLOCK_BYTES];
  long long bytes = 0;
  for (;;) {
    const long n = ov_read(&vf, block, int(sizeof block), nullptr);
    if (n == 0)
      break;
    if (n < 0) {
      std::fprintf(stderr, "decode_only: the stream has a hole after %lld bytes (%ld)\n", bytes, n);
      ov_clear(&vf);
      return 1;
    }
    bytes += n;
  }
  const vorbis_info *info = ov_info(&vf, -1);
  const double seconds = double(bytes) / (2.0 * info->channels * double(info->rate)); // 16-bit samples
  std::printf("decoded %lld bytes: %.1f s of sound\n", bytes, seconds);
  ov_clear(&vf);
  return 0;
}
