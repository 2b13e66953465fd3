// ledsim: an LED wall simulator. A real OPC server for the 32x16 wall that
// shows the frames it receives in a terminal, records them (frame log,
// animated GIF, contact sheet) and measures their timing. See --help.
#include "contact_sheet.h"
#include "frame_log.h"
#include "frame_stats.h"
#include "gif_writer.h"
#ifdef LEDSIM_HTTP
#include "http_view.h"
#endif
#include "ledsim_server.h"
#include "ledsim_output.h"
#include "monotonic_now.h"
#include "terminal_view.h"
#include "wall_status.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <string>

namespace {

const char *const USAGE = R"(usage: ledsim [options]
A simulator of the 32x16 LED wall: an Open Pixel Control server.
  --listen HOST:PORT      where to listen (default 127.0.0.1:7890; port 0: any)
  --view                  show the wall in this terminal (24-bit colour)
  --http HOST:PORT        show it in web browsers at http://HOST:PORT/ (a PORT alone:
                          on 127.0.0.1; anyone who can reach the address can watch)
  --log FILE              write every frame with its receive time (text)
  --gif FILE              write an animated GIF at the received timing
  --gif-scale N           GIF pixels per LED (default 8)
  --sheet FILE            write a PNG contact sheet, one frame per second
  --sheet-scale N         sheet pixels per LED (default 4)
  --sheet-columns N       tiles per row of the sheet (default 10)
  --summary FILE          also write the timing summary to FILE
  --pause-reading F:MS    after F frames, stop reading for MS milliseconds
  --close-after F         close each connection after F frames
  --refuse MS             refuse connections for MS milliseconds at start
Ends on SIGINT or SIGTERM, writes its files and prints the timing summary.
)";

int stop_pipe[2] = {-1, -1};

void on_signal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(stop_pipe[1], &byte, 1);
}

// Set on SIGWINCH; the view takes the new size in the server loop's next turn
// (the signal cuts its wait short), never in the handler.
volatile std::sig_atomic_t resized = 0;

void on_resize(int) { resized = 1; }

struct outputs {
  terminal_view_t view = nullptr;
  std::FILE *log = nullptr;
  gif_writer_t gif = nullptr;
  contact_sheet_t sheet = nullptr;
  frame_stats_t stats = nullptr;
  ledsim_server_t server = nullptr;
#ifdef LEDSIM_HTTP
  http_view_t http = nullptr;
#endif
  wall_status_t status = nullptr; // with a view only
  std::string status_line;
};

// The status line, as the views show it, after the status changed.
void show_status(outputs *out, const wall_frame *frame) {
  wall_status_line(*out->status, &out->status_line);
  if (out->view) {
    if (frame)
      terminal_view_draw(out->view, *frame, out->status_line.c_str());
    else
      terminal_view_status(out->view, out->status_line.c_str());
  }
#ifdef LEDSIM_HTTP
  if (out->http) {
    if (frame)
      http_view_frame(out->http, *frame, out->status_line);
    else
      http_view_status(out->http, out->status_line);
  }
#endif
}

void on_frame(void *user, const wall_frame &frame) {
  auto *out = static_cast<outputs *>(user);
  frame_stats_add(out->stats, frame.received_ns);
  if (out->log)
    frame_log_write(out->log, frame);
  if (out->gif)
    gif_writer_add(out->gif, frame);
  if (out->sheet)
    contact_sheet_add(out->sheet, frame);
  if (out->status) {
    wall_status_frame(out->status, frame);
    show_status(out, &frame);
  }
}

// Between frames the status goes on: the rate falls, a silence is counted.
void on_tick(void *user) {
  auto *out = static_cast<outputs *>(user);
  if (!out->status)
    return;
  if (out->view && resized) {
    resized = 0;
    terminal_view_resize(out->view);
  }
  wall_status_tick(out->status, monotonic_ns(), ledsim_server_has_client(out->server));
  show_status(out, nullptr);
}

