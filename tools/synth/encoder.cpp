#include "encoder.h"

#include <vorbis/vorbisenc.h>

#include <cstring>

struct encoder_state {
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dsp;
  vorbis_block block;
  ogg_stream_state stream;
};

namespace {

bool write_page(encoder_s *e, const ogg_page &page) {
  const bool ok = std::fwrite(page.header, 1, size_t(page.header_len), e->out) == size_t(page.header_len) &&
                  std::fwrite(page.body, 1, size_t(page.body_len), e->out) == size_t(page.body_len);
  e->bytes += page.header_len + page.body_len;
  return ok;
}

// Moves every finished block through analysis and out as pages.
bool drain(encoder_s *e) {
  encoder_state *s = e->state;
  bool ok = true;
  while (vorbis_analysis_blockout(&s->dsp, &s->block) == 1) {
    vorbis_analysis(&s->block, nullptr);
    vorbis_bitrate_addblock(&s->block);
    ogg_packet packet;
    while (vorbis_bitrate_flushpacket(&s->dsp, &packet)) {
      ogg_stream_packetin(&s->stream, &packet);
      ogg_page page;
      while (ogg_stream_pageout(&s->stream, &page))
        ok = write_page(e, page) && ok;
    }
  }
  return ok;
}

} // namespace

bool encoder_open(encoder_s *e, const char *path, int rate, float quality, const encoder_tags &tags, int serial) {
  e->bytes = 0;
  e->out = std::fopen(path, "wb");
  if (!e->out) {
    std::perror(path);
    return false;
  }
  e->state = new encoder_state;
  encoder_state *s = e->state;
  vorbis_info_init(&s->info);
  if (vorbis_encode_init_vbr(&s->info, 2, rate, quality) != 0) {
    std::fprintf(stderr, "synth: encoder set-up failed\n");
    vorbis_info_clear(&s->info);
    delete s;
    e->state = nullptr;
    std::fclose(e->out);
    e->out = nullptr;
    return false;
  }
  vorbis_comment_init(&s->comment);
  vorbis_comment_add_tag(&s->comment, "TITLE", tags.title);
  vorbis_comment_add_tag(&s->comment, "ARTIST", tags.artist);
  vorbis_analysis_init(&s->dsp, &s->info);
  vorbis_block_init(&s->dsp, &s->block);
  ogg_stream_init(&s->stream, serial);

  ogg_packet header, comment, codebooks;
  vorbis_analysis_headerout(&s->dsp, &s->comment, &header, &comment, &codebooks);
  ogg_stream_packetin(&s->stream, &header);
  ogg_stream_packetin(&s->stream, &comment);
  ogg_stream_packetin(&s->stream, &codebooks);
  // Audio must start on a fresh page, so the headers are flushed now.
  ogg_page page;
  bool ok = true;
  while (ogg_stream_flush(&s->stream, &page))
    ok = write_page(e, page) && ok;
  return ok;
}

bool encoder_write(encoder_s *e, const float *left, const float *right, int frames) {
  encoder_state *s = e->state;
  float **buffer = vorbis_analysis_buffer(&s->dsp, frames);
  std::memcpy(buffer[0], left, sizeof(float) * size_t(frames));
  std::memcpy(buffer[1], right, sizeof(float) * size_t(frames));
  vorbis_analysis_wrote(&s->dsp, frames);
  return drain(e);
}

bool encoder_close(encoder_s *e) {
  encoder_state *s = e->state;
  vorbis_analysis_wrote(&s->dsp, 0);
  bool ok = drain(e);
  ogg_page page;
  while (ogg_stream_flush(&s->stream, &page))
    ok = write_page(e, page) && ok;
  ogg_stream_clear(&s->stream);
  vorbis_block_clear(&s->block);
  vorbis_dsp_clear(&s->dsp);
  vorbis_comment_clear(&s->comment);
  vorbis_info_clear(&s->info);
  delete s;
  e->state = nullptr;
  ok = std::fclose(e->out) == 0 && ok;
  e->out = nullptr;
  return ok;
}
