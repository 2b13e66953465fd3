// The last scene: a 32x16 camera flies the greetings canvas along a fixed
// route (pans along the labels, hops between them), pulls back to the whole
// canvas, holds it, fades it out and shows black until the soundtrack ends.
#pragma once

#include "alsaplay.h"
#include "image_zoom.h"
#include "opc.h"

// `hold_end_ms`: the whole canvas is held until this position, or for 5000 ms
// when the flight ends earlier.
void greetings(opc_sink s, image_zoom_t zoom, alsaplay_t alsa, int hold_end_ms);

// The three moves, each playing record `move` of the route.
void linear(opc_sink s, int move, image_zoom_t zoom);
void jump(opc_sink s, int move, image_zoom_t zoom);
void jump_out(opc_sink s, int move, image_zoom_t zoom);
