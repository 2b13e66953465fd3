#include "frame_log.h"

#include "ledsim_output.h"

#include <algorithm>
#include <cinttypes>
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
  char hex[2 * 1536 + 1];
  for (size_t i = 0; i < frame.rgb.size(); ++i) {
    hex[2 * i] = digits[frame.rgb[i] >> 4];
    hex[2 * i + 1] = digits[frame.rgb[i] & 15];
  }
  hex[sizeof hex - 1] = 0;
  std::fprintf(log, "%" PRId64 " %d %s\n", frame.received_ns, frame.connection, hex);
}

int frame_log_close(std::FILE *log) {
  const bool ok = !std::ferror(log);
  return (std::fclose(log) == 0 && ok) ? 1 : 0;
}

bool frame_log_parse(const std::string &line, wall_frame *frame) {
  char hex[2 * 1536 + 2] = {};
  long long ns = 0;
  if (std::sscanf(line.c_str(), "%lld %d %3073s", &ns, &frame->connection, hex) != 3 || std::strlen(hex) != 2 * 1536)
    return false;
  frame->received_ns = ns;
  for (size_t i = 0; i < 1536; ++i) {
    const int high = hex_digit(hex[2 * i]), low = hex_digit(hex[2 * i + 1]);
    if (high < 0 || low < 0)
      return false;
    frame->rgb[i] = u8(high << 4 | low);
  }
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
