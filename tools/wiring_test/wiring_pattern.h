// The wiring test's pattern, for a person connecting the wall's panels: each
// panel in chain order, lit in a colour of its own with its chain number in
// black where that panel belongs, then each row of the wall from the top
// down, then all panels with their numbers at once. A panel in the wrong
// place lights up elsewhere than its number says; one turned round or
// mirrored breaks the row sweep.
#pragma once

#include <gd.h>

#include <string>

inline constexpr int WIRING_PANELS = 8;
inline constexpr int WIRING_ROWS = 16;
inline constexpr int WIRING_STEPS = WIRING_PANELS + WIRING_ROWS + 1;

// Draws step 0 .. WIRING_STEPS - 1 into the 32x16 true-colour image `im`.
void wiring_pattern_draw(gdImagePtr im, int step);
// What the step shows, and where the person should see it.
std::string wiring_pattern_caption(int step);
