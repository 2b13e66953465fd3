// The linked-in soundtrack decoded as the show's player decodes it (Tremor,
// from memory), for the renderer's sound: 16-bit interleaved samples read by
// stream position, with silence before the start and after the end.
// One reader, used by one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct soundtrack_pcm_s;
using soundtrack_pcm_t = soundtrack_pcm_s *;

// Null, with the decoder's complaint in `*error`, when the stream does not open.
soundtrack_pcm_t soundtrack_pcm_init(std::string *error);
void soundtrack_pcm_done(soundtrack_pcm_t pcm); // accepts null

int soundtrack_pcm_rate(soundtrack_pcm_t pcm);
int soundtrack_pcm_channels(soundtrack_pcm_t pcm);
std::int64_t soundtrack_pcm_frames(soundtrack_pcm_t pcm); // sample frames in the stream
// A comment of the stream, e.g. "TITLE" or "ARTIST" (any case); "" without one.
std::string soundtrack_pcm_tag(soundtrack_pcm_t pcm, const std::string &name);

// `frames` sample frames from stream position `first` on (negative or past
// the end: silence there) into `out` (frames * channels samples). Reading on
// from where the last read ended decodes straight on; anywhere else seeks.
// False, with the decoder's complaint, when the stream cannot be decoded.
bool soundtrack_pcm_read(soundtrack_pcm_t pcm, std::int64_t first, int frames, std::int16_t *out, std::string *error);
