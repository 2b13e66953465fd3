// A six-word crawl up through the wall: 64 frames at 40 ms.
#pragma once

#include "opc.h"

void thank_slide(opc_sink s);
