// An animated GIF of the frames the wall received, at the received timing,
// each LED a round dot on a dark board (led_board.h).
//
// A frame is written once the next one tells how long it stayed: its delay is
// the gap between receive times in GIF's 1/100 s, with the rounding carried
// forward so that the animation lasts as long as the frames did; the last
// frame stays 4/100 s. Identical consecutive frames become one. A frame that
// would show for less than 2/100 s gives its place to the next one (viewers
// stretch shorter delays to 1/10 s), and one that stays longer than GIF's
// longest delay is repeated. Every frame has a palette of its own: exact when
// the frame has at most 255 colours besides the board, else 255 chosen by
// libgd's quantiser.
//
// Limitations: every frame is stored whole (no inter-frame differencing), so
// a show of 7 minutes at 25 frames a second makes a file of some 100 MB.
#pragma once

#include "wall_frame.h"

struct gif_writer_s;
using gif_writer_t = gif_writer_s *;

// `scale` is pixels per LED, 4 to LED_BOARD_MAX_SCALE. Null, with a message on
// stderr, when the scale is out of range or the file cannot be opened.
gif_writer_t gif_writer_init(const char *path, int scale);

void gif_writer_add(gif_writer_t gif, const wall_frame &frame);

// Writes the last frame and closes the file; frees the record. 1 when the
// whole animation reached the file, else 0 with a message on stderr. With no
// frames at all the file holds one frame of a dark wall, and a note says so.
// Accepts null (and returns 1).
int gif_writer_done(gif_writer_t gif);
