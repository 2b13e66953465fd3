#include "video_file.h"

#include "ffmpeg_owned.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// The muxer's state goes with the context; the file is closed here only when
// finishing did not close it already.
struct output_free {
  void operator()(AVFormatContext *c) const {
    if (c->pb)
      avio_closep(&c->pb);
    avformat_free_context(c);
  }
};

} // namespace

struct video_file_s {
  std::string path;      // the name the finished video takes
  std::string temporary; // the file written until then, beside `path`; empty until made
  int width = 0, height = 0, channels = 0;

  std::unique_ptr<AVFormatContext, output_free> out;
  std::unique_ptr<AVCodecContext, ffmpeg_codec_free> video, audio;
  AVStream *video_stream = nullptr, *audio_stream = nullptr; // owned by `out`
  std::unique_ptr<SwsContext, ffmpeg_sws_free> sws;
  std::unique_ptr<SwrContext, ffmpeg_swr_free> swr;
  std::unique_ptr<AVAudioFifo, ffmpeg_fifo_free> fifo; // interleaved S16, not yet encoded
  std::vector<std::int16_t> chunk;              // one encoder frame out of the fifo
  std::unique_ptr<AVFrame, ffmpeg_frame_free> picture, sound;
  std::unique_ptr<AVPacket, ffmpeg_packet_free> packet;
  std::int64_t next_frame = 0;  // pts of the next picture, in frames
  std::int64_t next_sample = 0; // pts of the next sound frame, in samples

  bool failed = false;     // a step failed: the encoders' state is unknown
  std::string failure;     // what failed, when `failed`
  bool finish_called = false;
  bool finished = false;   // the video is complete under `path`
};

