// ledsim: an LED wall simulator. A real OPC server for the 32x16 wall that
// shows the frames it receives in a terminal or in browsers, records them
// (frame log, animated GIF, contact sheet) and measures their timing. See
// --help.
//
// Threads: the main thread runs the OPC server and does no more per frame
// than count it and hand it over; the views (live_views.h) and the
// recordings (frame_recorder.h) run on threads of their own.
#include "frame_recorder.h"
#include "frame_stats.h"
#include "ledsim_output.h"
#include "ledsim_server.h"
#include "live_views.h"
#include "monotonic_now.h"
#include "tool_address.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char *const USAGE = R"(usage: ledsim [options]
A simulator of the 32x16 LED wall: an Open Pixel Control server.
  --listen HOST:PORT      where to listen (default 127.0.0.1:7890; port 0: any;
                          :PORT or PORT alone: on 127.0.0.1; IPv6 as [::1]:PORT)
  --view                  show the wall in this terminal (24-bit colour)
  --http HOST:PORT        show it in web browsers at http://HOST:PORT/ (the same forms;
                          anyone who can reach the address can watch)
  --http-host NAME        a further name the browser view may be reached by (any
                          number); besides 127.0.0.1, localhost, ::1 and the --http
                          address, other names are refused (DNS rebinding)
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
Ends on SIGINT, SIGTERM or SIGHUP, writes its files and prints the timing summary.
)";

struct options {
  tool_address listen{TOOL_ADDRESS_DEFAULT_HOST, 7890};
  bool http = false;
  tool_address http_address;
  std::vector<std::string> http_names;
  bool view = false;
  frame_recorder_paths record;
  const char *summary_path = nullptr;
  ledsim_faults faults;
};

// What runs, as far as it was built: the teardown takes it in any state.
struct simulator {
  int stop_pipe[2] = {-1, -1};
  ledsim_server_t server = nullptr;
  frame_stats_t stats = nullptr;
  frame_recorder_t recorder = nullptr;
  live_views_t live = nullptr;
};

int stop_fd = -1; // the write end of the stop pipe, for the signal handler

void on_signal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(stop_fd, &byte, 1);
}

// Set on SIGWINCH; the view takes the new size in the server loop's next turn
// (the signal cuts its wait short), never in the handler.
volatile std::sig_atomic_t resized = 0;

void on_resize(int) { resized = 1; }

bool parse_int(const char *text, int *value) {
  char *end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < 0 || v > 1'000'000'000)
    return false;
  *value = int(v);
  return true;
}

bool parse_address(const char *option, const char *text, tool_address *address) {
  std::string why;
  if (tool_address_parse(text, address, &why))
    return true;
  std::fprintf(stderr, "ledsim: bad address for --%s: '%s': %s\n", option, text, why.c_str());
  return false;
}