bool parse_int(const char *text, int *value) {
  char *end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 1'000'000'000)
    return false;
  *value = int(v);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  std::string listen = "127.0.0.1:7890";
  const char *http = nullptr;
  bool view = false;
  const char *log_path = nullptr, *gif_path = nullptr, *sheet_path = nullptr, *summary_path = nullptr;
  int gif_scale = 8, sheet_scale = 4, sheet_columns = 10;
  ledsim_faults faults;

  enum { LISTEN = 1, VIEW, HTTP, LOG, GIF, GIF_SCALE, SHEET, SHEET_SCALE, SHEET_COLUMNS, SUMMARY, PAUSE, CLOSE, REFUSE, HELP };
  const option options[] = {{"listen", required_argument, nullptr, LISTEN},
                            {"view", no_argument, nullptr, VIEW},
                            {"http", required_argument, nullptr, HTTP},
                            {"log", required_argument, nullptr, LOG},
                            {"gif", required_argument, nullptr, GIF},
                            {"gif-scale", required_argument, nullptr, GIF_SCALE},
                            {"sheet", required_argument, nullptr, SHEET},
                            {"sheet-scale", required_argument, nullptr, SHEET_SCALE},
                            {"sheet-columns", required_argument, nullptr, SHEET_COLUMNS},
                            {"summary", required_argument, nullptr, SUMMARY},
                            {"pause-reading", required_argument, nullptr, PAUSE},
                            {"close-after", required_argument, nullptr, CLOSE},
                            {"refuse", required_argument, nullptr, REFUSE},
                            {"help", no_argument, nullptr, HELP},
                            {nullptr, 0, nullptr, 0}};
  for (int o; (o = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
    bool ok = true;
    switch (o) {
    case LISTEN: listen = optarg; break;
    case VIEW: view = true; break;
    case HTTP: http = optarg; break;
    case LOG: log_path = optarg; break;
    case GIF: gif_path = optarg; break;
    case GIF_SCALE: ok = parse_int(optarg, &gif_scale) && gif_scale >= 4; break;
    case SHEET: sheet_path = optarg; break;
    case SHEET_SCALE: ok = parse_int(optarg, &sheet_scale) && sheet_scale >= 2; break;
    case SHEET_COLUMNS: ok = parse_int(optarg, &sheet_columns) && sheet_columns >= 1; break;
    case SUMMARY: summary_path = optarg; break;
    case PAUSE: {
      const char *colon = std::strchr(optarg, ':');
      ok = colon && parse_int(std::string(optarg, size_t(colon - optarg)).c_str(), &faults.pause_after_frames) &&
           parse_int(colon + 1, &faults.pause_ms);
      break;
    }
    case CLOSE: ok = parse_int(optarg, &faults.close_after_frames); break;
    case REFUSE: ok = parse_int(optarg, &faults.refuse_ms); break;
    case HELP: std::fputs(USAGE, stdout); return 0;
    default: ok = false;
    }
    if (!ok) {
      if (o != '?')
        std::fprintf(stderr, "ledsim: bad value for --%s: %s\n", options[o - 1].name, optarg);
      std::fputs(USAGE, stderr);
      return 1;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "ledsim: unexpected argument: %s\n", argv[optind]);
    return 1;
  }

  outputs out;
  out.server = ledsim_server_init(listen.c_str(), faults);
  if (!out.server)
    return 1;
  if ((log_path && !(out.log = frame_log_open(log_path))) ||
      (gif_path && !(out.gif = gif_writer_init(gif_path, gif_scale))) ||
      (sheet_path && !(out.sheet = contact_sheet_init(sheet_path, sheet_scale, sheet_columns)))) {
    // Whatever did open is closed again; nothing was received yet.
    if (out.log)
      frame_log_close(out.log);
    if (out.gif)
      gif_writer_done(out.gif);
    ledsim_server_done(out.server);
    return 1;
  }
  out.stats = frame_stats_init();

  if (pipe2(stop_pipe, O_CLOEXEC) < 0) {
    std::perror("ledsim: pipe");
    return 1;
  }
  struct sigaction stop {};
  stop.sa_handler = on_signal;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::fprintf(stderr, "ledsim: listening on port %d\n", ledsim_server_port(out.server));
  if (http) {
#ifdef LEDSIM_HTTP
    out.http = http_view_init(http);
    if (!out.http)
      return 1;
    std::fprintf(stderr, "ledsim: browser view on http://%s:%d/\n", http_view_host(out.http).c_str(),
                 http_view_port(out.http));
#else
    std::fprintf(stderr, "ledsim: this build has no browser view (cpp-httplib was missing)\n");
    return 1;
#endif
  }
  if (view || http) {
    // The host as given (the server takes an empty one as this machine) with the port it got.
    const std::string host = listen.substr(0, listen.find(':'));
    out.status = wall_status_init((host.empty() ? "localhost" : host) + ":" +
                                  std::to_string(ledsim_server_port(out.server)));
  }
  if (view) {
    struct sigaction resize {};
    resize.sa_handler = on_resize;
    sigemptyset(&resize.sa_mask);
    sigaction(SIGWINCH, &resize, nullptr);
    out.view = terminal_view_init(1);
  }
  if (out.status) {
    const wall_frame dark{}; // the dark wall until a client comes
    show_status(&out, &dark);
  }
  const int served = ledsim_server_run(out.server, stop_pipe[0], on_frame, &out, on_tick);
  if (out.view)
    terminal_view_done(out.view);
#ifdef LEDSIM_HTTP
  http_view_done(out.http);
#endif
  if (out.status)
    wall_status_done(out.status);

  bool written = true;
  if (out.log)
    written = frame_log_close(out.log) && written;
  if (out.gif)
    written = gif_writer_done(out.gif) && written;
  if (out.sheet)
    written = contact_sheet_done(out.sheet) && written;

  const frame_summary summary = frame_stats_summary(out.stats, ledsim_server_connections(out.server));
  frame_summary_print(stderr, summary);
  if (summary_path) {
    std::FILE *file = ledsim_open_output(summary_path);
    if (file) {
      frame_summary_print(file, summary);
      written = std::fclose(file) == 0 && written;
    } else {
      written = false;
    }
  }
  frame_stats_done(out.stats);
  ledsim_server_done(out.server);
  return served == 0 && written ? 0 : 1;
}
