// ledwall-bridge: an OPC server that forwards every frame it receives to LED
// controllers over DDP, E1.31 (sACN), Art-Net or OPC. See --help.
//
// Threads: the main thread runs the simulator's OPC server and only hands
// each frame to the feed; every output and the browser view run on threads
// of their own (bridge_output.h, bridge_view.h).
#include "bridge_cid.h"
#include "bridge_feed.h"
#include "bridge_output.h"
#include "bridge_url.h"
#include "ledsim_server.h"
#include "monotonic_now.h"
#include "tool_address.h"
#ifdef BRIDGE_HTTP
#include "bridge_view.h"
#endif

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <getopt.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

const char *const USAGE = R"(usage: ledwall-bridge [options] --to URL [--to URL]...
Receives the LED wall's frames over Open Pixel Control and sends each one on,
as it arrives, to LED controllers.
  --listen HOST:PORT   where to listen for OPC (default 127.0.0.1:7890; :PORT or
                       PORT alone: on 127.0.0.1; IPv6 as [::1]:PORT)
  --to URL             an output (any number; one --to may hold several URLs
                       parted by spaces):
                         ddp://HOST[:PORT]                  (port 4048)
                         e131://HOST[:PORT][/UNIVERSE]      (port 5568, universe 1)
                         e131://multicast[/UNIVERSE]        (239.255.hi.lo per universe)
                         artnet://HOST[:PORT][/UNIVERSE]    (port 6454, port-address 0)
                         opc://HOST[:PORT]                  (port 7890)
                       options after '?', parted by '&':
                         order=rows|columns|wiring  serpentine  flip=x|y|xy
                         size=WxH  map=FILE  colors=rgb|rbg|grb|gbr|brg|bgr
                         universe-size=510|512  sync        (e131, artnet)
                         interface=ADDRESS                  (e131 multicast)
  --brightness PCT     scale every channel (0-100, default 100)
  --gamma G            apply a gamma curve (0.1-5, default 1: none)
  --idle-hold SECONDS  hold the wall black this long after the client leaves
                       (default 15), then stop sending
  --http HOST:PORT     show the frames as they go out in web browsers
  --http-host NAME     a further name that view may be reached by (any number);
                       besides 127.0.0.1, localhost, ::1 and the --http address,
                       other names are refused (DNS rebinding)
  --help, --version
Ends on SIGINT or SIGTERM (E1.31 streams are ended first).
)";

struct options {
  tool_address listen{TOOL_ADDRESS_DEFAULT_HOST, 7890};
  std::vector<bridge_output_config> outputs;
  double brightness = 100;
  double gamma = 1;
  double idle_hold_s = 15;
  bool http = false;
  tool_address http_address;
  std::vector<std::string> http_names;
};

int stop_fd = -1; // the write end of the stop pipe, for the signal handler

void on_signal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(stop_fd, &byte, 1);
}

bool parse_real(const char *text, double low, double high, double *value) {
  char *end = nullptr;
  const double v = std::strtod(text, &end);
  if (!*text || *end || !std::isfinite(v) || v < low || v > high)
    return false;
  *value = v;
  return true;
}

int bad(const char *option, const char *text, const std::string &why) {
  std::fprintf(stderr, "ledwall-bridge: bad %s '%s': %s\n", option, text, why.c_str());
  return 2;
}

// The options into *o; -1 to go on, else the exit status.
int parse_options(int argc, char **argv, options *o) {
  enum { LISTEN = 1, TO, BRIGHTNESS, GAMMA, IDLE_HOLD, HTTP, HTTP_HOST, HELP, VERSION };
  const option table[] = {{"listen", required_argument, nullptr, LISTEN},
                          {"to", required_argument, nullptr, TO},
                          {"brightness", required_argument, nullptr, BRIGHTNESS},
                          {"gamma", required_argument, nullptr, GAMMA},
                          {"idle-hold", required_argument, nullptr, IDLE_HOLD},
                          {"http", required_argument, nullptr, HTTP},
                          {"http-host", required_argument, nullptr, HTTP_HOST},
                          {"help", no_argument, nullptr, HELP},
                          {"version", no_argument, nullptr, VERSION},
                          {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "", table, nullptr)) != -1;) {
    std::string why;
    switch (c) {
    case LISTEN:
      if (!tool_address_parse(optarg, &o->listen, &why))
        return bad("--listen", optarg, why);
      break;
    case TO: {
      std::istringstream urls(optarg);
      std::size_t before = o->outputs.size();
      for (std::string url; urls >> url;) {
        bridge_output_config config;
        if (!bridge_url_parse(url, &config, &why))
          return bad("--to", url.c_str(), why);
        o->outputs.push_back(config);
      }
      if (o->outputs.size() == before)
        return bad("--to", optarg, "no URL");
      break;
    }
    case BRIGHTNESS:
      if (!parse_real(optarg, 0, 100, &o->brightness))
        return bad("--brightness", optarg, "a number from 0 to 100 (per cent)");
      break;
    case GAMMA:
      if (!parse_real(optarg, 0.1, 5, &o->gamma))
        return bad("--gamma", optarg, "a number from 0.1 to 5 (1: none)");
      break;
    case IDLE_HOLD:
      if (!parse_real(optarg, 0, 86400, &o->idle_hold_s))
        return bad("--idle-hold", optarg, "seconds, from 0 to 86400");
      break;
    case HTTP:
#ifdef BRIDGE_HTTP
      if (!tool_address_parse(optarg, &o->http_address, &why))
        return bad("--http", optarg, why);
      o->http = true;
      break;
#else
      std::fputs("ledwall-bridge: this build has no browser view (--http): it was built without cpp-httplib\n", stderr);
      return 2;
#endif
    case HTTP_HOST: {
      std::string name;
      if (!tool_address_parse_name(optarg, &name, &why))
        return bad("--http-host", optarg, why);
      o->http_names.push_back(name);
      break;
    }
    case HELP: std::fputs(USAGE, stdout); return 0;
    case VERSION: std::printf("ledwall-bridge %s\n", LEDWALL_VERSION); return 0;
    default:
      if (optopt > 0 && optopt <= VERSION)
        std::fprintf(stderr, "ledwall-bridge: --%s needs a value\n", table[optopt - 1].name);
      else
        std::fprintf(stderr, "ledwall-bridge: unknown option %s\n", argv[optind - 1]);
      std::fputs(USAGE, stderr);
      return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "ledwall-bridge: unexpected argument: %s\n", argv[optind]);
    return 2;
  }
  if (o->outputs.empty()) {
    std::fputs("ledwall-bridge: no output: give at least one --to URL\n", stderr);
    std::fputs(USAGE, stderr);
    return 2;
  }
  return -1;
}

