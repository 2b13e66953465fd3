// The title: the greetings canvas prepared for zooming once for the whole
// show, and the opening scene that fades the whole canvas in, starts the
// soundtrack and holds the picture until its end time.
//
// The prepared zoom renders into one shared 32x16 frame image: the title
// leaves its normalised whole-canvas view there for the present scene, and
// the greetings flight renders into it again at the end of the show.
#pragma once

#include "alsaplay.h"
#include "image_zoom.h"
#include "opc.h"

// Decodes the greetings canvas and prepares its zoom into the shared frame.
image_zoom_t vorn_zoom_init();

// Fades the canvas in, starts playback and holds it until position `end_ms`.
void vorn_title(opc_sink s, image_zoom_t zoom, alsaplay_t alsa, int end_ms);

// Releases the zoom and the shared frame.
void vorn_zoom_done(image_zoom_t zoom);

// The shared 32x16 frame the zoom renders into (null outside init..done).
gdImagePtr vorn_zoom_frame();
