#include "scene_harness.h"

#include "assets.h"
#include "tremor_in_ram.h"
#include "virtual_player.h"
#include "virtual_time.h"

scene_harness::scene_harness() : sink(opc_new_sink(server.hostport().c_str())) {
  virtual_time_set_ns(50'000'000'000);
  alsa = alsaplay_init(&vf);
  ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf);
  alsaplay_setup(alsa, &vf);
}

void scene_harness::restart_player() {
  alsaplay_done(alsa);
  vf = OggVorbis_File{};
  alsa = alsaplay_init(&vf);
  ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf);
  alsaplay_setup(alsa, &vf);
}

scene_harness::~scene_harness() { alsaplay_done(alsa); }

void scene_harness::play_until(std::int64_t ms) {
  if (virtual_player_started_ns() < 0)
    alsaplay_start(alsa);
  const std::int64_t target = virtual_player_started_ns() + ms * 1'000'000;
  if (virtual_time_ns() < target)
    virtual_time_advance_ns(target - virtual_time_ns());
}

double scene_harness::played_ms() const {
  return double(virtual_time_ns() - virtual_player_started_ns()) / 1e6;
}

std::vector<wall_pixels> scene_harness::frames(size_t expected) { return received_frames(server, expected); }

wall_pixels pixels_of(gdImagePtr im) {
  wall_pixels out{};
  for (int p = 0; p < 512; ++p) {
    const int c = gdImageGetPixel(im, p % 32, p / 32);
    out[size_t(p)] = {gdImageRed(im, c), gdImageGreen(im, c), gdImageBlue(im, c)};
  }
  return out;
}

bool all_black(const wall_pixels &f) {
  for (const auto &p : f)
    if (p != BLACK)
      return false;
  return true;
}
