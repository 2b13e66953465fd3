#include "video_probe.h"

#include "ffmpeg_owned.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

namespace {

using input_t = std::unique_ptr<AVFormatContext, ffmpeg_input_close>;
using codec_t = ffmpeg_codec_ptr;
using frame_t = ffmpeg_frame_ptr;
using packet_t = ffmpeg_packet_ptr;

bool failed(std::string *error, const std::string &step, int code) { return ffmpeg_report(error, step + ": " + ffmpeg_error_text(code)); }

bool open_input(const std::string &path, input_t *in, std::string *error) {
  // A plain path, never a URL: "x:y.mp4" is a file of that name.
  const std::string url = "file:" + (path.rfind('/', 0) == 0 ? path : "./" + path);
  AVFormatContext *c = nullptr;
  int ret = avformat_open_input(&c, url.c_str(), nullptr, nullptr);
  if (ret < 0)
    return failed(error, "opening " + path, ret);
  in->reset(c);
  ret = avformat_find_stream_info(c, nullptr);
  if (ret < 0)
    return failed(error, "reading the streams of " + path, ret);
  return true;
}

// The first stream of the kind, or -1.
int first_stream(AVFormatContext *in, AVMediaType kind) {
  for (unsigned i = 0; i < in->nb_streams; ++i)
    if (in->streams[i]->codecpar->codec_type == kind)
      return static_cast<int>(i);
  return -1;
}

bool open_decoder(AVStream *stream, codec_t *dec, std::string *error) {
  const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec)
    return ffmpeg_report(error, std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id));
  dec->reset(avcodec_alloc_context3(codec));
  if (!*dec)
    return failed(error, "allocating a decoder", AVERROR(ENOMEM));
  int ret = avcodec_parameters_to_context(dec->get(), stream->codecpar);
  if (ret < 0)
    return failed(error, "setting up the decoder", ret);
  // Skipping the priming samples moves timestamps, which needs their unit.
  (*dec)->pkt_timebase = stream->time_base;
  // One thread: frame threads hand buffers over through atomics inside the
  // library, which a thread-sanitized test build cannot see and reports.
  (*dec)->thread_count = 1;
  ret = avcodec_open2(dec->get(), codec, nullptr);
  if (ret < 0)
    return failed(error, std::string("opening the decoder (") + codec->name + ")", ret);
  return true;
}

// Decodes one audio stream into interleaved floats from time 0 on.
struct sound_reader {
  AVStream *stream = nullptr;
  codec_t dec;
  frame_t frame{av_frame_alloc()};
  std::unique_ptr<SwrContext, ffmpeg_swr_free> swr;
  std::vector<float> *out = nullptr;
  int channels = 0, sample_rate = 0;
  std::int64_t end = std::numeric_limits<std::int64_t>::min(); // last packet's end, in samples

  bool open(AVStream *s, std::vector<float> *samples, std::string *error) {
    stream = s;
    out = samples;
    out->clear();
    if (!frame)
      return failed(error, "allocating a frame", AVERROR(ENOMEM));
    return open_decoder(s, &dec, error);
  }

  std::int64_t in_samples(std::int64_t t) const {
    return av_rescale_q(t, stream->time_base, AVRational{1, dec->sample_rate});
  }

