// The LED wall simulator as a program run by a test: started with options,
// its first line of output read (the port it listens on, or its complaint).
#pragma once

#include "child_process.h"

#include <string>
#include <vector>

struct simulator_process {
  child_process program;
  std::string first_line;
  int port = 0; // 0 when it does not say it listens

  // `ledsim` is the simulator program's path.
  simulator_process(const std::string &ledsim, const std::vector<std::string> &options);
  // Sends `sig` (0: none, it ends by itself) and waits; its exit status.
  int stop(int sig);
};
