// A program run by a test: started with this process's environment plus
// changes, its standard output and error together in a file (or, asked for,
// in two), waited for with a limit so that a hanging program fails the test
// instead of holding it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// `argv` as it must be started here: in a cross build the program is run by
// the emulator the build names (a test's own processes are emulated already,
// but the system cannot start another program of the target by itself).
std::vector<std::string> emulated(std::vector<std::string> argv);

enum class child_streams { together, apart };

class child_process {
public:
  // `env` entries "NAME=value" set a variable, a bare "NAME" removes it.
  // With an empty `output_path` the output goes to a temporary file. With
  // `apart`, standard error goes to a temporary file of its own.
  child_process(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                std::string output_path = "", child_streams streams = child_streams::together);
  ~child_process(); // kills a program still running
  child_process(const child_process &) = delete;
  child_process &operator=(const child_process &) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool ended() const;
  // Its exit status, 128 + the signal that ended it, or -1 when it was still
  // running after `limit` (it is then killed).
  int wait(std::chrono::milliseconds limit);
  void signal(int sig) const;
  // Everything it has written so far (with `apart`, on standard output).
  std::string output() const;
  // With `apart`, what it has written on standard error so far.
  std::string errors() const;
  // Waits until its output holds `text`; false after `limit` or when it ended.
  bool wait_for_output(const std::string &text, std::chrono::milliseconds limit) const;

private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string output_path_, errors_path_;
  bool temporary_ = false;
};
