#include "alsaplay.h"

#include "fatal.h"
#include "monotonic_now.h"
#include "tremor_in_ram.h"

#include <alsa/asoundlib.h>
#include <tremor/ivorbisfile.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pthread.h>

// Fields two threads share are atomics with sequentially consistent order.
// The tap hand-over depends on it: each thread stores one field and then
// loads the other, and only a single total order of those stores and loads
// guarantees that one of them sees the other's store.
struct alsaplay_s {
  OggVorbis_File *vf;      // the caller's; used only by the audio thread while it runs
  snd_pcm_t *handle;       // written in setup, closed in stop
  unsigned char *buffer;   // the block, filled by the audio thread
  pthread_t thread_id;
  std::atomic<alsaplay_time_t> pcm_pos;  // audio thread
  alsaplay_time_t pcm_total;             // setup, before the thread exists
  std::atomic<alsaplay_time_t> time_pos; // audio thread
  alsaplay_time_t time_total;            // setup
  int sample_size;                       // setup: bytes per frame
  std::atomic<int> done;                 // main thread: 1 asks the thread to end
  int loop;                              // 0; nothing sets it
  std::atomic<alsaplay_tap_t> tap;       // main thread

  // Beyond the basic player:
  bool started;                          // a thread was created (and not yet joined)
  long rate;                             // frames per second, for the fallback clock
  std::atomic<int> tap_running;          // 1 while the audio thread is inside a tap call
  std::atomic<bool> device_lost;         // the thread ended after a device failure
  std::atomic<long long> lost_at_ns;     // when, on the monotonic clock
};

namespace {

const char *const device = "default";

void *audio_thread(void *arg) {
  const alsaplay_t alsa = static_cast<alsaplay_t>(arg);
  const snd_pcm_uframes_t frames = snd_pcm_uframes_t(ALSAPLAY_BLOCK_BYTES / alsa->sample_size);

  // `done` is read once at the start of a block and decides whether another
  // block follows this one: a stop that arrives during a block lets that block
  // and one more be decoded, written and tapped before the thread ends.
  for (bool last = false; !last;) {
    last = alsa->done != 0;
    int bytes_left = ALSAPLAY_BLOCK_BYTES;
    unsigned char *readpos = alsa->buffer;
    while (bytes_left > 0) {
      long bytes_decoded = ov_read(alsa->vf, reinterpret_cast<char *>(readpos), bytes_left, nullptr);
      if (bytes_decoded < 0) {
        errno = EIO; // the decoder's codes are not errno values
        fatal_perror("ov_read");
      }
      if (bytes_decoded == 0) {
        if (alsa->loop) {
          ov_raw_seek(alsa->vf, 0);
          continue;
        }
        std::memset(readpos, 0, size_t(bytes_left));
        bytes_decoded = bytes_left;
      }
      readpos += bytes_decoded;
      bytes_left -= int(bytes_decoded);
    }

    snd_pcm_sframes_t written = snd_pcm_writei(alsa->handle, alsa->buffer, frames);
    if (written == -EAGAIN)
      continue;
    if (written < 0)
      written = snd_pcm_recover(alsa->handle, int(written), 0);
    if (written < 0) {
      std::printf("snd_pcm_writei failed: %s\n", snd_strerror(int(written)));
      std::fflush(stdout);
      alsa->lost_at_ns = monotonic_ns();
      alsa->device_lost = true;
      return nullptr;
    }

    alsa->pcm_pos = alsaplay_time_t(ov_pcm_tell(alsa->vf));
    alsa->time_pos = alsaplay_time_t(ov_time_tell(alsa->vf));
    // Announce the tap call before reading the pointer: alsaplay_set_tap
    // stores the new pointer before it looks at tap_running, so between the
    // two orders one of the threads always sees the other.
    alsa->tap_running = 1;
    if (const alsaplay_tap_t tap = alsa->tap)
      tap(alsa->buffer, ALSAPLAY_BLOCK_BYTES);
    alsa->tap_running = 0;
    alsa->tap_running.notify_all();
  }
  return nullptr;
}

// After the device is lost the positions run on from where the thread left
// them, at the stream's rate, up to the stream's length.
alsaplay_time_t since_device_lost(alsaplay_t alsa, alsaplay_time_t last, alsaplay_time_t total, long per_second) {
  const long long elapsed_ns = monotonic_ns() - alsa->lost_at_ns;
  const long long advanced = (long long)last + elapsed_ns / 1000 * per_second / 1'000'000;
  return alsaplay_time_t(advanced < total ? advanced : total);
}

} // namespace

