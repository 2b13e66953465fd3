// A six-word crawl up through the wall, one row per 40 ms frame; its frame
// count is in the show timeline (show_timeline.h).
#pragma once

#include "opc.h"

void thank_slide(opc_sink s);
