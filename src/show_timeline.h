// The show's timeline: every scene the driver plays, in the order it plays
// them, with how each one ends. The driver takes its cues from here and the
// scenes their fixed frame counts; the simulator's reports, the tests and the
// benchmarks read the same table. Plain constants and no library header, so
// that the simulator and its tools build without the show's libraries.
//
// A scene ends in one of three ways:
// - at a cue: when the soundtrack's position reaches `cue_ms` (positions
//   count from the start of playback, which the title starts after its
//   fade-in); it may still send `frames_after_cue` frames then (a fade-out,
//   a black frame);
// - after a fixed number of frames, `frames`, whatever the music does;
// - at the show's end: the greetings hold the whole canvas until `cue_ms`,
//   fade it out and show black until the soundtrack ends.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class scene_end { at_cue, after_frames, at_show_end };

struct show_scene {
  const char *name; // as people read it: "panorama", "credits: music"
  scene_end end;
  int cue_ms;           // at_cue: the position that ends it; at_show_end: where its hold ends
  int frames;           // after_frames: all its frames
  int frames_after_cue; // at_cue: the frames it still sends once the cue is reached
};

// The frame counts the scenes' own code runs to. The title's fade-in comes
// before playback starts, so every cue lies that many frames into the show
// plus the cue's time.
inline constexpr int PLAYBACK_STARTS_AFTER_FRAMES = 24;
inline constexpr int PRESENT_FRAMES = 60;
inline constexpr int LOGO_FRAMES = 249;
inline constexpr int PANORAMA_FRAMES_AFTER_CUE = 24; // its fade-out
inline constexpr int TWISTER_FRAMES_AFTER_CUE = 1;   // black
inline constexpr int CREDITS_FRAMES = 250;           // each credit
inline constexpr int THANK_YOU_FRAMES = 64;

inline constexpr std::array SHOW_SCENES = {
    show_scene{"title", scene_end::at_cue, 5000, 0, 0},
    show_scene{"present", scene_end::after_frames, 0, PRESENT_FRAMES, 0},
    show_scene{"logo", scene_end::after_frames, 0, LOGO_FRAMES, 0},
    show_scene{"panorama", scene_end::at_cue, 28500, 0, PANORAMA_FRAMES_AFTER_CUE},
    show_scene{"ellipses", scene_end::at_cue, 59000, 0, 0},
    show_scene{"into the blue", scene_end::at_cue, 88500, 0, 0}, // fades out over the second before its cue
    show_scene{"twister", scene_end::at_cue, 133000, 0, TWISTER_FRAMES_AFTER_CUE},
    show_scene{"analyser", scene_end::at_cue, 154000, 0, 0},
    show_scene{"credits: lead", scene_end::after_frames, 0, CREDITS_FRAMES, 0},
    show_scene{"thank you", scene_end::after_frames, 0, THANK_YOU_FRAMES, 0},
    show_scene{"credits: graphics", scene_end::after_frames, 0, CREDITS_FRAMES, 0},
    show_scene{"credits: music", scene_end::after_frames, 0, CREDITS_FRAMES, 0},
    show_scene{"credits: code", scene_end::after_frames, 0, CREDITS_FRAMES, 0},
    show_scene{"greetings", scene_end::at_show_end, 409000, 0, 0},
};

// The position in the table of the scene called `name`; a name that is not
// there does not compile.
consteval std::size_t show_scene_index(std::string_view name) {
  for (std::size_t i = 0; i < SHOW_SCENES.size(); ++i)
    if (name == SHOW_SCENES[i].name)
      return i;
  throw "the show has no scene of that name";
}

// The end time the driver gives the scene called `name`: its cue, or where
// the greetings' hold ends. A scene of fixed length has none: asking for it
// does not compile.
consteval int show_cue_ms(std::string_view name) {
  const show_scene &scene = SHOW_SCENES[show_scene_index(name)];
  if (scene.end == scene_end::after_frames)
    throw "a scene of fixed length ends after its frames, not at a cue";
  return scene.cue_ms;
}

namespace show_timeline_detail {

// The table's own rules: each name once; the title (which starts playback)
// first and the greetings last; cues rising through the show; each scene
// holding the numbers of its kind of end and 0 for the others.
consteval bool well_formed() {
  int last_cue = 0;
  for (std::size_t i = 0; i < SHOW_SCENES.size(); ++i) {
    const show_scene &scene = SHOW_SCENES[i];
    for (std::size_t j = 0; j < i; ++j)
      if (std::string_view(scene.name) == SHOW_SCENES[j].name)
        return false;
    if ((scene.end == scene_end::at_show_end) != (i + 1 == SHOW_SCENES.size()))
      return false;
    if (scene.end == scene_end::after_frames) {
      if (scene.frames <= 0 || scene.cue_ms != 0 || scene.frames_after_cue != 0)
        return false;
    } else {
      if (scene.cue_ms <= last_cue || scene.frames != 0 || scene.frames_after_cue < 0)
        return false;
      last_cue = scene.cue_ms;
    }
  }
  return SHOW_SCENES.front().end == scene_end::at_cue;
}

static_assert(well_formed());

} // namespace show_timeline_detail
