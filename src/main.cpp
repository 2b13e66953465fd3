// The show driver: start-up, the scenes in order, shut-down.
//
// The driver checks no result and reports nothing itself; the modules it calls
// report their own failures (and end the process only where a failure leaves
// nothing to show or play).
#include "alsaplay.h"
#include "assets.h"
#include "opc.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#ifdef NDEBUG
#error "the show relies on assert(): build it without NDEBUG"
#endif

namespace {

// The soundtrack's decoder state, the driver's for the whole run; the player
// and the in-memory source work on it and never own it.
OggVorbis_File vf;

} // namespace

int main() {
  // Start-up, in this order. The sink comes from $OPC (else localhost:7890)
  // and does not connect yet: the first frame sent connects.
  const opc_sink s = opc_new_sink(nullptr);
  (void)s;
  const alsaplay_t alsa = alsaplay_init(&vf);
  ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf);
  alsaplay_setup(alsa, &vf); // the device is open and silent until the title starts playback

  // The show.

  // Shut-down: stop the player (join its thread, close the device, clear the
  // decoder) before releasing it.
  alsaplay_stop(alsa);
  alsaplay_done(alsa);
  return 0;
}
