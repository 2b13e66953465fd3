// One MP4 file of H.264 video and AAC audio, written frame by frame through
// FFmpeg's libraries.
//
//   video_file_t f = video_file_init(settings, &error);
//   for (each frame) video_file_add_frame(f, rgb, 0, &error);
//   ... video_file_add_audio(f, samples, count, &error) as the sound comes ...
//   video_file_finish(f, &error);
//   video_file_done(f);
//
// Video is constant frame rate: frame k is shown at k / fps seconds. It goes
// from packed RGB24 to yuv420p in BT.709 limited range, tagged as such, each
// 2x2 block's colour averaged, and is encoded with libx264 (preset superfast,
// CRF 20, a key frame at least every 4 s). Audio starts at time 0 of the
// file and is AAC at the given bit rate; the encoder's priming samples and the
// end of the last frame are marked in the file (an edit list), so a decoder
// that honours it gets the sound back sample for sample from time 0. Packets
// of both streams are interleaved by time, so for a well interleaved file feed
// the sound alongside the frames rather than all at the end. A stream that
// gets nothing at all is left out of the file.
//
// Each call converts and encodes what it is given before it returns; a
// program that wants to draw the next picture meanwhile calls from a thread
// of its own. After a failed call (with what failed and why) the record
// refuses more, and only video_file_done remains useful. Wrong arguments are
// refused at once and leave the record as it was. `error` may be null
// wherever it is taken.
//
// The file is written under a temporary name beside `path` (a hidden name in
// the same folder, so that the final rename is atomic) and takes `path`'s
// name only when video_file_finish succeeds: until then an earlier file of
// that name stays as it was, and video_file_done removes the temporary file.
// `path` is a plain path, never a URL: "file:x.mp4" and "x:y.mp4" are files
// of those names. It must be a regular file or not exist yet; a symbolic link
// to a regular file has its target replaced.
//
// FFmpeg's informational messages (encoder settings and statistics) are
// turned off by video_file_init unless the program chose a log level of its
// own; warnings and errors still reach stderr.
//
// Not thread-safe: one caller thread per record.
#pragma once

#include <cstdint>
#include <string>

struct video_file_settings {
  const char *path;    // the output file, .mp4
  int width, height;   // even, > 0
  int fps;             // > 0: time base 1/fps
  int sample_rate;     // e.g. 44100
  int channels;        // 1 to 8; samples come interleaved, signed 16-bit
  int audio_bitrate;   // bits per second, e.g. 192000
  const char *title;   // file metadata; null for none
  const char *artist;  // file metadata; null for none
  const char *copyright; // file metadata: whose the pictures and sound are, and their licence; null for none
};

struct video_file_s;
using video_file_t = video_file_s *;

// Opens the temporary file and both encoders and writes the header. Null
// with a message in *error (what failed and why) when a setting is out of
// range, an encoder is missing or the file cannot be written; nothing is left
// allocated or created then.
video_file_t video_file_init(const video_file_settings &settings, std::string *error);

// The next video frame, `height` rows of width * 3 bytes, each row `stride`
// bytes after the one before; a stride of 0 means width * 3. The picture is
// encoded before the call returns: the caller may reuse its buffer at once.
bool video_file_add_frame(video_file_t f, const unsigned char *rgb24, int stride, std::string *error);

// `frames` more sample frames (frames * channels interleaved values). The
// first sample ever added plays at time 0.
bool video_file_add_audio(video_file_t f, const std::int16_t *interleaved, int frames, std::string *error);

// Flushes both encoders, writes the trailer, closes the file and renames it
// to `path`; the file is complete under its name once this returns true.
// Either way the record takes nothing more.
bool video_file_finish(video_file_t f, std::string *error);

// Releases everything and removes the temporary file unless the video was
// finished. Accepts null.
void video_file_done(video_file_t f);
