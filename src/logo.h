// The show's title lettering drawn pixel by pixel in writing order, each
// pixel glowing up in a hue that travels round the colour wheel, held, then
// squashed into the bottom row: 199 + 25 + 25 frames at 40 ms.
#pragma once

#include "opc.h"

void logo_draw(opc_sink s);
