// The logo scene's drawing script LOGO_DRAW: the
// show's title lettering NEON / DRIFT on the 32x16 matrix in one-pixel
// strokes, as 175 entries in drawing order. An entry p >= 0 lights pixel
// (p % 32, p / 32); -1 is a pause of one frame. The counts and pause positions
// the scene relies on are checked at compile time in logo.cpp.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int logo_draw_entries = 175;
inline constexpr int logo_draw_pixels = 134;

extern const std::array<std::int16_t, logo_draw_entries> logo_draw;

// Writes the script as 175 signed 16-bit little-endian values (350 bytes).
// Returns false after a message on stderr if the file cannot be written.
bool logo_draw_write(const char *path);
