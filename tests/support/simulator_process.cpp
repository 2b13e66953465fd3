#include "simulator_process.h"

#include <chrono>
#include <cstdio>

namespace {

std::vector<std::string> command(const std::string &ledsim, const std::vector<std::string> &options) {
  std::vector<std::string> out{ledsim};
  out.insert(out.end(), options.begin(), options.end());
  return out;
}

} // namespace

simulator_process::simulator_process(const std::string &ledsim, const std::vector<std::string> &options)
    : program(command(ledsim, options)) {
  program.wait_for_output("\n", std::chrono::seconds(5));
  const std::string said = program.output();
  first_line = said.substr(0, said.find('\n'));
  std::sscanf(first_line.c_str(), "ledsim: listening on port %d", &port);
}

int simulator_process::stop(int sig) {
  if (sig != 0)
    program.signal(sig);
  return program.wait(std::chrono::seconds(10));
}
