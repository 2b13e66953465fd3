// Instruction counts of the show, scene by scene, under callgrind: the show's
// own sequence in virtual time (both doubles, the real assets, a loopback
// server), each part collected on its own and dumped with its frame count.
// Machine load does not change the figures; bench/instructions.sh runs this
// and turns the dumps into a table.
//
// Run under valgrind --tool=callgrind --collect-atstart=no: collection is on
// only while a part runs, and only on this (the main) thread, so neither the
// harness nor the loopback server's thread is counted. Each dump's trigger
// reads "part=NAME;frames=N;blocks=B": N frames reached the server, and the
// virtual player decoded B blocks of the soundtrack on the way. That decoding
// (and the spectrum tap it feeds) is the audio thread's work in the show; it
// stays in the dump, and the script subtracts its inclusive cost.
#include "assets.h"
#include "credits.h"
#include "ellipses_scene.h"
#include "greetings.h"
#include "image_linear.h"
#include "into_the_blue.h"
#include "logo.h"
#include "present.h"
#include "scene_harness.h"
#include "show_timeline.h"
#include "spectrum_analyzer.h"
#include "thank_slide.h"
#include "title_zoom.h"
#include "twister_scene.h"
#include "virtual_player.h"

#include <valgrind/callgrind.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

// Frames the server has received once nothing more is on its way.
std::size_t settled_frames(const loopback_opc_server &server) {
  std::size_t count = server.message_count();
  for (int quiet_polls = 0; quiet_polls < 5;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::size_t now = server.message_count();
    quiet_polls = now == count ? quiet_polls + 1 : 0;
    count = now;
  }
  return count;
}

template <typename Part> void measure(scene_harness &h, const char *name, Part part) {
  const std::size_t frames_before = settled_frames(h.server);
  const long blocks_before = virtual_player_blocks();
  CALLGRIND_TOGGLE_COLLECT;
  part();
  CALLGRIND_TOGGLE_COLLECT;
  const long blocks = virtual_player_blocks() - blocks_before;
  const std::size_t frames = settled_frames(h.server) - frames_before;
  const std::string trigger =
      "part=" + std::string(name) + ";frames=" + std::to_string(frames) + ";blocks=" + std::to_string(blocks);
  CALLGRIND_DUMP_STATS_AT(trigger.c_str());
  std::printf("%-32s %6zu frames %6ld blocks\n", name, frames, blocks);
}

} // namespace

int main() {
  if (!RUNNING_ON_VALGRIND)
    std::fprintf(stderr, "scene_instructions: not under valgrind, nothing is counted (see bench/instructions.sh)\n");

  scene_harness h; // the sink, the player and the opened soundtrack, as at start-up
  h.server.set_keeping(false);
  const opc_sink s = h.sink;
  const alsaplay_t alsa = h.alsa;
  image_zoom_t zoom = nullptr;

  // The show's sequence with its arguments, the end times from the show's
  // timeline; the title starts playback, so every scene starts at the
  // position where the show starts it.
  measure(h, "start-up: greetings zoom", [&] { zoom = vorn_zoom_init(); });
  measure(h, "title", [&] { vorn_title(s, zoom, alsa, show_cue_ms("title")); });
  measure(h, "present", [&] { present_draw(s); });
  measure(h, "logo", [&] { logo_draw(s); });
  measure(h, "panorama", [&] {
    image_linear(s, alsa, show_cue_ms("panorama"), PNG_SUPER_WORLD, int(PNG_SUPER_WORLD_SIZE));
  });
  measure(h, "ellipses", [&] { ellipses(s, alsa, show_cue_ms("ellipses")); });
  measure(h, "into the blue", [&] { into_the_blue(s, alsa, show_cue_ms("into the blue")); });
  measure(h, "twister", [&] { twister(s, alsa, show_cue_ms("twister")); });
  measure(h, "analyser", [&] {
    image_sinus_analyzer(s, alsa, show_cue_ms("analyser"), PNG_VORN_SCENE_DRINK, int(PNG_VORN_SCENE_DRINK_SIZE));
  });
  measure(h, "credits: lead", [&] {
    credits(s, PNG_CREDITS_GFX_LEAD, int(PNG_CREDITS_GFX_LEAD_SIZE), PNG_CREDITS_TXT_LEAD, int(PNG_CREDITS_TXT_LEAD_SIZE));
  });
  measure(h, "thank-you slide", [&] { thank_slide(s); });
  measure(h, "credits: graphics", [&] {
    credits(s, PNG_CREDITS_GFX_GFX, int(PNG_CREDITS_GFX_GFX_SIZE), PNG_CREDITS_TXT_GFX, int(PNG_CREDITS_TXT_GFX_SIZE));
  });
  measure(h, "credits: music", [&] {
    credits(s, PNG_CREDITS_GFX_MUSIC, int(PNG_CREDITS_GFX_MUSIC_SIZE), PNG_CREDITS_TXT_MUSIC,
            int(PNG_CREDITS_TXT_MUSIC_SIZE));
  });
  measure(h, "credits: code", [&] {
    credits(s, PNG_CREDITS_GFX_CODE, int(PNG_CREDITS_GFX_CODE_SIZE), PNG_CREDITS_TXT_CODE, int(PNG_CREDITS_TXT_CODE_SIZE));
  });
  measure(h, "greetings", [&] { greetings(s, zoom, alsa, show_cue_ms("greetings")); });

  // The greetings' three kinds of move once more, each alone (the flight's
  // figure above averages them with its hold, fade and black frames).
  measure(h, "greetings: pan (move 1)", [&] { linear(s, 1, zoom); });
  measure(h, "greetings: jump (move 2)", [&] { jump(s, 2, zoom); });
  measure(h, "greetings: jump-out (move 75)", [&] { jump_out(s, 75, zoom); });

  vorn_zoom_done(zoom);
  return 0;
}