  bool convert(std::string *error) {
    AVFrame *f = frame.get();
    if (!swr) {
      SwrContext *s = nullptr;
      int ret = swr_alloc_set_opts2(&s, &f->ch_layout, AV_SAMPLE_FMT_FLT, f->sample_rate, &f->ch_layout,
                                    static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
      swr.reset(s);
      if (ret >= 0)
        ret = swr_init(s);
      if (ret < 0)
        return failed(error, "setting up the sample conversion", ret);
      channels = f->ch_layout.nb_channels;
      sample_rate = f->sample_rate;
    }
    if (f->ch_layout.nb_channels != channels || f->sample_rate != sample_rate)
      return ffmpeg_report(error, "the sound changes its channels or sample rate midway");
    // Whatever still lies before time 0 is priming the container did not mark.
    std::int64_t skip = 0;
    if (f->best_effort_timestamp != AV_NOPTS_VALUE)
      skip = std::clamp<std::int64_t>(-in_samples(f->best_effort_timestamp), 0, f->nb_samples);
    const std::size_t at = out->size();
    out->resize(at + static_cast<std::size_t>(f->nb_samples) * channels);
    std::uint8_t *dst = reinterpret_cast<std::uint8_t *>(out->data() + at);
    int got = swr_convert(swr.get(), &dst, f->nb_samples, const_cast<const std::uint8_t **>(f->extended_data),
                          f->nb_samples);
    if (got < 0)
      return failed(error, "converting samples", got);
    out->resize(at + static_cast<std::size_t>(got) * channels);
    const auto drop = static_cast<std::ptrdiff_t>(std::min<std::int64_t>(skip, got) * channels);
    out->erase(out->begin() + static_cast<std::ptrdiff_t>(at), out->begin() + static_cast<std::ptrdiff_t>(at) + drop);
    return true;
  }

  bool drain(std::string *error) {
    for (;;) {
      int ret = avcodec_receive_frame(dec.get(), frame.get());
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
        return true;
      if (ret < 0)
        return failed(error, "decoding audio", ret);
      bool ok = convert(error);
      av_frame_unref(frame.get());
      if (!ok)
        return false;
    }
  }

  bool feed(const AVPacket *pkt, std::string *error) {
    if (pkt && pkt->pts != AV_NOPTS_VALUE && pkt->duration > 0)
      end = std::max(end, in_samples(pkt->pts + pkt->duration));
    int ret = avcodec_send_packet(dec.get(), pkt);
    if (ret < 0 && ret != AVERROR_EOF)
      return failed(error, "decoding audio", ret);
    return drain(error);
  }

  // The encoder's last frame is padded past the end the packets state.
  void cut_end() {
    if (end == std::numeric_limits<std::int64_t>::min() || channels == 0)
      return;
    const auto keep = static_cast<std::size_t>(std::max<std::int64_t>(end, 0)) * channels;
    if (out->size() > keep)
      out->resize(keep);
  }
};

std::string tag(AVFormatContext *in, const char *key) {
  const AVDictionaryEntry *e = av_dict_get(in->metadata, key, nullptr, 0);
  return e ? e->value : "";
}

// Reads the packets of `in` in file order, each handed to `take` (false
// from it stops, failed), until the end or until `more` says enough.
template <typename Take, typename More>
bool read_packets(AVFormatContext *in, const std::string &path, Take take, More more, std::string *error) {
  packet_t pkt{av_packet_alloc()};
  if (!pkt)
    return failed(error, "allocating a packet", AVERROR(ENOMEM));
  while (more()) {
    const int ret = av_read_frame(in, pkt.get());
    if (ret == AVERROR_EOF)
      return true;
    if (ret < 0)
      return failed(error, "reading " + path, ret);
    const bool ok = take(pkt.get());
    av_packet_unref(pkt.get());
    if (!ok)
      return false;
  }
  return true;
}

} // namespace

bool video_probe_read(const std::string &path, video_probe_info *info, std::string *error) {
  *info = video_probe_info{};
  input_t in;
  if (!open_input(path, &in, error))
    return false;
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVMediaType kind = in->streams[i]->codecpar->codec_type;
    info->video_streams += kind == AVMEDIA_TYPE_VIDEO;
    info->audio_streams += kind == AVMEDIA_TYPE_AUDIO;
  }
  info->title = tag(in.get(), "title");
  info->artist = tag(in.get(), "artist");
  info->copyright = tag(in.get(), "copyright");

  const int video = first_stream(in.get(), AVMEDIA_TYPE_VIDEO);
  if (video >= 0) {
    const AVStream *s = in->streams[video];
    info->video_codec = avcodec_get_name(s->codecpar->codec_id);
    info->width = s->codecpar->width;
    info->height = s->codecpar->height;
    const char *format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(s->codecpar->format));
    info->pixel_format = format ? format : "";
    const AVRational rate = s->avg_frame_rate.num > 0 ? s->avg_frame_rate : s->r_frame_rate;
    info->fps = rate.den > 0 ? av_q2d(rate) : 0;
  }

  const int audio = first_stream(in.get(), AVMEDIA_TYPE_AUDIO);
  std::vector<float> samples;
  sound_reader sound;
  if (audio >= 0) {
    const AVStream *s = in->streams[audio];
    info->audio_codec = avcodec_get_name(s->codecpar->codec_id);
    info->sample_rate = s->codecpar->sample_rate;
    info->channels = s->codecpar->ch_layout.nb_channels;
    if (!sound.open(in->streams[audio], &samples, error))
      return false;
  }

  const auto take = [&](AVPacket *pkt) {
    if (pkt->stream_index == video)
      ++info->video_frames;
    else if (pkt->stream_index == audio)
      return sound.feed(pkt, error);
    return true;
  };
  if (!read_packets(in.get(), path, take, [] { return true; }, error))
    return false;
  if (audio >= 0) {
    if (!sound.feed(nullptr, error))
      return false;
    sound.cut_end();
    if (sound.channels > 0 && sound.sample_rate > 0)
      info->audio_seconds = static_cast<double>(samples.size() / sound.channels) / sound.sample_rate;
  }
  return true;
}

