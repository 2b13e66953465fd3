// Reducing an oversampled drawing of few colours onto its target exactly as
// libgd's area averaging of the whole image does, for less work.
//
// Each o x o block of the work image becomes one target pixel. libgd
// averages a block from its pixels alone, so a block made of one or two
// opaque colours is averaged once and its result remembered for the next
// block with the same colours in the same places; every other block is
// averaged by libgd as it comes. Ring edges cross the blocks of the ellipses
// pattern in a few thousand distinct ways, so after the first frames nearly
// every block is remembered rather than averaged.
//
// The memory is module-level, bounded (it starts afresh when it fills) and
// unlocked: main thread only.
#pragma once

#include <gd.h>

// The same target pixels as gdImageCopyResampled(target, work, 0, 0, 0, 0,
// target width, target height, work width, work height). Work images that are
// not a whole multiple (at most 8) of the target on both axes, and palette
// targets, go to that call as they are.
void block_average_reduce(gdImagePtr target, gdImagePtr work);
