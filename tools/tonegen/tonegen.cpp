// Writes an Ogg Vorbis stream of known tones, for the audio tests:
//
//   tonegen OUT.ogg CHANNELS RATE FRAMES
//
// Left (and mono) is a 440 Hz sine, right a 660 Hz sine, both at half scale.
// This program links the reference encoder; everything that plays or checks a
// stream uses the integer decoder, which exports the same symbol names, so the
// two are never linked into one executable.
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace {

void write_page(std::FILE *out, const ogg_page &page) {
  std::fwrite(page.header, 1, size_t(page.header_len), out);
  std::fwrite(page.body, 1, size_t(page.body_len), out);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s OUT.ogg CHANNELS RATE FRAMES\n", argv[0]);
    return 2;
  }
  const int channels = std::atoi(argv[2]);
  const long rate = std::atol(argv[3]);
  const long frames = std::atol(argv[4]);
  std::FILE *out = std::fopen(argv[1], "wb");
  if (!out || channels < 1 || channels > 2 || rate <= 0 || frames < 0) {
    std::perror(argv[1]);
    return 1;
  }

  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, channels, rate, 0.4f) != 0) {
    std::fprintf(stderr, "tonegen: encoder set-up failed\n");
    return 1;
  }
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_comment_add_tag(&comment, "TITLE", "test tones");
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 20261208); // fixed serial: the same bytes every run

  ogg_packet header, header_comment, header_code;
  vorbis_analysis_headerout(&dsp, &comment, &header, &header_comment, &header_code);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &header_comment);
  ogg_stream_packetin(&stream, &header_code);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page))
    write_page(out, page);

  const double frequency[2] = {440.0, 660.0};
  long done = 0;
  bool finished = false;
  while (!finished) {
    const long chunk = frames - done < 1024 ? frames - done : 1024;
    if (chunk == 0) {
      vorbis_analysis_wrote(&dsp, 0);
    } else {
      float **buffer = vorbis_analysis_buffer(&dsp, int(chunk));
      for (long i = 0; i < chunk; ++i)
        for (int c = 0; c < channels; ++c)
          buffer[c][i] = float(0.5 * std::sin(2 * std::numbers::pi * frequency[c] * double(done + i) / double(rate)));
      vorbis_analysis_wrote(&dsp, int(chunk));
      done += chunk;
    }
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page)) {
          write_page(out, page);
          finished = finished || ogg_page_eos(&page);
        }
      }
    }
    if (chunk == 0)
      finished = true;
  }
  while (ogg_stream_flush(&stream, &page))
    write_page(out, page);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return std::fclose(out) == 0 ? 0 : 1;
}
