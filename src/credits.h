// One credit: a tall portrait panning up and down behind a 32x16 caption
// whose letters glow in flowing rainbow colours, one frame per 40 ms: a fade
// in, the caption emerging and receding, a fade out (its frame count is in
// the show timeline, show_timeline.h). The pan's phase carries on from one
// credit to the next.
#pragma once

#include "opc.h"

// Both pictures are PNGs in memory; one that does not decode ends the process
// ("FAIL! at <file>:<line>", status 1).
void credits(opc_sink s, const unsigned char *picture_png, int picture_size, const unsigned char *caption_png,
             int caption_size);
