// A breathing zoom roaming over the into-the-blue picture: a diagonal drift
// that bounces inside the picture, a wide zoom swing in place, then the last
// frame held until a second before `end_ms` and faded out.
#pragma once

#include "alsaplay.h"
#include "opc.h"

void into_the_blue(opc_sink s, alsaplay_t alsa, int end_ms);
