// The show from start-up to shut-down: the sink, the player and the shared
// zoom, the scenes in the timeline's order, then the release of all three.
//
// The driver checks no result and reports nothing itself; the modules it calls
// report their own failures (and end the process only where a failure leaves
// nothing to show or play).
#include "show_driver.h"

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

#ifdef NDEBUG
#error "the show relies on assert(): build it without NDEBUG"
#endif

namespace {

// The soundtrack's decoder state, the driver's for the whole run; the player
// and the in-memory source work on it and never own it.
OggVorbis_File vf;

} // namespace

int show_run(show_scene_observer observer, void *context) {
  const auto starts = [&](std::size_t scene) {
    if (observer)
      observer(scene, context);
  };

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
  starts(show_scene_index("title"));
  vorn_title(s, zoom, alsa, show_cue_ms("title")); // starts playback
  starts(show_scene_index("present"));
  present_draw(s);
  starts(show_scene_index("logo"));
  logo_draw(s);
  starts(show_scene_index("panorama"));
  image_linear(s, alsa, show_cue_ms("panorama"), PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
  starts(show_scene_index("ellipses"));
  ellipses(s, alsa, show_cue_ms("ellipses"));
  starts(show_scene_index("into the blue"));
  into_the_blue(s, alsa, show_cue_ms("into the blue"));
  starts(show_scene_index("twister"));
  twister(s, alsa, show_cue_ms("twister"));
  starts(show_scene_index("analyser"));
  image_sinus_analyzer(s, alsa, show_cue_ms("analyser"), PNG_VORN_SCENE_DRINK, int(PNG_VORN_SCENE_DRINK_SIZE));
  starts(show_scene_index("credits: lead"));
  credits(s, PNG_CREDITS_GFX_LEAD, int(PNG_CREDITS_GFX_LEAD_SIZE), PNG_CREDITS_TXT_LEAD, int(PNG_CREDITS_TXT_LEAD_SIZE));
  starts(show_scene_index("thank you"));
  thank_slide(s);
  starts(show_scene_index("credits: graphics"));
  credits(s, PNG_CREDITS_GFX_GFX, int(PNG_CREDITS_GFX_GFX_SIZE), PNG_CREDITS_TXT_GFX, int(PNG_CREDITS_TXT_GFX_SIZE));
  starts(show_scene_index("credits: music"));
  credits(s, PNG_CREDITS_GFX_MUSIC, int(PNG_CREDITS_GFX_MUSIC_SIZE), PNG_CREDITS_TXT_MUSIC,
          int(PNG_CREDITS_TXT_MUSIC_SIZE));
  starts(show_scene_index("credits: code"));
  credits(s, PNG_CREDITS_GFX_CODE, int(PNG_CREDITS_GFX_CODE_SIZE), PNG_CREDITS_TXT_CODE, int(PNG_CREDITS_TXT_CODE_SIZE));
  starts(show_scene_index("greetings"));
  greetings(s, zoom, alsa, show_cue_ms("greetings")); // holds the canvas until its cue, then to the soundtrack's end

  // Shut-down: the zoom, then the player (join its thread, close the
  // device, clear the decoder) before releasing it.
  vorn_zoom_done(zoom);
  alsaplay_stop(alsa);
  alsaplay_done(alsa);
  return 0;
}
