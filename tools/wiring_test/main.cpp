// Wiring test pattern for the LED wall: sends the pattern to the LED server
// named by OPC (as the demo does) and says on stdout what should be seen.
//
//   wiring_test [--step-ms MS] [--loop] [--help]
#include "opcgd.h"
#include "wait_until.h"
#include "wiring_pattern.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int FRAME_MS = 40;
constexpr long MAX_STEP_MS = 600000;

const char *const USAGE = "usage: wiring_test [--step-ms MS] [--loop] [--help]\n"
                          "  sends a wiring test pattern to the LED server in $OPC (default localhost:7890)\n"
                          "  --step-ms MS   how long each step is shown (default 2000)\n"
                          "  --loop         repeat the pattern until interrupted\n";

void say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int usage() {
  std::fputs(USAGE, stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  int step_ms = 2000;
  bool loop = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--loop") == 0) {
      loop = true;
    } else if (std::strcmp(argv[i], "--step-ms") == 0) {
      if (i + 1 == argc) {
        std::fprintf(stderr, "wiring_test: --step-ms needs a value\n");
        return usage();
      }
      const char *text = argv[++i];
      char *end = nullptr;
      errno = 0;
      const long ms = std::strtol(text, &end, 10);
      if (*text == '\0' || *end != '\0' || errno != 0 || ms < FRAME_MS || ms > MAX_STEP_MS) {
        std::fprintf(stderr, "wiring_test: --step-ms takes a whole number of milliseconds from %d to %ld, not '%s'\n",
                     FRAME_MS, MAX_STEP_MS, text);
        return usage();
      }
      step_ms = int(ms);
    } else {
      std::fprintf(stderr, "wiring_test: unknown option '%s'\n", argv[i]);
      return usage();
    }
  }

  const opc_sink sink = opc_new_sink(nullptr);
  if (sink < 0)
    return 1;
  gd_image_ptr im(gdImageCreateTrueColor(32, 16));
  const wait_until_t clock = wait_until_init();
  wait_until_ms(clock, FRAME_MS);
  // Every step is sent again each frame, so a server that comes up late (or
  // a panel plugged in meanwhile) shows it at once.
  do {
    for (int step = 0; step < WIRING_STEPS; ++step) {
      wiring_pattern_draw(im.get(), step);
      // What the wall shows is told only once a frame of the step has reached
      // the server; until then the step is said to be missing (the client's
      // own line on stderr says why).
      bool shown = false, missing = false;
      for (int frame = 0; frame < step_ms / FRAME_MS; ++frame) {
        wait_until_timeout(clock);
        const bool delivered = opc_put_gd_image_32x16z(sink, im.get());
        if (delivered && !shown) {
          say(wiring_pattern_caption(step));
          shown = true;
        } else if (!delivered && !shown && !missing) {
          say("step " + std::to_string(step + 1) + " of " + std::to_string(WIRING_STEPS) +
              " not delivered: the wall does not show it");
          missing = true;
        }
      }
    }
  } while (loop);
  wait_until_done(clock);
  return 0;
}
