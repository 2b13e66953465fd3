// Where the show's scenes begin in a stream of received frames.
//
// The show runs the scenes of its timeline (src/show_timeline.h) in order. A
// scene ends either after a fixed number of frames or when the soundtrack
// reaches its cue, plus the few frames it still sends after that (a
// fade-out, a blank frame). Playback starts right after the title's fade-in,
// so a cue lies that far in soundtrack time after the last fade-in frame.
//
// The next scene's start is predicted at the first frame received at or
// after the cue, counted on by the trailing frames, and then moved to the
// nearest frame that follows a long gap (over FRAME_LONG_GAP_MS), from
// SCENE_SNAP_BACK_FRAMES before the prediction to SCENE_SNAP_AHEAD_FRAMES
// after it; without one the prediction stands. Every scene starts a frame
// clock of its own, so its first frame comes two periods after the last one
// of the scene before, and that gap places it more exactly than the audio
// position can: the position moves once per decoded block, and it falls
// behind the wall clock for good when the device runs dry and restarts. How
// far the found start lay from the prediction carries on into the later cues.
// A scene of fixed length ends exactly its frame count later.
#pragma once

#include "show_timeline.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::size_t SCENE_SNAP_BACK_FRAMES = 12;   // 0.48 s
inline constexpr std::size_t SCENE_SNAP_AHEAD_FRAMES = 100; // 4 s

struct scene_mark {
  std::size_t frame; // index of the scene's first frame
  const char *label;
};

// The starts of the scenes that begin within the stream, in order, labelled
// with the scenes' names.
std::vector<scene_mark> show_scene_marks(const std::vector<std::int64_t> &received_ns,
                                         std::span<const show_scene> scenes = SHOW_SCENES);

// The label of the scene that frame `frame` belongs to; "" before the first mark.
const char *show_scene_of(const std::vector<scene_mark> &marks, std::size_t frame);

// The long gaps of each marked scene, with their excess over the period
// summed (together the whole of frame_drift's long_gaps_excess_ms from the
// first mark on). A gap belongs to the scene of the frame that ends it.
struct scene_gaps {
  const char *label;
  bool long_start;        // a long gap in front of its first frame
  double start_excess_ms; // that gap's excess; 0 without one
  long inner_gaps;        // the long gaps after its first frame
  double inner_excess_ms;
};

std::vector<scene_gaps> show_scene_gaps(const std::vector<std::int64_t> &received_ns,
                                        const std::vector<scene_mark> &marks, double period_ms);
