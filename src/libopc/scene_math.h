// Arithmetic the scenes and the renderers share: animation phases, held in
// single precision and advanced by double-precision steps, and the
// wall-shaped window that pans along a picture of another shape.
#pragma once

#include "matrix_wiring.h"

// `value` + `step`: added in double precision, rounded back to single. These
// roundings decide frame positions and counts, so every phase moves this way.
constexpr float phase_add(float value, double step) { return float(double(value) + step); }

// A phase that runs upwards and comes round once: when the rounded sum has
// reached `period`, one period is taken off (again added in double and
// rounded). A value below 0 stays as it is.
constexpr float phase_step(float value, double step, double period) {
  value = phase_add(value, step);
  return double(value) >= period ? phase_add(value, -period) : value;
}

// A phase kept in [0, period) whichever way it moves: after the step, periods
// are taken off or added until it lies there.
constexpr float phase_wrap(float value, double step, double period) {
  value = phase_add(value, step);
  while (double(value) >= period)
    value = phase_add(value, -period);
  while (value < 0.0f)
    value = phase_add(value, period);
  return value;
}

// A window of the wall's shape over a picture, in picture pixels: the full
// height of a picture wider than the wall, the full width of a taller one,
// the other side by integer division. Its origin can travel along the longer
// way (the other travel is 0). A picture of exactly the wall's shape is
// `whole`: the window is all of it and nothing travels.
struct wall_window_s {
  int w, h;
  int travel_x, travel_y;
  bool whole;
};

constexpr wall_window_s wall_window_fit(int picture_w, int picture_h) {
  const int across = picture_h * MATRIX_WIDTH, down = MATRIX_HEIGHT * picture_w;
  if (across == down)
    return {picture_w, picture_h, 0, 0, true};
  if (across < down) {
    const int w = picture_h * MATRIX_WIDTH / MATRIX_HEIGHT;
    return {w, picture_h, picture_w - w, 0, false};
  }
  const int h = picture_w * MATRIX_HEIGHT / MATRIX_WIDTH;
  return {picture_w, h, 0, picture_h - h, false};
}
