// A picture much wider (or taller) than the wall shown by sliding a
// wall-shaped window along it once, end to end, until a cue of the
// soundtrack: fade in, sweep, rest at the far end, fade out at the cue.
#pragma once

#include "alsaplay.h"
#include "opc.h"

// `png` / `png_size`: the picture as a PNG in memory. A picture that does not
// decode ends the process ("FAIL! at <file>:<line>", status 1).
void image_linear(opc_sink s, alsaplay_t alsa, int end_ms, const unsigned char *png, int png_size);
