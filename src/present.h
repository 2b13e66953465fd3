// "PRESENT" slides across the still title picture along a dipping path:
// 60 frames at 40 ms, independent of the soundtrack.
#pragma once

#include "opc.h"

void present_draw(opc_sink s);
