#include "frame_log.h"

#include "ledsim_output.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

const char *const HEADER = "# ledsim frame log 1: receive time (ns, monotonic), connection, 32x16 RGB";

int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

} // namespace

std::FILE *frame_log_open(const char *path) {
  std::FILE *log = ledsim_open_output(path);
  if (!log)
    return nullptr;
  std::fprintf(log, "%s\n", HEADER);
  return log;
}

void frame_log_write(std::FILE *log, const wall_frame &frame) {
  static const char digits[] = "0123456789abcdef";
  char hex[2 * WALL_FRAME_BYTES + 1];
  for (size_t i = 0; i < frame.rgb.size(); ++i) {
    hex[2 * i] = digits[frame.rgb[i] >> 4];
    hex[2 * i + 1] = digits[frame.rgb[i] & 15];
  }
  hex[sizeof hex - 1] = 0;
  std::fprintf(log, "%" PRId64 " %d %s\n", frame.received_ns, frame.connection, hex);
}

int frame_log_close(std::FILE *log) {
  if (!log)
    return 1;
  const bool ok = !std::ferror(log);
  return (std::fclose(log) == 0 && ok) ? 1 : 0;
}

bool frame_log_parse(const std::string &line, wall_frame *frame) {
  // "NS CONNECTION HEX", single spaces, the hexadecimal digits the whole rest.
  const char *at = line.c_str();
  char *end = nullptr;
  errno = 0;
  const long long ns = std::strtoll(at, &end, 10);
  if (end == at || *end != ' ' || errno)
    return false;
  at = end + 1;
  const long connection = std::strtol(at, &end, 10);
  if (end == at || *end != ' ' || connection < 0 || connection > INT_MAX)
    return false;
  const char *hex = end + 1;
  if (std::strlen(hex) != 2 * WALL_FRAME_BYTES)
    return false;
  for (size_t i = 0; i < WALL_FRAME_BYTES; ++i) {
    const int high = hex_digit(hex[2 * i]), low = hex_digit(hex[2 * i + 1]);
    if (high < 0 || low < 0)
      return false;
    frame->rgb[i] = u8(high << 4 | low);
  }
  frame->received_ns = ns;
  frame->connection = int(connection);
  return true;
}

bool frame_log_read(const char *path, std::vector<wall_frame> *frames) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line) || line != HEADER)
    return false;
  while (std::getline(in, line)) {
    wall_frame frame{};
    if (!frame_log_parse(line, &frame))
      return false;
    frames->push_back(frame);
  }
  return true;
}

bool frame_log_read_times(const char *path, std::vector<std::int64_t> *received_ns, int *connections) {
  std::vector<wall_frame> frames;
  if (!frame_log_read(path, &frames)) {
    std::fprintf(stderr, "cannot read the frame log %s\n", path);
    return false;
  }
  *connections = 0;
  for (const wall_frame &frame : frames) {
    received_ns->push_back(frame.received_ns);
    *connections = std::max(*connections, frame.connection + 1);
  }
  return true;
}
