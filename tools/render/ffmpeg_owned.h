// FFmpeg's objects owned the C++ way (each freed by its own function),
// FFmpeg's error texts and the report of a failed step, for the video writer
// and the tests' video reader.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

struct ffmpeg_codec_free {
  void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct ffmpeg_frame_free {
  void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct ffmpeg_packet_free {
  void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct ffmpeg_sws_free {
  void operator()(SwsContext *c) const { sws_freeContext(c); }
};
struct ffmpeg_swr_free {
  void operator()(SwrContext *c) const { swr_free(&c); }
};
struct ffmpeg_fifo_free {
  void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
struct ffmpeg_input_close {
  void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};

using ffmpeg_codec_ptr = std::unique_ptr<AVCodecContext, ffmpeg_codec_free>;
using ffmpeg_frame_ptr = std::unique_ptr<AVFrame, ffmpeg_frame_free>;
using ffmpeg_packet_ptr = std::unique_ptr<AVPacket, ffmpeg_packet_free>;

// Puts `message` in *error (when there is one) and answers false, for the
// many steps that fail alike.
inline bool ffmpeg_report(std::string *error, const std::string &message) {
  if (error)
    *error = message;
  return false;
}

inline std::string ffmpeg_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}