alsaplay_t alsaplay_init(OggVorbis_File *vf) {
  auto *alsa = allocated_or_exit(new (std::nothrow) alsaplay_s{});
  alsa->vf = vf;
  // A failed allocation here is reported by alsaplay_setup.
  alsa->buffer = static_cast<unsigned char *>(std::malloc(ALSAPLAY_BLOCK_BYTES));
  return alsa;
}

void alsaplay_setup(alsaplay_t alsa, OggVorbis_File *vf) {
  alsa->vf = vf;
  // A stream that did not open has no length and no format; playing it would
  // be noise or nothing, so refuse before the device is touched.
  const ogg_int64_t pcm_total = ov_pcm_total(vf, -1);
  const vorbis_info *info = ov_info(vf, -1);
  if (pcm_total < 0 || !info) {
    std::printf("Stream open error: no playable Ogg Vorbis stream\n");
    std::fflush(stdout);
    std::exit(1);
  }
  alsa->pcm_total = alsaplay_time_t(pcm_total);
  alsa->time_total = alsaplay_time_t(ov_time_total(vf, -1));
  if (!alsa->buffer)
    fatal_perror("malloc");

  const int channels = info->channels;
  alsa->rate = info->rate;
  if (const int err = snd_pcm_open(&alsa->handle, device, SND_PCM_STREAM_PLAYBACK, 0); err < 0) {
    std::printf("Playback open error: %s\n", snd_strerror(err));
    std::fflush(stdout);
    std::exit(1);
  }
  alsa->sample_size = channels * 2;
  if (const int err = snd_pcm_set_params(alsa->handle, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                         unsigned(channels), unsigned(info->rate), 1, 50000);
      err < 0) {
    std::printf("Playback open error: %s\n", snd_strerror(err));
    std::fflush(stdout);
    std::exit(1);
  }
}

int alsaplay_file(alsaplay_t alsa, const char *filename) {
  const int result = ov_load_file(filename, alsa->vf);
  if (result == 0)
    alsaplay_setup(alsa, alsa->vf);
  return result;
}

void alsaplay_start(alsaplay_t alsa) {
  assert(alsa->handle && "alsaplay_start: alsaplay_setup comes first");
  assert(!alsa->started && "alsaplay_start: already started");
  alsa->done = 0;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0)
    fatal_perror("pthread_attr_init");
  if (const int err = pthread_create(&alsa->thread_id, nullptr, audio_thread, alsa); err != 0) {
    errno = err;
    fatal_perror("pthread_create");
  }
  alsa->started = true;
  if (pthread_attr_destroy(&attr) != 0)
    fatal_perror("pthread_attr_destroy");
}

// The order matters: the thread must have ended before the device it writes
// to is closed and before the decoder (and the stream under it) is cleared.
void alsaplay_stop(alsaplay_t alsa) {
  if (alsa->done)
    return;
  alsa->done = 1;
  if (alsa->started) {
    if (const int err = pthread_join(alsa->thread_id, nullptr); err != 0) {
      errno = err;
      std::perror("pthread_join");
    }
    alsa->started = false;
  }
  if (alsa->handle) {
    snd_pcm_close(alsa->handle);
    alsa->handle = nullptr;
  }
  if (alsa->vf)
    ov_clear(alsa->vf);
}

void alsaplay_done(alsaplay_t alsa) {
  if (!alsa)
    return;
  alsaplay_stop(alsa);
  std::free(alsa->buffer);
  delete alsa;
}

alsaplay_time_t alsaplay_pos_sample(alsaplay_t alsa) {
  const alsaplay_time_t pos = alsa->pcm_pos;
  return alsa->device_lost ? since_device_lost(alsa, pos, alsa->pcm_total, alsa->rate) : pos;
}

alsaplay_time_t alsaplay_pos_time(alsaplay_t alsa) {
  const alsaplay_time_t pos = alsa->time_pos;
  return alsa->device_lost ? since_device_lost(alsa, pos, alsa->time_total, 1000) : pos;
}

alsaplay_time_t alsaplay_total_sample(alsaplay_t alsa) { return alsa->pcm_total; }

alsaplay_time_t alsaplay_total_time(alsaplay_t alsa) { return alsa->time_total; }

void alsaplay_set_tap(alsaplay_t alsa, alsaplay_tap_t tap) {
  alsa->tap = tap;
  // Wait out a call of the previous tap that may still be running.
  while (alsa->tap_running == 1)
    alsa->tap_running.wait(1);
}

OggVorbis_File *alsaplay_vf(alsaplay_t alsa) { return alsa->vf; }
