// A PNG chart of a show's frame timing: every gap between consecutive frames
// as received (y, ms) over show time (x, seconds from the first frame), with
// the period and the long-gap limit as horizontal lines and the scenes'
// starts as labelled vertical lines.
//
// Each gap is a FRAME_PLOT_DOT square dot at the receive time of the frame
// that ends it, in FRAME_PLOT_LONG when over FRAME_LONG_GAP_MS, else in
// FRAME_PLOT_REGULAR. The y axis runs from 0 to FRAME_PLOT_TOP_MS; a longer
// gap sits on the top edge with its length written beside it. The x axis
// spans the stream exactly, first frame to last. The same frames always give
// the same picture.
#pragma once

#include "scene_marks.h"

#include <gd.h>

#include <cstdint>
#include <vector>

inline constexpr int FRAME_PLOT_WIDTH = 1600, FRAME_PLOT_HEIGHT = 500;
inline constexpr double FRAME_PLOT_TOP_MS = 200.0;
inline constexpr int FRAME_PLOT_DOT = 2;
inline constexpr int FRAME_PLOT_BACKGROUND = 0xffffff;
inline constexpr int FRAME_PLOT_REGULAR = 0x2050c0;
inline constexpr int FRAME_PLOT_LONG = 0xd02020;

// The plot area in the picture: the pixel of show time `seconds` in a stream
// `span_s` long, and of a gap of `ms` (clamped to the axis).
int frame_plot_x(double seconds, double span_s);
int frame_plot_y(double ms);

// A new FRAME_PLOT_WIDTH x FRAME_PLOT_HEIGHT true-colour picture, the
// caller's to destroy. `period_ms` is the line the gaps should lie on.
gdImagePtr frame_plot_draw(const std::vector<std::int64_t> &received_ns, const std::vector<scene_mark> &marks,
                           double period_ms);

// 1 when the PNG reached the file, else 0 with a message on stderr.
int frame_plot_write(gdImagePtr im, const char *path);
