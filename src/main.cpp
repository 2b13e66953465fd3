// The show driver: start-up, the scenes in order, shut-down.
//
// The driver checks no result and reports nothing itself; the modules it calls
// report their own failures (and end the process only where a failure leaves
// nothing to show or play).
#include "alsaplay.h"
#include "assets.h"
#include "credits.h"
#include "ellipses_scene.h"
#include "greetings.h"
#include "image_linear.h"
#include "into_the_blue.h"
#include "logo.h"
#include "opc.h"
#include "present.h"
#include "show_timeline.h"
#include "spectrum_analyzer.h"
#include "thank_slide.h"
#include "title_zoom.h"
#include "twister_scene.h"
#include "tremor_in_ram.h"

#include <tremor/ivorbisfile.h>

#include <cstdio>
#include <cstring>

#ifdef NDEBUG
#error "the show relies on assert(): build it without NDEBUG"
#endif

namespace {

// The soundtrack's decoder state, the driver's for the whole run; the player
// and the in-memory source work on it and never own it.
OggVorbis_File vf;

const char *const USAGE =
    "usage: ledwall-demo [--help | --version]\n"
    "  plays the show once: the frames to the LED server named by $OPC (host, host:port\n"
    "  or :port; default localhost:7890), the soundtrack on ALSA's default device\n"
    "  (ALSA_CARD picks another card); exits 0 when the soundtrack has ended\n";

// The show takes no arguments. Only --help and --version are answered, and
// anything else is refused rather than ignored, so that a mistyped option
// does not start a seven-minute show. Returns the exit status, or -1 to play.
int answer_arguments(int argc, char **argv) {
  if (argc == 1)
    return -1;
  const bool help = std::strcmp(argv[1], "--help") == 0, version = std::strcmp(argv[1], "--version") == 0;
  if (argc == 2 && help) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (argc == 2 && version) {
    std::puts("ledwall-demo " LEDWALL_VERSION);
    return 0;
  }
  std::fprintf(stderr, "ledwall-demo: unexpected argument '%s'\n", help || version ? argv[2] : argv[1]);
  std::fputs(USAGE, stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (const int status = answer_arguments(argc, argv); status >= 0)
    return status;

  // Start-up, in this order. The sink comes from $OPC (else localhost:7890)
  // and does not connect yet: the first frame sent connects.
  const opc_sink s = opc_new_sink(nullptr);
  const alsaplay_t alsa = alsaplay_init(&vf);
  const image_zoom_t zoom = vorn_zoom_init();
  ov_load_data(OGG_SOUNDTRACK, OGG_SOUNDTRACK_SIZE, &vf);
  alsaplay_setup(alsa, &vf); // the device is open and silent until the title starts playback

  // The show, scene by scene as its timeline lists them. A scene that ends on
  // the music takes its end time (a soundtrack position, in milliseconds)
  // from there; the others play a fixed number of frames.
  vorn_title(s, zoom, alsa, show_cue_ms("title")); // starts playback
  present_draw(s);
  logo_draw(s);
  image_linear(s, alsa, show_cue_ms("panorama"), PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
  ellipses(s, alsa, show_cue_ms("ellipses"));
  into_the_blue(s, alsa, show_cue_ms("into the blue"));
  twister(s, alsa, show_cue_ms("twister"));
  image_sinus_analyzer(s, alsa, show_cue_ms("analyser"), PNG_VORN_SCENE_DRINK, int(PNG_VORN_SCENE_DRINK_SIZE));
  credits(s, PNG_CREDITS_GFX_LEAD, int(PNG_CREDITS_GFX_LEAD_SIZE), PNG_CREDITS_TXT_LEAD, int(PNG_CREDITS_TXT_LEAD_SIZE));
  thank_slide(s);
  credits(s, PNG_CREDITS_GFX_GFX, int(PNG_CREDITS_GFX_GFX_SIZE), PNG_CREDITS_TXT_GFX, int(PNG_CREDITS_TXT_GFX_SIZE));
  credits(s, PNG_CREDITS_GFX_MUSIC, int(PNG_CREDITS_GFX_MUSIC_SIZE), PNG_CREDITS_TXT_MUSIC,
          int(PNG_CREDITS_TXT_MUSIC_SIZE));
  credits(s, PNG_CREDITS_GFX_CODE, int(PNG_CREDITS_GFX_CODE_SIZE), PNG_CREDITS_TXT_CODE, int(PNG_CREDITS_TXT_CODE_SIZE));
  greetings(s, zoom, alsa, show_cue_ms("greetings")); // holds the canvas until its cue, then to the soundtrack's end

  // Shut-down: the zoom, then the player (join its thread, close the
  // device, clear the decoder) before releasing it.
  vorn_zoom_done(zoom);
  alsaplay_stop(alsa);
  alsaplay_done(alsa);
  return 0;
}
