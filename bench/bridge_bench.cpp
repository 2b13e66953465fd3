// The bridge's cost, measured on loopback with the real program:
//
//   bridge_bench latency BRIDGE [FRAMES]
//     Starts BRIDGE with one output and again with four (E1.31, DDP, Art-Net,
//     E1.31 with options), sends FRAMES OPC frames (default 2000) 10 ms apart
//     and times each from the moment its message is written to the moment
//     every receiver has its last packet: the latency the bridge adds, with
//     both loopback hops in it (a few microseconds each). Prints p50, p99 and
//     the largest, and the bridge's CPU time per frame (all its threads, from
//     /proc/PID/task/*/schedstat).
//
//   bridge_bench receive PORT SECONDS
//     An E1.31 receiver on 127.0.0.1:PORT for the 32x16 wall (universes 1-4):
//     for SECONDS after its first frame, the gaps between frames (complete on
//     universe 4), as p50, p99 and the largest, for bench/bridge_bench.sh.
#include "child_process.h"
#include "loopback_socket.h"
#include "types.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

// The OPC client's side, plain: a connection and whole messages written.
int connect_to(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(u16(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 ? fd : -1;
}

bool send_frame(int fd, const std::vector<u8> &leds) {
  std::vector<u8> message = {0, 0, u8(leds.size() >> 8), u8(leds.size())};
  message.insert(message.end(), leds.begin(), leds.end());
  return write(fd, message.data(), message.size()) == ssize_t(message.size());
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(p / 100 * double(v.size())))];
}

// CPU time of all of a process's threads, in nanoseconds.
long long cpu_ns(int pid) {
  long long total = 0;
  const std::string folder = "/proc/" + std::to_string(pid) + "/task";
  DIR *tasks = opendir(folder.c_str());
  if (!tasks)
    return 0;
  while (const dirent *t = readdir(tasks)) {
    if (t->d_name[0] == '.')
      continue;
    std::ifstream in(folder + "/" + t->d_name + "/schedstat");
    long long on_cpu = 0;
    if (in >> on_cpu)
      total += on_cpu;
  }
  closedir(tasks);
  return total;
}

// Packets that end a frame, per protocol: DDP's push, E1.31's and Art-Net's last universe.
bool ends_frame(const std::vector<u8> &p) {
  if (p.size() >= 10 && (p[0] & 0xc0) == 0x40)
    return p[0] & 0x01;
  if (p.size() > 126 && p[4] == 'A' && p[5] == 'S')
    return (p[113] << 8 | p[114]) == 4 || (p[113] << 8 | p[114]) == 13;
  if (p.size() > 18 && p[0] == 'A' && p[1] == 'r')
    return (p[14] | p[15] << 8) == 3;
  return false;
}

// A receiver that notes when each frame's last packet came, and nothing else.
struct frame_receiver {
  int fd = -1;
  int port = 0;
  std::atomic<long> ended{0};
  std::atomic<bool> running{true};
  std::vector<clock_type::time_point> when = std::vector<clock_type::time_point>(1 << 16);
  std::thread thread;
  frame_receiver() {
    fd = loopback_socket(SOCK_DGRAM, 0, &port);
    thread = std::thread([this] {
      std::vector<u8> p(2048);
      while (running) {
        pollfd w{fd, POLLIN, 0};
        if (poll(&w, 1, 50) != 1)
          continue;
        const ssize_t n = recv(fd, p.data(), p.size(), 0);
        if (n > 0 && ends_frame(std::vector<u8>(p.begin(), p.begin() + n))) {
          const long k = ended.load();
          when[std::size_t(k) % when.size()] = clock_type::now();
          ended.store(k + 1);
        }
      }
    });
  }
  ~frame_receiver() {
    running = false;
    thread.join();
    close(fd);
  }
  std::string at() const { return "127.0.0.1:" + std::to_string(port); }
};

