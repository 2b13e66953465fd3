// frameplot FRAME_LOG OUT.png: the frame timing chart of a simulator frame
// log, with the show's scenes marked.
#include "frame_log.h"
#include "frame_plot.h"

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: frameplot FRAME_LOG OUT.png\n");
    return 2;
  }
  std::vector<std::int64_t> received_ns;
  int connections = 0;
  if (!frame_log_read_times(argv[1], &received_ns, &connections))
    return 1;
  const gdImagePtr im = frame_plot_draw(received_ns, show_scene_marks(received_ns), 40.0);
  const int written = frame_plot_write(im, argv[2]);
  gdImageDestroy(im);
  return written ? 0 : 1;
}
