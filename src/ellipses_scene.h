// Concentric rings that breathe in width and height; from frame 200 tinted by
// a drifting diagonal rainbow, from frame 400 their centre wanders. Frame
// timed at 40 ms; runs until the soundtrack reaches `end_ms`.
#pragma once

#include "alsaplay.h"
#include "opc.h"

void ellipses(opc_sink s, alsaplay_t alsa, int end_ms);
