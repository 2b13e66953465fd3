// The frame log: one text line per received frame, for tests and analysis.
//
//   # ledsim frame log 1: receive time (ns, monotonic), connection, 32x16 RGB
//   1234567890123 0 000000ff0000...
//
// After the header line, every line holds the monotonic receive time in
// nanoseconds, the number of the connection it came on (0 for the first),
// and 2 * WALL_FRAME_BYTES (3072) hexadecimal digits: red, green, blue of each pixel in image order
// (row by row, left to right), two digits each.
#pragma once

#include "wall_frame.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Null, with a message on stderr, when the file cannot be written.
std::FILE *frame_log_open(const char *path);
void frame_log_write(std::FILE *log, const wall_frame &frame);
// 1 when everything reached the file. Accepts null (and returns 1).
int frame_log_close(std::FILE *log);

// One frame line of a log (not the header); false when it is malformed.
bool frame_log_parse(const std::string &line, wall_frame *frame);
// Reads a whole log back; false on a malformed line.
bool frame_log_read(const char *path, std::vector<wall_frame> *frames);

// Only the receive times of a log, and how many connections it names (one
// past the highest number); false, with a message on stderr, when it cannot
// be read.
bool frame_log_read_times(const char *path, std::vector<std::int64_t> *received_ns, int *connections);
