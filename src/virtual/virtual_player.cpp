#include "virtual_player.h"

#include "alsaplay.h"
#include "virtual_time.h"

#include <tremor/ivorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct alsaplay_s {
  OggVorbis_File *vf = nullptr;
  bool set_up = false;
  bool started = false;
  bool stopped = false;
  std::int64_t start_ns = -1;
  long rate = 44100;
  int sample_size = 4;
  alsaplay_time_t pcm_total = 0;
  alsaplay_time_t time_total = 0;
  long blocks = 0;
  alsaplay_tap_t tap = nullptr;
  unsigned char buffer[ALSAPLAY_BLOCK_BYTES];
};

namespace {

alsaplay_t current = nullptr; // for the inspection functions of the header
bool feed_taps = true;
int tap_changes = 0;

long frames_per_block(alsaplay_t a) { return ALSAPLAY_BLOCK_BYTES / a->sample_size; }

// Blocks written by now: the first goes out at the start, then one per
// block's duration, as a blocking device write paces the real thread.
long blocks_due(alsaplay_t a) {
  if (!a->started || a->stopped)
    return a->blocks;
  const std::int64_t elapsed_ns = virtual_time_ns() - a->start_ns;
  const long frames = long(elapsed_ns * a->rate / 1'000'000'000);
  return frames / frames_per_block(a) + 1;
}

// Decodes blocks up to the present, calling the tap for each, as the real
// audio thread would have done by now.
void catch_up(alsaplay_t a) {
  for (const long due = blocks_due(a); a->blocks < due; ++a->blocks) {
    if (a->vf && a->vf->datasource) {
      int left = ALSAPLAY_BLOCK_BYTES;
      while (left > 0) {
        long n = ov_read(a->vf, reinterpret_cast<char *>(a->buffer) + (ALSAPLAY_BLOCK_BYTES - left), left, nullptr);
        if (n < 0) {
          std::perror("ov_read");
          std::exit(1);
        }
        if (n == 0) {
          std::memset(a->buffer + (ALSAPLAY_BLOCK_BYTES - left), 0, size_t(left));
          n = left;
        }
        left -= int(n);
      }
    }
    if (a->tap && feed_taps)
      a->tap(a->buffer, ALSAPLAY_BLOCK_BYTES);
  }
}

alsaplay_time_t frames_now(alsaplay_t a) {
  catch_up(a);
  const long long frames = (long long)a->blocks * frames_per_block(a);
  return alsaplay_time_t(frames < a->pcm_total ? frames : a->pcm_total);
}

} // namespace

alsaplay_t alsaplay_init(OggVorbis_File *vf) {
  current = new alsaplay_s;
  current->vf = vf;
  return current;
}

void alsaplay_setup(alsaplay_t a, OggVorbis_File *vf) {
  a->vf = vf;
  const vorbis_info *info = ov_info(vf, -1);
  if (ov_pcm_total(vf, -1) < 0 || !info) {
    std::printf("Stream open error: no playable Ogg Vorbis stream\n");
    std::exit(1);
  }
  a->pcm_total = alsaplay_time_t(ov_pcm_total(vf, -1));
  a->time_total = alsaplay_time_t(ov_time_total(vf, -1));
  a->rate = info->rate;
  a->sample_size = info->channels * 2;
  a->set_up = true;
}

int alsaplay_file(alsaplay_t, const char *) { return -1; }

void alsaplay_start(alsaplay_t a) {
  a->started = true;
  a->start_ns = virtual_time_ns();
}

void alsaplay_stop(alsaplay_t a) {
  if (a->stopped)
    return;
  catch_up(a);
  a->stopped = true;
  if (a->vf)
    ov_clear(a->vf);
}

void alsaplay_done(alsaplay_t a) {
  alsaplay_stop(a);
  if (current == a)
    current = nullptr;
  delete a;
}

alsaplay_time_t alsaplay_pos_sample(alsaplay_t a) { return frames_now(a); }

alsaplay_time_t alsaplay_pos_time(alsaplay_t a) {
  const alsaplay_time_t frames = frames_now(a);
  return frames >= a->pcm_total ? a->time_total : alsaplay_time_t((long long)frames * 1000 / a->rate);
}

alsaplay_time_t alsaplay_total_sample(alsaplay_t a) { return a->pcm_total; }

alsaplay_time_t alsaplay_total_time(alsaplay_t a) { return a->time_total; }

void alsaplay_set_tap(alsaplay_t a, alsaplay_tap_t tap) {
  catch_up(a); // blocks until now went to the old tap
  a->tap = tap;
  ++tap_changes;
}

OggVorbis_File *alsaplay_vf(alsaplay_t a) { return a->vf; }

std::int64_t virtual_player_started_ns() { return current ? current->start_ns : -1; }

long virtual_player_blocks() { return current ? current->blocks : 0; }

void virtual_player_feed_taps(bool feed) { feed_taps = feed; }

alsaplay_tap_t virtual_player_tap() { return current ? current->tap : nullptr; }

int virtual_player_tap_changes() { return tap_changes; }
