// Wiring test pattern for the LED wall: sends the pattern to the LED server
// named by OPC (as the demo does) and says on stdout what should be seen.
//
//   wiring_test [--step-ms MS] [--loop]
#include "opcgd.h"
#include "wait_until.h"
#include "wiring_pattern.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int FRAME_MS = 40;

int usage() {
  std::fprintf(stderr, "usage: wiring_test [--step-ms MS] [--loop]\n"
                       "  sends a wiring test pattern to the LED server in $OPC (default localhost:7890)\n"
                       "  --step-ms MS   how long each step is shown (default 2000)\n"
                       "  --loop         repeat the pattern until interrupted\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  int step_ms = 2000;
  bool loop = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--loop") == 0) {
      loop = true;
    } else if (std::strcmp(argv[i], "--step-ms") == 0 && i + 1 < argc) {
      char *end = nullptr;
      const long ms = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || ms < FRAME_MS || ms > 600000)
        return usage();
      step_ms = int(ms);
    } else {
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
      std::printf("%s\n", wiring_pattern_caption(step).c_str());
      std::fflush(stdout);
      wiring_pattern_draw(im.get(), step);
      for (int frame = 0; frame < step_ms / FRAME_MS; ++frame) {
        wait_until_timeout(clock);
        opc_put_gd_image_32x16z(sink, im.get());
      }
    }
  } while (loop);
  wait_until_done(clock);
  return 0;
}