namespace {

bool fail(std::string *error, const std::string &step, int code) { return ffmpeg_report(error, step + ": " + ffmpeg_error_text(code)); }

// Sends one frame (null: end of stream) and writes every packet it releases.
bool encode(video_file_s *f, AVCodecContext *enc, AVStream *stream, const AVFrame *frame, std::string *error) {
  const char *kind = enc == f->video.get() ? "video" : "audio";
  int ret = avcodec_send_frame(enc, frame);
  if (ret < 0)
    return fail(error, std::string("encoding ") + kind + " (" + enc->codec->name + ")", ret);
  AVPacket *pkt = f->packet.get();
  for (;;) {
    ret = avcodec_receive_packet(enc, pkt);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      return true;
    if (ret < 0)
      return fail(error, std::string("encoding ") + kind + " (" + enc->codec->name + ")", ret);
    // Constant frame rate: each picture lasts one tick, the last one too.
    if (enc == f->video.get() && pkt->duration <= 0)
      pkt->duration = 1;
    av_packet_rescale_ts(pkt, enc->time_base, stream->time_base);
    pkt->stream_index = stream->index;
    ret = av_interleaved_write_frame(f->out.get(), pkt);
    if (ret < 0)
      return fail(error, std::string("writing ") + kind + " to " + f->path, ret);
  }
}

// Encodes the first `count` sample frames of the fifo (at most one encoder frame).
bool encode_sound(video_file_s *f, int count, std::string *error) {
  AVFrame *sound = f->sound.get();
  sound->nb_samples = f->audio->frame_size;
  int ret = av_frame_make_writable(sound);
  if (ret < 0)
    return fail(error, "making the audio frame writable", ret);
  void *chunk = f->chunk.data();
  if (av_audio_fifo_read(f->fifo.get(), &chunk, count) != count)
    return fail(error, "reading the audio buffer", AVERROR_BUG);
  const std::uint8_t *in = reinterpret_cast<const std::uint8_t *>(f->chunk.data());
  ret = swr_convert(f->swr.get(), sound->data, count, &in, count);
  if (ret < 0)
    return fail(error, "converting audio samples", ret);
  if (ret != count)
    return fail(error, "converting audio samples", AVERROR_BUG);
  sound->nb_samples = count;
  sound->pts = f->next_sample;
  f->next_sample += count;
  return encode(f, f->audio.get(), f->audio_stream, sound, error);
}

bool write_picture(video_file_s *f, const unsigned char *rgb, int stride, std::string *error) {
  AVFrame *picture = f->picture.get();
  int ret = av_frame_make_writable(picture);
  if (ret < 0)
    return fail(error, "making the video frame writable", ret);
  const std::uint8_t *const planes[] = {rgb};
  const int strides[] = {stride};
  sws_scale(f->sws.get(), planes, strides, 0, f->height, picture->data, picture->linesize);
  picture->pts = f->next_frame++;
  return encode(f, f->video.get(), f->video_stream, picture, error);
}

bool write_sound(video_file_s *f, const std::int16_t *samples, int frames, std::string *error) {
  void *in = const_cast<std::int16_t *>(samples); // av_audio_fifo_write only reads it
  int ret = av_audio_fifo_write(f->fifo.get(), &in, frames);
  if (ret < 0)
    return fail(error, "buffering audio", ret);
  if (ret != frames)
    return fail(error, "buffering audio", AVERROR(ENOMEM));
  const int size = f->audio->frame_size;
  while (av_audio_fifo_size(f->fifo.get()) >= size)
    if (!encode_sound(f, size, error))
      return false;
  return true;
}

bool write_end(video_file_s *f, std::string *error) {
  AVCodecContext *audio = f->audio.get();
  int left = av_audio_fifo_size(f->fifo.get());
  if (left > 0) {
    const bool short_ok = audio->codec->capabilities &
                          (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    if (!short_ok) {
      // Silence up to a whole frame; S16's zero is silence.
      std::vector<std::int16_t> silence(static_cast<std::size_t>(audio->frame_size - left) * f->channels, 0);
      void *in = silence.data();
      if (av_audio_fifo_write(f->fifo.get(), &in, audio->frame_size - left) != audio->frame_size - left)
        return fail(error, "buffering audio", AVERROR(ENOMEM));
      left = audio->frame_size;
    }
    if (!encode_sound(f, left, error))
      return false;
  }
  if (!encode(f, audio, f->audio_stream, nullptr, error) ||
      !encode(f, f->video.get(), f->video_stream, nullptr, error))
    return false;

  AVFormatContext *out = f->out.get();
  int ret = av_write_trailer(out);
  if (ret < 0)
    return fail(error, "writing the end of " + f->path, ret);
  if (out->pb->error < 0)
    return fail(error, "writing " + f->path, out->pb->error);
  ret = avio_closep(&out->pb);
  if (ret < 0)
    return fail(error, "closing " + f->path, ret);
  return true;
}

// Ready for more, or why not.
bool usable(video_file_s *f, std::string *error) {
  if (!f)
    return ffmpeg_report(error, "no video file");
  if (f->finish_called)
    return ffmpeg_report(error, f->finished ? f->path + " is already finished" : "finishing " + f->path + " failed");
  if (f->failed)
    return ffmpeg_report(error, f->failure);
  return true;
}

// A step's outcome: a failed one leaves the record refusing more.
bool settle(video_file_s *f, bool ok, const std::string &why, std::string *error) {
  if (ok)
    return true;
  f->failed = true;
  f->failure = why;
  return ffmpeg_report(error, why);
}

const AVCodec *h264_encoder() {
  if (const AVCodec *c = avcodec_find_encoder_by_name("libx264"))
    return c;
  return avcodec_find_encoder(AV_CODEC_ID_H264);
}

bool check_settings(const video_file_settings &s, std::string *error) {
  if (!s.path || !*s.path)
    return ffmpeg_report(error, "no output path");
  if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2)
    return ffmpeg_report(error, "the picture must be an even, positive size, not " + std::to_string(s.width) + "x" +
                             std::to_string(s.height));
  // Rows of width * 3 bytes must fit an int stride.
  if (s.width > 16384 || s.height > 16384)
    return ffmpeg_report(error, "the picture is too large: " + std::to_string(s.width) + "x" + std::to_string(s.height));
  if (s.fps <= 0 || s.fps > 1000)
    return ffmpeg_report(error, "the frame rate must be 1 to 1000, not " + std::to_string(s.fps));
  if (s.sample_rate <= 0)
    return ffmpeg_report(error, "the sample rate must be positive, not " + std::to_string(s.sample_rate));
  if (s.channels < 1 || s.channels > 8)
    return ffmpeg_report(error, "the channel count must be 1 to 8, not " + std::to_string(s.channels));
  if (s.audio_bitrate <= 0)
    return ffmpeg_report(error, "the audio bit rate must be positive, not " + std::to_string(s.audio_bitrate));
  return true;
}

bool open_video(video_file_s *f, const video_file_settings &s, std::string *error) {
  const AVCodec *codec = h264_encoder();
  if (!codec)
    return ffmpeg_report(error, "this FFmpeg has no H.264 encoder (neither libx264 nor another)");
  f->video.reset(avcodec_alloc_context3(codec));
  if (!f->video)
    return ffmpeg_report(error, "allocating the video encoder: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  AVCodecContext *enc = f->video.get();
  enc->width = s.width;
  enc->height = s.height;
  enc->sample_aspect_ratio = AVRational{1, 1};
  enc->time_base = AVRational{1, s.fps};
  enc->framerate = AVRational{s.fps, 1};
  enc->gop_size = 4 * s.fps;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  // sRGB shares BT.709's primaries; the matrix and range are what sws writes below.
  enc->color_range = AVCOL_RANGE_MPEG;
  enc->colorspace = AVCOL_SPC_BT709;
  enc->color_primaries = AVCOL_PRI_BT709;
  enc->color_trc = AVCOL_TRC_BT709;
  enc->chroma_sample_location = AVCHROMA_LOC_CENTER; // sws averages each 2x2 block
  enc->thread_count = 0; // the encoder's own choice; the default of 1 would leave a core idle
  if (f->out->oformat->flags & AVFMT_GLOBALHEADER)
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

  AVDictionary *options = nullptr;
  // superfast rather than veryfast: as fast on still pictures and about a
  // third faster on moving ones, for files about a quarter larger.
  av_dict_set(&options, "preset", "superfast", 0);
  av_dict_set(&options, "crf", "20", 0);
  int ret = avcodec_open2(enc, codec, &options);
  av_dict_free(&options);
  if (ret < 0)
    return ffmpeg_report(error, std::string("opening the video encoder (") + codec->name + "): " + ffmpeg_error_text(ret));

  f->video_stream = avformat_new_stream(f->out.get(), nullptr);
  if (!f->video_stream)
    return ffmpeg_report(error, "adding the video stream: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  f->video_stream->time_base = enc->time_base;
  f->video_stream->avg_frame_rate = enc->framerate;
  ret = avcodec_parameters_from_context(f->video_stream->codecpar, enc);
  if (ret < 0)
    return ffmpeg_report(error, "describing the video stream: " + ffmpeg_error_text(ret));

  f->sws.reset(sws_getContext(s.width, s.height, AV_PIX_FMT_RGB24, s.width, s.height, AV_PIX_FMT_YUV420P,
                              SWS_AREA | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
  if (!f->sws)
    return ffmpeg_report(error, "setting up the RGB to YUV conversion failed");
  const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
  if (sws_setColorspaceDetails(f->sws.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0)
    return ffmpeg_report(error, "setting up the RGB to YUV conversion: BT.709 limited range is not supported");

  f->picture.reset(av_frame_alloc());
  if (!f->picture)
    return ffmpeg_report(error, "allocating the video frame: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  f->picture->format = enc->pix_fmt;
  f->picture->width = s.width;
  f->picture->height = s.height;
  f->picture->color_range = enc->color_range;
  f->picture->colorspace = enc->colorspace;
  f->picture->color_primaries = enc->color_primaries;
  f->picture->color_trc = enc->color_trc;
  ret = av_frame_get_buffer(f->picture.get(), 0);
  if (ret < 0)
    return ffmpeg_report(error, "allocating the video frame: " + ffmpeg_error_text(ret));
  return true;
}

// The encoder's preferred sample format. FFmpeg 7 (Debian 13) asks for it
// through avcodec_get_supported_config and deprecates the codec's own list,
// which FFmpeg 5 (Debian 12) has alone.
AVSampleFormat first_sample_format(const AVCodec *codec, const AVCodecContext *enc) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void *formats = nullptr;
  int count = 0;
  if (avcodec_get_supported_config(enc, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats, &count) >= 0 && formats &&
      count > 0)
    return static_cast<const AVSampleFormat *>(formats)[0];
  return AV_SAMPLE_FMT_FLTP;
#else
  (void)enc;
  return codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
#endif
}

bool open_audio(video_file_s *f, const video_file_settings &s, std::string *error) {
  const AVCodec *codec = avcodec_find_encoder_by_name("aac");
  if (!codec)
    return ffmpeg_report(error, "this FFmpeg has no AAC encoder (\"aac\")");
  f->audio.reset(avcodec_alloc_context3(codec));
  if (!f->audio)
    return ffmpeg_report(error, "allocating the audio encoder: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  AVCodecContext *enc = f->audio.get();
  enc->sample_fmt = first_sample_format(codec, enc);
  enc->sample_rate = s.sample_rate;
  av_channel_layout_default(&enc->ch_layout, s.channels);
  enc->bit_rate = s.audio_bitrate;
  enc->time_base = AVRational{1, s.sample_rate};
  if (f->out->oformat->flags & AVFMT_GLOBALHEADER)
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int ret = avcodec_open2(enc, codec, nullptr);
  if (ret < 0)
    return ffmpeg_report(error, "opening the audio encoder (aac) for " + std::to_string(s.sample_rate) + " Hz, " +
                             std::to_string(s.channels) + " channels: " + ffmpeg_error_text(ret));
  if (enc->frame_size <= 0)
    return ffmpeg_report(error, "the audio encoder (aac) did not say its frame size");

  f->audio_stream = avformat_new_stream(f->out.get(), nullptr);
  if (!f->audio_stream)
    return ffmpeg_report(error, "adding the audio stream: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  f->audio_stream->time_base = enc->time_base;
  ret = avcodec_parameters_from_context(f->audio_stream->codecpar, enc);
  if (ret < 0)
    return ffmpeg_report(error, "describing the audio stream: " + ffmpeg_error_text(ret));

  SwrContext *swr = nullptr;
  ret = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &enc->ch_layout,
                            AV_SAMPLE_FMT_S16, s.sample_rate, 0, nullptr);
  f->swr.reset(swr);
  if (ret < 0)
    return ffmpeg_report(error, "setting up the audio sample conversion: " + ffmpeg_error_text(ret));
  ret = swr_init(swr);
  if (ret < 0)
    return ffmpeg_report(error, "setting up the audio sample conversion: " + ffmpeg_error_text(ret));

  f->fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, s.channels, enc->frame_size));
  if (!f->fifo)
    return ffmpeg_report(error, "allocating the audio buffer: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  f->chunk.assign(static_cast<std::size_t>(enc->frame_size) * s.channels, 0);

  f->sound.reset(av_frame_alloc());
  if (!f->sound)
    return ffmpeg_report(error, "allocating the audio frame: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  f->sound->format = enc->sample_fmt;
  f->sound->sample_rate = enc->sample_rate;
  f->sound->nb_samples = enc->frame_size;
  ret = av_channel_layout_copy(&f->sound->ch_layout, &enc->ch_layout);
  if (ret >= 0)
    ret = av_frame_get_buffer(f->sound.get(), 0);
  if (ret < 0)
    return ffmpeg_report(error, "allocating the audio frame: " + ffmpeg_error_text(ret));
  return true;
}

// The name the video takes: `path`, or the regular file a link there points
// at. A device or a pipe is refused: the video is renamed into place, and
// renaming over /dev/null would replace the device.
bool final_name(const std::string &path, std::string *name, std::string *error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT)
      return ffmpeg_report(error, "cannot write " + path + ": " + std::strerror(errno));
    *name = path; // a new file (or a link to nothing, which the video replaces)
    return true;
  }
  if (!S_ISREG(st.st_mode))
    return ffmpeg_report(error, "cannot write " + path + ": not a regular file");
  struct stat link;
  std::unique_ptr<char, decltype(&std::free)> real(nullptr, &std::free);
  if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
    real.reset(realpath(path.c_str(), nullptr));
  *name = real ? real.get() : path;
  return true;
}

// A new, empty file beside `f->path` under a hidden name of its own; O_EXCL
// so that nothing else of that name, a link least of all, is written through.
bool make_temporary(video_file_s *f, std::string *error) {
  const std::size_t slash = f->path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : f->path.substr(0, slash + 1);
  const std::string name = f->path.substr(folder.size());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary =
        folder + "." + name + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".part";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      f->temporary = temporary;
      return true;
    }
    if (errno != EEXIST)
      return ffmpeg_report(error, "cannot write " + f->path + ": " + std::strerror(errno));
  }
  return ffmpeg_report(error, "cannot write " + f->path + ": no free temporary name beside it");
}

bool open_file(video_file_s *f, const video_file_settings &s, std::string *error) {
  if (!final_name(s.path, &f->path, error) || !make_temporary(f, error))
    return false;
  // FFmpeg reads a name as a URL ("x:y.mp4" would be protocol x); with the
  // file protocol named, and a path that starts with '/' or "./", the rest is
  // taken as it stands. The muxer reopens this URL to move the index.
  const std::string url = "file:" + (f->temporary[0] == '/' ? f->temporary : "./" + f->temporary);

  AVFormatContext *out = nullptr;
  int ret = avformat_alloc_output_context2(&out, nullptr, "mp4", url.c_str());
  if (ret < 0 || !out)
    return ffmpeg_report(error, "setting up the MP4 muxer: " + ffmpeg_error_text(ret < 0 ? ret : AVERROR(ENOMEM)));
  f->out.reset(out);
  if (s.title)
    av_dict_set(&out->metadata, "title", s.title, 0);
  if (s.artist)
    av_dict_set(&out->metadata, "artist", s.artist, 0);
  if (s.copyright)
    av_dict_set(&out->metadata, "copyright", s.copyright, 0);

  if (!open_video(f, s, error) || !open_audio(f, s, error))
    return false;

  f->packet.reset(av_packet_alloc());
  if (!f->packet)
    return ffmpeg_report(error, "allocating a packet: " + ffmpeg_error_text(AVERROR(ENOMEM)));

  ret = avio_open(&out->pb, url.c_str(), AVIO_FLAG_WRITE);
  if (ret < 0)
    return ffmpeg_report(error, "opening " + f->temporary + " for writing: " + ffmpeg_error_text(ret));

  // The index goes to the front for players that stream the file; the move
  // rewrites the file once at the end, a small cost beside the encoding.
  AVDictionary *options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  // Edit lists count in the movie's time scale, 1/1000 s by default: the
  // sound's end would be rounded up by as much as 44 samples.
  av_dict_set_int(&options, "movie_timescale", s.sample_rate, 0);
  ret = avformat_write_header(out, &options);
  av_dict_free(&options);
  if (ret < 0)
    return ffmpeg_report(error, "writing the header of " + f->path + ": " + ffmpeg_error_text(ret));
  return true;
}

} // namespace

video_file_t video_file_init(const video_file_settings &settings, std::string *error) {
  if (!check_settings(settings, error))
    return nullptr;
  // The encoders' settings and statistics are of no use to the program's user.
  if (av_log_get_level() == AV_LOG_INFO)
    av_log_set_level(AV_LOG_WARNING);
  auto *f = new (std::nothrow) video_file_s;
  if (!f) {
    ffmpeg_report(error, "allocating the video file record: " + ffmpeg_error_text(AVERROR(ENOMEM)));
    return nullptr;
  }
  f->width = settings.width;
  f->height = settings.height;
  f->channels = settings.channels;
  if (!open_file(f, settings, error)) {
    video_file_done(f);
    return nullptr;
  }
  return f;
}

bool video_file_add_frame(video_file_t f, const unsigned char *rgb24, int stride, std::string *error) {
  if (!usable(f, error))
    return false;
  if (!rgb24)
    return ffmpeg_report(error, "no picture");
  const int row = f->width * 3;
  if (stride == 0)
    stride = row;
  if (stride < row)
    return ffmpeg_report(error, "a row stride of " + std::to_string(stride) + " bytes is less than a row of " +
                             std::to_string(f->width) + " pixels");
  std::string why;
  return settle(f, write_picture(f, rgb24, stride, &why), why, error);
}

bool video_file_add_audio(video_file_t f, const std::int16_t *interleaved, int frames, std::string *error) {
  if (!usable(f, error))
    return false;
  if (frames < 0)
    return ffmpeg_report(error, "a negative count of sample frames (" + std::to_string(frames) + ")");
  if (frames == 0)
    return true;
  if (!interleaved)
    return ffmpeg_report(error, "no samples");
  std::string why;
  return settle(f, write_sound(f, interleaved, frames, &why), why, error);
}

bool video_file_finish(video_file_t f, std::string *error) {
  if (!usable(f, error))
    return false;
  f->finish_called = true;
  std::string why;
  bool ok;
  try {
    ok = write_end(f, &why);
  } catch (const std::bad_alloc &) {
    ok = fail(&why, "finishing " + f->path, AVERROR(ENOMEM));
  }
  // Only a complete file takes the name; an earlier file of that name goes
  // at this moment and not before.
  if (ok && std::rename(f->temporary.c_str(), f->path.c_str()) != 0)
    ok = ffmpeg_report(&why, "renaming the finished video to " + f->path + ": " + std::strerror(errno));
  if (!settle(f, ok, why, error))
    return false;
  f->finished = true;
  return true;
}

void video_file_done(video_file_t f) {
  if (!f)
    return;
  const std::string temporary = f->finished ? "" : f->temporary;
  // An abandoned encoder warns of the frames it drops, which is the point
  // here; the program's own choice of log level stands.
  const int level = av_log_get_level();
  if (!f->finished && level == AV_LOG_WARNING)
    av_log_set_level(AV_LOG_ERROR);
  delete f; // closes the file first
  av_log_set_level(level);
  if (!temporary.empty())
    unlink(temporary.c_str());
}
