// Ogg Vorbis encoding of the rendered song with the reference encoder
// (libvorbisenc): VBR, a fixed stream serial so the same build writes the
// same bytes, ARTIST and TITLE tags, the three headers on pages of their own.
//
// This is the only module that sees the encoder library; the show decodes
// with the integer decoder, which exports the same symbol names, so the two
// never meet in one executable.
#pragma once

#include <cstdio>

struct encoder_state;

struct encoder_s {
  std::FILE *out;
  encoder_state *state; // owned from open to close
  long long bytes;
};

struct encoder_tags {
  const char *title;
  const char *artist;
};

// False (with a message) when the file or the encoder cannot be set up.
bool encoder_open(encoder_s *e, const char *path, int rate, float quality, const encoder_tags &tags, int serial);
bool encoder_write(encoder_s *e, const float *left, const float *right, int frames);
// Ends the stream with a zero-length write, flushes and closes the file.
bool encoder_close(encoder_s *e);
