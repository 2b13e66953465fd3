// The virtual audio player: a stand-in for the real player (same alsaplay_*
// functions, linked instead of it) whose position follows the virtual clock.
//
// From alsaplay_start on, the position advances in whole blocks of 2048
// frames at the stream's rate as virtual time passes, up to the stream's
// length, exactly as the real player reports it. The stream itself is decoded
// block by block as the position moves on, and an installed tap is called
// with every block, so scenes that watch the music see the real music, in
// virtual time and deterministically. Nothing is played.
#pragma once

#include "alsaplay.h"

#include <cstdint>

// Virtual nanoseconds at which playback started; -1 before alsaplay_start.
std::int64_t virtual_player_started_ns();
// Blocks decoded (and handed to the tap, if one was installed) so far.
long virtual_player_blocks();
// Whether installed taps are fed the decoded blocks (default true); a test
// that sets the analyser's bands itself turns this off.
void virtual_player_feed_taps(bool feed);
// The tap installed now, and how many times one was installed or removed.
alsaplay_tap_t virtual_player_tap();
int virtual_player_tap_changes();
