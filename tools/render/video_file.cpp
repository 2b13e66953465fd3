#include "video_file.h"

#include "ffmpeg_owned.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
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

// Work for the encoding thread, in the order the caller gave it.
struct job {
  enum kind { picture, sound, end } what;
  std::vector<unsigned char> rgb;     // picture: packed RGB24
  std::vector<std::int16_t> samples;  // sound: interleaved
};

// Pictures waiting for the encoder at most; a 720p picture is 2.7 MB.
constexpr int max_queued_pictures = 4;

} // namespace

struct video_file_s {
  std::string path;
  int width = 0, height = 0, channels = 0;

  // The encoding thread's own once it runs; the caller's before and after.
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

  // Shared, under `lock`.
  std::mutex lock;
  std::condition_variable work; // a job came, or the thread is to stop
  std::condition_variable room; // a job was done
  std::deque<job> jobs;
  std::vector<std::vector<unsigned char>> spare; // picture buffers to reuse
  int queued_pictures = 0;
  bool stop = false;        // leave the queue as it is and end the thread
  bool failed = false;      // a write failed: the encoders' state is unknown
  std::string failure;      // what failed, when `failed`

  // The caller's.
  std::thread encoder;
  bool file_created = false;  // avio_open made (or emptied) the file: ours to remove
  bool finish_called = false;
  bool finished = false;      // the file is complete
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

bool write_picture(video_file_s *f, const unsigned char *rgb, std::string *error) {
  AVFrame *picture = f->picture.get();
  int ret = av_frame_make_writable(picture);
  if (ret < 0)
    return fail(error, "making the video frame writable", ret);
  const std::uint8_t *const planes[] = {rgb};
  const int strides[] = {f->width * 3};
  sws_scale(f->sws.get(), planes, strides, 0, f->height, picture->data, picture->linesize);
  picture->pts = f->next_frame++;
  return encode(f, f->video.get(), f->video_stream, picture, error);
}

bool write_sound(video_file_s *f, const std::vector<std::int16_t> &samples, std::string *error) {
  const int frames = static_cast<int>(samples.size() / f->channels);
  void *in = const_cast<std::int16_t *>(samples.data()); // av_audio_fifo_write only reads it
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

bool run_job(video_file_s *f, const job &j, std::string *error) {
  try {
    switch (j.what) {
    case job::picture:
      return write_picture(f, j.rgb.data(), error);
    case job::sound:
      return write_sound(f, j.samples, error);
    case job::end:
      return write_end(f, error);
    }
  } catch (const std::bad_alloc &) {
    return fail(error, "encoding", AVERROR(ENOMEM));
  }
  return true;
}

// The encoding thread: the jobs in order until the end job or a stop. After a
// failure the rest are dropped unseen, so that the caller never waits on them.
void encoder_thread(video_file_s *f) {
  std::unique_lock<std::mutex> hold(f->lock);
  for (;;) {
    f->work.wait(hold, [f] { return f->stop || !f->jobs.empty(); });
    if (f->stop)
      return;
    job j = std::move(f->jobs.front());
    f->jobs.pop_front();
    const bool skip = f->failed;
    hold.unlock();
    std::string error;
    const bool ok = skip || run_job(f, j, &error);
    hold.lock();
    if (!ok) {
      f->failed = true;
      f->failure = std::move(error);
    }
    if (j.what == job::picture) {
      --f->queued_pictures;
      f->spare.push_back(std::move(j.rgb));
    }
    f->room.notify_all();
    if (j.what == job::end)
      return;
  }
}

// Ready for more, or why not.
bool usable(video_file_s *f, std::string *error) {
  if (!f)
    return ffmpeg_report(error, "no video file");
  if (f->finish_called)
    return ffmpeg_report(error, f->finished ? f->path + " is already finished" : "finishing " + f->path + " failed");
  std::lock_guard<std::mutex> hold(f->lock);
  if (f->failed)
    return ffmpeg_report(error, f->failure);
  return true;
}

bool queue(video_file_s *f, job &&j, std::string *error) {
  {
    std::lock_guard<std::mutex> hold(f->lock);
    if (f->failed)
      return ffmpeg_report(error, f->failure);
    if (j.what == job::picture)
      ++f->queued_pictures;
    f->jobs.push_back(std::move(j));
  }
  f->work.notify_one();
  return true;
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

bool open_audio(video_file_s *f, const video_file_settings &s, std::string *error) {
  const AVCodec *codec = avcodec_find_encoder_by_name("aac");
  if (!codec)
    return ffmpeg_report(error, "this FFmpeg has no AAC encoder (\"aac\")");
  f->audio.reset(avcodec_alloc_context3(codec));
  if (!f->audio)
    return ffmpeg_report(error, "allocating the audio encoder: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  AVCodecContext *enc = f->audio.get();
  enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
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

bool open_file(video_file_s *f, const video_file_settings &s, std::string *error) {
  AVFormatContext *out = nullptr;
  int ret = avformat_alloc_output_context2(&out, nullptr, "mp4", s.path);
  if (ret < 0 || !out)
    return ffmpeg_report(error, "setting up the MP4 muxer: " + ffmpeg_error_text(ret < 0 ? ret : AVERROR(ENOMEM)));
  f->out.reset(out);
  if (s.title)
    av_dict_set(&out->metadata, "title", s.title, 0);
  if (s.artist)
    av_dict_set(&out->metadata, "artist", s.artist, 0);

  if (!open_video(f, s, error) || !open_audio(f, s, error))
    return false;

  f->packet.reset(av_packet_alloc());
  if (!f->packet)
    return ffmpeg_report(error, "allocating a packet: " + ffmpeg_error_text(AVERROR(ENOMEM)));

  ret = avio_open(&out->pb, s.path, AVIO_FLAG_WRITE);
  if (ret < 0)
    return ffmpeg_report(error, std::string("opening ") + s.path + " for writing: " + ffmpeg_error_text(ret));
  f->file_created = true;

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
    return ffmpeg_report(error, std::string("writing the header of ") + s.path + ": " + ffmpeg_error_text(ret));

  try {
    // Every picture buffer ends up here; the thread must not need to allocate.
    f->spare.reserve(max_queued_pictures + 1);
    f->encoder = std::thread(encoder_thread, f);
  } catch (const std::bad_alloc &) {
    return ffmpeg_report(error, "starting the encoding thread: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  } catch (const std::system_error &e) {
    return ffmpeg_report(error, std::string("starting the encoding thread: ") + e.what());
  }
  return true;
}

// Only a plain file goes: a path naming a device (say /dev/full) or a pipe
// was written through, not made. A link goes to the file it points at.
void remove_partial(const std::string &path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  struct stat st;
  if (real && stat(real.get(), &st) == 0 && S_ISREG(st.st_mode))
    unlink(real.get());
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
  f->path = settings.path;
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
  job j{job::picture, {}, {}};
  {
    // The caller draws the next picture while the encoder works on this one,
    // but never more than a few pictures ahead.
    std::unique_lock<std::mutex> hold(f->lock);
    f->room.wait(hold, [f] { return f->queued_pictures < max_queued_pictures || f->failed; });
    if (f->failed)
      return ffmpeg_report(error, f->failure);
    if (!f->spare.empty()) {
      j.rgb = std::move(f->spare.back());
      f->spare.pop_back();
    }
  }
  try {
    j.rgb.resize(static_cast<std::size_t>(row) * f->height);
  } catch (const std::bad_alloc &) {
    return ffmpeg_report(error, "copying the picture: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  }
  if (stride == row)
    std::memcpy(j.rgb.data(), rgb24, j.rgb.size());
  else
    for (int y = 0; y < f->height; ++y)
      std::memcpy(j.rgb.data() + static_cast<std::size_t>(y) * row, rgb24 + static_cast<std::size_t>(y) * stride, row);
  return queue(f, std::move(j), error);
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
  job j{job::sound, {}, {}};
  try {
    j.samples.assign(interleaved, interleaved + static_cast<std::size_t>(frames) * f->channels);
  } catch (const std::bad_alloc &) {
    return ffmpeg_report(error, "copying the sound: " + ffmpeg_error_text(AVERROR(ENOMEM)));
  }
  return queue(f, std::move(j), error);
}

bool video_file_finish(video_file_t f, std::string *error) {
  if (!usable(f, error))
    return false;
  f->finish_called = true;
  // Queued even after a failure: the thread ends on it either way.
  {
    std::lock_guard<std::mutex> hold(f->lock);
    f->jobs.push_back(job{job::end, {}, {}});
  }
  f->work.notify_one();
  f->encoder.join();
  if (f->failed)
    return ffmpeg_report(error, f->failure);
  f->finished = true;
  return true;
}

void video_file_done(video_file_t f) {
  if (!f)
    return;
  if (f->encoder.joinable()) {
    {
      std::lock_guard<std::mutex> hold(f->lock);
      f->stop = true;
    }
    f->work.notify_one();
    f->encoder.join();
  }
  const bool remove = f->file_created && !f->finished;
  const std::string path = f->path;
  delete f; // closes the file first
  if (remove)
    remove_partial(path);
}
