// The show's title lettering drawn pixel by pixel in writing order, each
// pixel glowing up in a hue that travels round the colour wheel, held, then
// squashed into the bottom row, one frame per 40 ms; its frame count is in
// the show timeline (show_timeline.h).
#pragma once

#include "opc.h"

void logo_draw(opc_sink s);
