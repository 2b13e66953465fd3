#include "soundtrack_pcm.h"

#include "assets.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

struct soundtrack_pcm_s {
  OggVorbis_File vf{};
  int rate = 0, channels = 0;
  std::int64_t frames = 0;
  std::int64_t decoded_to = 0;       // the stream position of the next sample frame ov_read gives
  std::vector<std::int16_t> pending; // decoded past the last read, from decoded_to - pending frames on
};

soundtrack_pcm_t soundtrack_pcm_init(std::string *error) {
  auto pcm = std::make_unique<soundtrack_pcm_s>();
  if (const int result = ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &pcm->vf); result != 0) {
    *error = "the soundtrack does not open (decoder error " + std::to_string(result) + ")";
    return nullptr;
  }
  const vorbis_info *info = ov_info(&pcm->vf, -1);
  pcm->rate = int(info->rate);
  pcm->channels = info->channels;
  pcm->frames = ov_pcm_total(&pcm->vf, -1);
  return pcm.release();
}

void soundtrack_pcm_done(soundtrack_pcm_t pcm) {
  if (!pcm)
    return;
  ov_clear(&pcm->vf);
  delete pcm;
}

int soundtrack_pcm_rate(soundtrack_pcm_t pcm) { return pcm->rate; }
int soundtrack_pcm_channels(soundtrack_pcm_t pcm) { return pcm->channels; }
std::int64_t soundtrack_pcm_frames(soundtrack_pcm_t pcm) { return pcm->frames; }

std::string soundtrack_pcm_tag(soundtrack_pcm_t pcm, const std::string &name) {
  const vorbis_comment *comments = ov_comment(&pcm->vf, -1);
  for (int i = 0; comments && i < comments->comments; ++i) {
    const std::string comment(comments->user_comments[i], std::size_t(comments->comment_lengths[i]));
    const std::size_t equals = comment.find('=');
    if (equals != name.size())
      continue;
    if (std::equal(name.begin(), name.end(), comment.begin(),
                   [](char a, char b) { return std::toupper((unsigned char)a) == std::toupper((unsigned char)b); }))
      return comment.substr(equals + 1);
  }
  return "";
}

bool soundtrack_pcm_read(soundtrack_pcm_t pcm, std::int64_t first, int frames, std::int16_t *out,
                         std::string *error) {
  const int ch = pcm->channels;
  std::fill(out, out + std::ptrdiff_t(frames) * ch, std::int16_t(0));
  // The part of the request inside the stream.
  const std::int64_t from = std::max<std::int64_t>(first, 0);
  const std::int64_t to = std::min<std::int64_t>(first + frames, pcm->frames);
  if (from >= to)
    return true;
  const std::int64_t pending_from = pcm->decoded_to - std::int64_t(pcm->pending.size()) / ch;
  if (from != pending_from) {
    if (ov_pcm_seek(&pcm->vf, from) != 0) {
      *error = "the soundtrack cannot be sought to sample " + std::to_string(from);
      return false;
    }
    pcm->pending.clear();
    pcm->decoded_to = from;
  }
  while (pcm->decoded_to < to) {
    char buffer[8192];
    int bitstream = 0;
    const long got = ov_read(&pcm->vf, buffer, sizeof buffer, &bitstream);
    if (got <= 0) {
      if (got == 0)
        break; // the stream ended early: silence for the rest
      *error = "the soundtrack does not decode at sample " + std::to_string(pcm->decoded_to) + " (decoder error " +
               std::to_string(got) + ")";
      return false;
    }
    const std::size_t samples = std::size_t(got) / sizeof(std::int16_t);
    const std::size_t at = pcm->pending.size();
    pcm->pending.resize(at + samples);
    std::memcpy(pcm->pending.data() + at, buffer, samples * sizeof(std::int16_t));
    pcm->decoded_to += std::int64_t(samples) / ch;
  }
  const std::size_t have = std::min(pcm->pending.size(), std::size_t(to - from) * std::size_t(ch));
  std::copy(pcm->pending.begin(), pcm->pending.begin() + std::ptrdiff_t(have),
            out + std::ptrdiff_t(from - first) * ch);
  pcm->pending.erase(pcm->pending.begin(), pcm->pending.begin() + std::ptrdiff_t(have));
  return true;
}
