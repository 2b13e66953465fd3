// The spinning two-coloured bar running down the wall: straight, winding into
// a corkscrew and back, pumping its twist while its colours cycle, finally
// lying horizontally. Frame timed at 40 ms until the soundtrack reaches
// `end_ms`, then black for the frames the show timeline (show_timeline.h)
// gives it after its cue.
#pragma once

#include "alsaplay.h"
#include "opc.h"

void twister(opc_sink s, alsaplay_t alsa, int end_ms);