bool video_probe_frames(const std::string &path, const std::vector<long> &numbers,
                        std::vector<std::vector<unsigned char>> *rgb, std::string *error) {
  rgb->assign(numbers.size(), {});
  if (numbers.empty())
    return true;
  input_t in;
  if (!open_input(path, &in, error))
    return false;
  const int video = first_stream(in.get(), AVMEDIA_TYPE_VIDEO);
  if (video < 0)
    return ffmpeg_report(error, path + " has no video stream");
  codec_t dec;
  if (!open_decoder(in->streams[video], &dec, error))
    return false;

  const long last = *std::max_element(numbers.begin(), numbers.end());
  std::size_t wanted = numbers.size();
  long number = 0; // of the next picture out of the decoder
  frame_t frame{av_frame_alloc()};
  if (!frame)
    return failed(error, "allocating a frame", AVERROR(ENOMEM));
  std::unique_ptr<SwsContext, ffmpeg_sws_free> sws;

  auto take = [&]() -> bool {
    AVFrame *f = frame.get();
    const long n = number++;
    if (std::find(numbers.begin(), numbers.end(), n) == numbers.end())
      return true;
    sws.reset(sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width, f->height,
                             AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                             nullptr, nullptr));
    if (!sws)
      return ffmpeg_report(error, "setting up the conversion to RGB failed");
    // The matrix and range the file is tagged with; untagged means BT.601.
    const int *matrix = sws_getCoefficients(f->colorspace);
    sws_setColorspaceDetails(sws.get(), matrix, f->color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    std::vector<unsigned char> picture(static_cast<std::size_t>(f->width) * f->height * 3);
    std::uint8_t *planes[] = {picture.data()};
    const int strides[] = {f->width * 3};
    sws_scale(sws.get(), f->data, f->linesize, 0, f->height, planes, strides);
    for (std::size_t i = 0; i < numbers.size(); ++i)
      if (numbers[i] == n) {
        (*rgb)[i] = picture;
        --wanted;
      }
    return true;
  };
  auto drain = [&]() -> bool {
    for (;;) {
      int ret = avcodec_receive_frame(dec.get(), frame.get());
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
        return true;
      if (ret < 0)
        return failed(error, "decoding video", ret);
      bool ok = take();
      av_frame_unref(frame.get());
      if (!ok)
        return false;
    }
  };

  const auto decode = [&](AVPacket *pkt) {
    if (pkt->stream_index != video)
      return true;
    const int ret = avcodec_send_packet(dec.get(), pkt);
    return ret >= 0 ? drain() : failed(error, "decoding video", ret);
  };
  if (!read_packets(in.get(), path, decode, [&] { return wanted > 0 && number <= last; }, error))
    return false;
  if (wanted > 0) {
    int ret = avcodec_send_packet(dec.get(), nullptr);
    if (ret < 0)
      return failed(error, "decoding video", ret);
    if (!drain())
      return false;
  }
  if (wanted > 0) {
    for (std::size_t i = 0; i < numbers.size(); ++i)
      if ((*rgb)[i].empty())
        return ffmpeg_report(error, path + " has no picture " + std::to_string(numbers[i]) + " (it holds " +
                                 std::to_string(number) + ")");
  }
  return true;
}

bool video_probe_audio(const std::string &path, std::vector<float> *interleaved, int *channels, int *sample_rate,
                       std::string *error) {
  interleaved->clear();
  input_t in;
  if (!open_input(path, &in, error))
    return false;
  const int audio = first_stream(in.get(), AVMEDIA_TYPE_AUDIO);
  if (audio < 0)
    return ffmpeg_report(error, path + " has no audio stream");
  sound_reader sound;
  if (!sound.open(in->streams[audio], interleaved, error))
    return false;
  const auto take = [&](AVPacket *pkt) { return pkt->stream_index != audio || sound.feed(pkt, error); };
  if (!read_packets(in.get(), path, take, [] { return true; }, error))
    return false;
  if (!sound.feed(nullptr, error))
    return false;
  sound.cut_end();
  *channels = sound.channels ? sound.channels : in->streams[audio]->codecpar->ch_layout.nb_channels;
  *sample_rate = sound.sample_rate ? sound.sample_rate : in->streams[audio]->codecpar->sample_rate;
  return true;
}
