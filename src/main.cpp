// The demo: answers --help and --version, and otherwise plays the show once.
#include "show_driver.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const USAGE =
    "usage: ledwall-demo [--help | --version]\n"
    "  plays the show once: the frames to the LED server named by $OPC (host, host:port\n"
    "  or :port; default localhost:7890), the soundtrack on ALSA's default device\n"
    "  (ALSA_CARD picks another card); exits 0 when the soundtrack has ended\n";

// The show takes no arguments. Only --help and --version are answered, and
// anything else is refused rather than ignored, so that a mistyped option
// does not start a seven-minute show. Returns the exit status, or -1 to play.
int answer_arguments(int argc, char **argv) {
  if (argc == 1)
    return -1;
  const bool help = std::strcmp(argv[1], "--help") == 0, version = std::strcmp(argv[1], "--version") == 0;
  if (argc == 2 && help) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (argc == 2 && version) {
    std::puts("ledwall-demo " LEDWALL_VERSION);
    return 0;
  }
  std::fprintf(stderr, "ledwall-demo: unexpected argument '%s'\n", help || version ? argv[2] : argv[1]);
  std::fputs(USAGE, stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (const int status = answer_arguments(argc, argv); status >= 0)
    return status;
  return show_run();
}