struct bridge {
  int stop_pipe[2] = {-1, -1};
  ledsim_server_t server = nullptr;
  bridge_feed_t feed = nullptr;
  std::vector<bridge_output_t> outputs;
#ifdef BRIDGE_HTTP
  bridge_view_t view = nullptr;
#endif
};

void on_frame(void *user, const wall_frame &frame) { bridge_feed_put(static_cast<bridge *>(user)->feed, frame); }

void on_tick(void *user) {
  auto *b = static_cast<bridge *>(user);
  bridge_feed_client(b->feed, ledsim_server_has_client(b->server), monotonic_ns());
}

bool start(const options &o, bridge *b) {
  if (pipe2(b->stop_pipe, O_CLOEXEC) < 0) {
    std::perror("ledwall-bridge: pipe");
    return false;
  }
  stop_fd = b->stop_pipe[1];
  struct sigaction stop {};
  stop.sa_handler = on_signal;
  sigemptyset(&stop.sa_mask);
  for (const int sig : {SIGINT, SIGTERM})
    sigaction(sig, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  b->server = ledsim_server_init(o.listen, ledsim_faults{});
  if (!b->server)
    return false;
  bridge_settings settings;
  settings.levels = pixel_levels_make(o.brightness, o.gamma);
  settings.idle_hold_ns = std::int64_t(std::llround(o.idle_hold_s * 1e9));
  std::string warning;
  settings.cid = bridge_cid_load(&warning);
  if (!warning.empty())
    std::fprintf(stderr, "ledwall-bridge: %s\n", warning.c_str());
  b->feed = bridge_feed_init();
  for (const bridge_output_config &config : o.outputs)
    b->outputs.push_back(bridge_output_init(config, settings, b->feed));
  const std::string listen = tool_address_text({o.listen.host, ledsim_server_port(b->server)});
#ifdef BRIDGE_HTTP
  if (o.http) {
    b->view = bridge_view_init(o.http_address, o.http_names, listen, b->feed, b->outputs, settings.levels);
    if (!b->view)
      return false;
  }
#endif
  std::fprintf(stderr, "ledwall-bridge: listening on %s, %zu output%s\n", listen.c_str(), o.outputs.size(),
               o.outputs.size() == 1 ? "" : "s");
  return true;
}

// The teardown, for a bridge built in part or whole: the readers stop and
// end their streams before the feed they read goes.
void finish(bridge *b) {
  if (b->feed)
    bridge_feed_stop(b->feed);
  for (bridge_output_t output : b->outputs) {
    bridge_output_status s;
    bridge_output_done(output, &s);
    std::fprintf(stderr, "ledwall-bridge: %s: %ld frames, %ld packets, %ld send errors, %ld frames skipped\n",
                 s.url.c_str(), s.frames, s.packets, s.errors, s.skipped);
  }
#ifdef BRIDGE_HTTP
  bridge_view_done(b->view);
#endif
  bridge_feed_done(b->feed);
  ledsim_server_done(b->server);
  stop_fd = -1;
  for (const int fd : b->stop_pipe)
    if (fd >= 0)
      close(fd);
}

} // namespace

int main(int argc, char **argv) {
  options o;
  if (const int status = parse_options(argc, argv, &o); status >= 0)
    return status;
  bridge b;
  const bool started = start(o, &b);
  const int served = started ? ledsim_server_run(b.server, b.stop_pipe[0], on_frame, &b, on_tick) : -1;
  finish(&b);
  return started && served == 0 ? 0 : 1;
}
