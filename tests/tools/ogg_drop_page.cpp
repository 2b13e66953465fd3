// Copies an Ogg stream page by page and leaves one page out, which gives a
// stream with a hole in its data for the player's decoding-error path:
//
//   ogg_drop_page IN.ogg OUT.ogg FRAME
//
// The page left out is the first one whose granule position (for Vorbis: the
// sample frames decoded by the end of the page) reaches FRAME. Only the page
// layer is touched (libogg), so the pages before and after stay intact and
// the decoder meets the gap exactly there.
#include <ogg/ogg.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool write_page(std::FILE *out, const ogg_page &page) {
  return std::fwrite(page.header, 1, size_t(page.header_len), out) == size_t(page.header_len) &&
         std::fwrite(page.body, 1, size_t(page.body_len), out) == size_t(page.body_len);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s IN.ogg OUT.ogg FRAME\n", argv[0]);
    return 2;
  }
  const long long frame = std::atoll(argv[3]);
  std::FILE *in = std::fopen(argv[1], "rb");
  if (!in) {
    std::perror(argv[1]);
    return 1;
  }
  std::FILE *out = std::fopen(argv[2], "wb");
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }

  ogg_sync_state sync;
  ogg_sync_init(&sync);
  bool dropped = false, ok = true;
  for (;;) {
    char *buffer = ogg_sync_buffer(&sync, 4096);
    const size_t n = std::fread(buffer, 1, 4096, in);
    ogg_sync_wrote(&sync, long(n));
    ogg_page page;
    while (ok && ogg_sync_pageout(&sync, &page) == 1) {
      if (!dropped && ogg_page_granulepos(&page) >= frame) {
        dropped = true;
        continue;
      }
      ok = write_page(out, page);
    }
    if (n == 0 || !ok)
      break;
  }
  ogg_sync_clear(&sync);
  std::fclose(in);
  if (std::fclose(out) != 0 || !ok) {
    std::perror(argv[2]);
    return 1;
  }
  if (!dropped) {
    std::fprintf(stderr, "%s: no page reaches frame %lld\n", argv[1], frame);
    return 1;
  }
  return 0;
}
