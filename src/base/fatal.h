// Start-up and resource failures end the process: a report on the standard
// error stream, then exit status 1. The output path never comes here.
#pragma once

#include <cstdio>
#include <cstdlib>

// The system's report for the call that failed (perror with its name), then the end.
[[noreturn]] inline void fatal_perror(const char *call) {
  std::perror(call);
  std::exit(1);
}

// `allocation` itself, when there is one. A null one means memory ran out:
// `report` says so and the process ends.
template <typename T, typename Report> T *allocated_or_exit(T *allocation, Report report) {
  if (!allocation) {
    report();
    std::exit(1);
  }
  return allocation;
}

// The same with the report every allocation gives unless it has its own: perror naming "malloc".
template <typename T> T *allocated_or_exit(T *allocation) {
  return allocated_or_exit(allocation, [] { std::perror("malloc"); });
}
