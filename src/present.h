// "PRESENT" slides across the still title picture along a dipping path, one
// frame per 40 ms, independent of the soundtrack; its frame count is in the
// show timeline (show_timeline.h).
#pragma once

#include "opc.h"

void present_draw(opc_sink s);