// The options into *o; -1 to go on, else the exit status.
int parse_options(int argc, char **argv, options *o) {
  enum { LISTEN = 1, VIEW, HTTP, HTTP_HOST, LOG, GIF, GIF_SCALE, SHEET, SHEET_SCALE, SHEET_COLUMNS, SUMMARY, PAUSE, CLOSE, REFUSE, HELP };
  const option table[] = {{"listen", required_argument, nullptr, LISTEN},
                          {"view", no_argument, nullptr, VIEW},
                          {"http", required_argument, nullptr, HTTP},
                          {"http-host", required_argument, nullptr, HTTP_HOST},
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
  frame_recorder_paths &r = o->record;
  for (int c; (c = getopt_long(argc, argv, "", table, nullptr)) != -1;) {
    bool ok = true;
    switch (c) {
    case LISTEN: if (!parse_address("listen", optarg, &o->listen)) return 1; break;
    case VIEW: o->view = true; break;
    case HTTP: if (!parse_address("http", optarg, &o->http_address)) return 1; o->http = true; break;
    case HTTP_HOST: {
      std::string name, why;
      if (!tool_address_parse_name(optarg, &name, &why)) {
        std::fprintf(stderr, "ledsim: bad name for --http-host: '%s': %s\n", optarg, why.c_str());
        return 1;
      }
      o->http_names.push_back(name);
      break;
    }
    case LOG: r.log = optarg; break;
    case GIF: r.gif = optarg; break;
    case GIF_SCALE: ok = parse_int(optarg, &r.gif_scale) && r.gif_scale >= 4; break;
    case SHEET: r.sheet = optarg; break;
    case SHEET_SCALE: ok = parse_int(optarg, &r.sheet_scale) && r.sheet_scale >= 2; break;
    case SHEET_COLUMNS: ok = parse_int(optarg, &r.sheet_columns) && r.sheet_columns >= 1; break;
    case SUMMARY: o->summary_path = optarg; break;
    case PAUSE: {
      const char *colon = std::strchr(optarg, ':');
      ok = colon && parse_int(std::string(optarg, size_t(colon - optarg)).c_str(), &o->faults.pause_after_frames) &&
           parse_int(colon + 1, &o->faults.pause_ms);
      break;
    }
    case CLOSE: ok = parse_int(optarg, &o->faults.close_after_frames); break;
    case REFUSE: ok = parse_int(optarg, &o->faults.refuse_ms); break;
    case HELP: std::fputs(USAGE, stdout); return 0;
    default: ok = false;
    }
    if (!ok) {
      if (c != '?')
        std::fprintf(stderr, "ledsim: bad value for --%s: %s\n", table[c - 1].name, optarg);
      std::fputs(USAGE, stderr);
      return 1;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "ledsim: unexpected argument: %s\n", argv[optind]);
    return 1;
  }
  return -1;
}

void on_frame(void *user, const wall_frame &frame) {
  auto *sim = static_cast<simulator *>(user);
  frame_stats_add(sim->stats, frame.received_ns);
  frame_recorder_add(sim->recorder, frame);
  live_views_frame(sim->live, frame);
}

// Between frames the status goes on: the rate falls, a silence is counted.
void on_tick(void *user) {
  auto *sim = static_cast<simulator *>(user);
  const bool resize = resized;
  resized = 0;
  live_views_tick(sim->live, monotonic_ns(), ledsim_server_has_client(sim->server), resize);
}

void catch_signals() {
  struct sigaction stop {};
  stop.sa_handler = on_signal;
  sigemptyset(&stop.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) // SIGHUP: the terminal (an ssh session) went away
    sigaction(sig, &stop, nullptr);
  struct sigaction resize {};
  resize.sa_handler = on_resize;
  sigemptyset(&resize.sa_mask);
  sigaction(SIGWINCH, &resize, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// Builds the simulator in *sim, as far as it gets; false when a part fails
// (after its message).
bool start(const options &o, simulator *sim) {
  if (pipe2(sim->stop_pipe, O_CLOEXEC) < 0) {
    std::perror("ledsim: pipe");
    return false;
  }
  stop_fd = sim->stop_pipe[1];
  catch_signals();
  sim->server = ledsim_server_init(o.listen, o.faults);
  if (!sim->server)
    return false;
  sim->stats = frame_stats_init();
  sim->recorder = frame_recorder_init(o.record);
  if (!sim->recorder)
    return false;
  std::fprintf(stderr, "ledsim: listening on port %d\n", ledsim_server_port(sim->server));
  if (o.view || o.http) {
    const std::string address = tool_address_text({o.listen.host, ledsim_server_port(sim->server)});
    sim->live = live_views_init(address, o.view, o.http ? &o.http_address : nullptr, o.http_names);
    if (!sim->live)
      return false;
  }
  return true;
}

// The one teardown, in order, for a simulator built in part or whole: the
// views and the recordings finish first (the terminal gets its screen back
// before the summary is printed on it), then the summary of a simulator that
// ran. The exit status.
int finish(simulator *sim, const options &o, bool ran, int served) {
  bool written = frame_recorder_done(sim->recorder) == 1;
  live_views_done(sim->live);
  if (ran) {
    const frame_summary summary = frame_stats_summary(sim->stats, ledsim_server_connections(sim->server));
    frame_summary_print(stderr, summary);
    if (o.summary_path) {
      std::FILE *file = ledsim_open_output(o.summary_path);
      written = file && (frame_summary_print(file, summary), std::fclose(file) == 0) && written;
    }
  }
  frame_stats_done(sim->stats);
  ledsim_server_done(sim->server);
  stop_fd = -1; // a late signal finds no pipe to write to
  for (const int fd : sim->stop_pipe)
    if (fd >= 0)
      close(fd);
  return ran && served == 0 && written ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  options o;
  if (const int status = parse_options(argc, argv, &o); status >= 0)
    return status;
  simulator sim;
  const bool ran = start(o, &sim);
  const int served = ran ? ledsim_server_run(sim.server, sim.stop_pipe[0], on_frame, &sim, on_tick) : -1;
  return finish(&sim, o, ran, served);
}