int latency(const char *bridge_path, int frames, int outputs) {
  std::vector<std::unique_ptr<frame_receiver>> receivers;
  std::vector<std::string> argv = {bridge_path, "--listen", "127.0.0.1:0"};
  const char *kinds[] = {"e131://", "ddp://", "artnet://", "e131://"};
  const char *options[] = {"", "", "", "/10?order=columns&serpentine&colors=grb&sync"};
  for (int i = 0; i < outputs; ++i) {
    receivers.push_back(std::make_unique<frame_receiver>());
    argv.insert(argv.end(), {"--to", std::string(kinds[i]) + receivers.back()->at() + options[i]});
  }
  child_process bridge(argv);
  const std::string mark = "listening on 127.0.0.1:";
  if (!bridge.wait_for_output(mark, 10s)) {
    std::fprintf(stderr, "bridge_bench: the bridge did not start:\n%s", bridge.output().c_str());
    return 1;
  }
  const std::string out = bridge.output();
  const int client = connect_to(std::stoi(out.substr(out.find(mark) + mark.size())));
  std::vector<u8> leds(1536);
  std::vector<double> ms;
  long long cpu_before = 0;
  for (int k = -50; k < frames; ++k) { // 50 frames to warm up
    if (k == 0)
      cpu_before = cpu_ns(bridge.pid());
    leds[0] = u8(k);
    const auto sent = clock_type::now();
    if (!send_frame(client, leds)) {
      std::perror("bridge_bench: OPC");
      return 1;
    }
    const long want = k + 51;
    clock_type::time_point last = sent;
    for (auto &r : receivers) {
      const auto limit = clock_type::now() + 2s;
      while (r->ended.load() < want && clock_type::now() < limit)
        std::this_thread::sleep_for(50us);
      last = std::max(last, r->when[std::size_t(want - 1) % r->when.size()]);
    }
    if (k >= 0)
      ms.push_back(std::chrono::duration<double, std::milli>(last - sent).count());
    std::this_thread::sleep_for(10ms);
  }
  const double cpu_us = double(cpu_ns(bridge.pid()) - cpu_before) / 1000.0 / frames;
  std::printf("%d output%s: latency p50 %.3f ms, p99 %.3f ms, largest %.3f ms; CPU %.1f us per frame (%d frames)\n",
              outputs, outputs == 1 ? " " : "s", percentile(ms, 50), percentile(ms, 99), percentile(ms, 100), cpu_us,
              frames);
  close(client);
  bridge.signal(SIGTERM);
  bridge.wait(10s);
  return 0;
}

int receive(int port, double seconds) {
  int bound = 0;
  const int fd = loopback_socket(SOCK_DGRAM, port, &bound);
  if (fd < 0) {
    std::perror("bridge_bench: bind");
    return 1;
  }
  std::vector<u8> buffer(2048);
  std::vector<double> gaps;
  clock_type::time_point first{}, last{};
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1)
      break;
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 126 || buffer[112] & 0x40 || (buffer[113] << 8 | buffer[114]) != 4)
      continue;
    const auto now = clock_type::now();
    if (first == clock_type::time_point{})
      first = now;
    else
      gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
    if (now - first > std::chrono::duration<double>(seconds))
      break;
  }
  close(fd);
  std::printf("frames %zu  gap p50 %.2f ms  p99 %.2f ms  largest %.2f ms\n", gaps.size() + 1, percentile(gaps, 50),
              percentile(gaps, 99), percentile(gaps, 100));
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "latency" && argc >= 3) {
    const int frames = argc > 3 ? std::atoi(argv[3]) : 2000;
    return latency(argv[2], frames, 1) || latency(argv[2], frames, 4);
  }
  if (mode == "receive" && argc == 4)
    return receive(std::atoi(argv[2]), std::atof(argv[3]));
  std::fputs("usage: bridge_bench latency BRIDGE [FRAMES] | bridge_bench receive PORT SECONDS\n", stderr);
  return 2;
}
