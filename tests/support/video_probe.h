// Reading a video file back for tests: what its streams and tags say, chosen
// pictures as RGB, and the whole sound, through FFmpeg's libraries.
//
// Paths are plain paths, never URLs. Every call opens the file afresh and closes it before returning; nothing is
// kept between calls. The first video and the first audio stream are the ones
// looked at. All three answer false with a message in *error when the file
// cannot be read or decoded.
#pragma once

#include <string>
#include <vector>

struct video_probe_info {
  int video_streams = 0, audio_streams = 0;
  std::string video_codec, audio_codec; // codec names, e.g. "h264", "aac"; empty without such a stream
  int width = 0, height = 0;
  std::string pixel_format; // e.g. "yuv420p"
  double fps = 0;           // the stream's average frame rate, else its base rate
  long video_frames = 0;    // video packets in the file, each one counted
  int sample_rate = 0, channels = 0;
  double audio_seconds = 0; // decoded sound, priming and end padding left out
  std::string title, artist, copyright; // the file's tags; empty when missing
};

bool video_probe_read(const std::string &path, video_probe_info *info, std::string *error);

// The pictures numbered `numbers` (0-based, in presentation order; repeats
// allowed) as packed RGB24, width * 3 bytes a row; (*rgb)[i] is numbers[i].
// False when one of them is not in the file.
bool video_probe_frames(const std::string &path, const std::vector<long> &numbers,
                        std::vector<std::vector<unsigned char>> *rgb, std::string *error);

// The whole sound as interleaved floats (-1 to 1). Sample 0 is the file's
// time 0: the encoder's priming samples, which the container marks to be
// skipped, are left out, and so is the padding after the last real sample.
bool video_probe_audio(const std::string &path, std::vector<float> *interleaved, int *channels, int *sample_rate,
                       std::string *error);
