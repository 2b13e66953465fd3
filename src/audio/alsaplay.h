// The audio player: decodes an Ogg Vorbis stream and plays it through ALSA's
// "default" device on a thread of its own, publishing the playback position.
// It is also the show's clock: scenes run until alsaplay_pos_time reaches
// their cue.
//
//   alsaplay_t alsa = alsaplay_init(&vf);
//   ov_load_data(bytes, size, &vf);        // the caller opens the stream
//   alsaplay_setup(alsa, &vf);             // device open and configured, silent
//   alsaplay_start(alsa);                  // playback thread running
//   ... alsaplay_pos_time(alsa) ...
//   alsaplay_stop(alsa);                   // join, close the device, ov_clear
//   alsaplay_done(alsa);
//
// The decoder state belongs to the caller; the player drives it and clears it
// in alsaplay_stop. Blocks are 8192 bytes (2048 stereo frames); positions move
// once per block. At the end of the stream the positions stay at its length
// and the device plays silence. Should the device fail for good, the audio
// thread ends and the positions go on advancing on the monotonic clock at the
// stream's rate up to its length, so every cue is still reached (silently).
//
// All functions are for the main thread; the tap runs on the audio thread.
// The show links this player; scene tests link a virtual one with the same
// functions, whose position follows virtual time.
#pragma once

#include <cstdint>

struct OggVorbis_File;
struct alsaplay_s;
using alsaplay_t = alsaplay_s *;

// Milliseconds or sample frames: the low 32 bits of the decoder's results.
using alsaplay_time_t = std::int32_t;

// Observer of each decoded block (its bytes and their count), on the audio thread.
using alsaplay_tap_t = void (*)(const unsigned char *block, int size);

inline constexpr int ALSAPLAY_BLOCK_BYTES = 8192;

alsaplay_t alsaplay_init(OggVorbis_File *vf);
void alsaplay_setup(alsaplay_t alsa, OggVorbis_File *vf);
// Opens the file `filename` in the bound decoder state (ov_load_file) and, when
// that worked (0), sets the player up with it as alsaplay_setup does; returns
// the load result. The show plays the linked-in soundtrack and never calls it.
int alsaplay_file(alsaplay_t alsa, const char *filename);
void alsaplay_start(alsaplay_t alsa);
// A second call does nothing; a player that never started joins nothing.
void alsaplay_stop(alsaplay_t alsa);
void alsaplay_done(alsaplay_t alsa);

alsaplay_time_t alsaplay_pos_sample(alsaplay_t alsa);
alsaplay_time_t alsaplay_pos_time(alsaplay_t alsa);
alsaplay_time_t alsaplay_total_sample(alsaplay_t alsa);
alsaplay_time_t alsaplay_total_time(alsaplay_t alsa);

// Installs or (with null) removes the tap. Returns only when no call of the
// previous tap is running any more, so whatever it used may be freed at once.
void alsaplay_set_tap(alsaplay_t alsa, alsaplay_tap_t tap);

// The decoder state the player is bound to (the caller's).
OggVorbis_File *alsaplay_vf(alsaplay_t alsa);
