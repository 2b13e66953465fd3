#include "child_process.h"

#include "file_contents.h"
#include "poll_until.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

extern char **environ;

namespace {

std::string name_of(const std::string &entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> environment_with(const std::vector<std::string> &changes) {
  std::vector<std::string> out;
  for (char **e = environ; *e; ++e) {
    bool changed = false;
    for (const auto &c : changes)
      changed = changed || name_of(c) == name_of(*e);
    if (!changed)
      out.emplace_back(*e);
  }
  for (const auto &c : changes)
    if (c.find('=') != std::string::npos)
      out.push_back(c);
  return out;
}

// An empty file of its own for what a program writes; "" when none could be made.
std::string temporary_file() {
  char path[] = "/tmp/child_output_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0)
    return "";
  close(fd);
  return path;
}

std::vector<char *> pointers(std::vector<std::string> &strings) {
  std::vector<char *> out;
  for (auto &s : strings)
    out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

} // namespace

std::vector<std::string> emulated(std::vector<std::string> argv) {
  std::vector<std::string> out;
  const std::string emulator = CHILD_EMULATOR; // words separated by spaces
  for (size_t at = 0; at < emulator.size();) {
    const size_t end = std::min(emulator.find(' ', at), emulator.size());
    if (end > at)
      out.push_back(emulator.substr(at, end - at));
    at = end + 1;
  }
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

child_process::child_process(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                             std::string output_path, child_streams streams)
    : output_path_(std::move(output_path)) {
  if (output_path_.empty()) {
    output_path_ = temporary_file();
    if (output_path_.empty())
      return;
    temporary_ = true;
  }
  if (streams == child_streams::apart && (errors_path_ = temporary_file()).empty())
    return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (errors_path_.empty())
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, errors_path_.c_str(), O_WRONLY | O_TRUNC, 0644);
  std::vector<std::string> args = emulated(argv), vars = environment_with(env);
  if (posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, pointers(args).data(), pointers(vars).data()) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

child_process::~child_process() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (temporary_)
    unlink(output_path_.c_str());
  if (!errors_path_.empty())
    unlink(errors_path_.c_str());
}

int child_process::wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0)
    return -1;
  const auto reaped = [&] {
    int raw = 0;
    if (status_ < 0 && waitpid(pid_, &raw, WNOHANG) == pid_)
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_ >= 0;
  };
  if (!poll_until(reaped, limit, std::chrono::milliseconds(20))) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    status_ = 128 + SIGKILL;
    return -1;
  }
  return status_;
}

bool child_process::ended() const {
  if (pid_ <= 0 || status_ >= 0)
    return true;
  siginfo_t info{};
  // Looks without reaping, so that wait() still gets the status.
  return waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

void child_process::signal(int sig) const {
  if (pid_ > 0 && status_ < 0)
    kill(pid_, sig);
}

std::string child_process::output() const { return file_text(output_path_); }

std::string child_process::errors() const { return errors_path_.empty() ? "" : file_text(errors_path_); }

bool child_process::wait_for_output(const std::string &text, std::chrono::milliseconds limit) const {
  const auto said = [&] { return output().find(text) != std::string::npos; };
  poll_until([&] { return said() || ended(); }, limit, std::chrono::milliseconds(20));
  return said();
}
