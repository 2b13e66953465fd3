// Fades and brightness normalisation shared by the scenes.
//
// A fade plays a still picture on the wall with its brightness stepping
// linearly, one step per frame on a frame clock of its own, and returns after
// its last frame. A fade of N steps sends N - 1 frames and never shows its end
// level: fading in starts at black and stops one step short of the picture,
// fading out starts at the picture and stops one step short of black.
#pragma once

#include "opc.h"

#include <gd.h>

void fade_in(opc_sink s, gdImagePtr im, int steps, int period_ms);
void fade_out(opc_sink s, gdImagePtr im, int steps, int period_ms);

// Plays levels first, first + step, ... up to but not including `end`, each
// frame the picture's channels scaled by level / max(first, end).
void fader(opc_sink s, gdImagePtr im, int period_ms, int first, int end, int step);

// Stretches the brightness of a true-colour picture in place so that its
// brightest pixel reaches full value, keeping hue and saturation. Pixels of
// value 0.01 or less are left exactly as they are.
void image_normalize(gdImagePtr im);
