#include "private_sound_server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

private_sound_server::private_sound_server(std::string script, std::string dir)
    : script_(std::move(script)), dir_(std::move(dir)) {
  const std::string command = script_ + " start " + dir_ + " --private";
  std::FILE *out = popen(command.c_str(), "r");
  char line[512] = {};
  const bool got = out && std::fgets(line, sizeof line, out);
  if (out)
    pclose(out);
  const std::string text = got ? line : "";
  const std::string prefix = "export PULSE_SERVER=";
  if (text.rfind(prefix, 0) != 0)
    return;
  address_ = text.substr(prefix.size());
  address_.erase(address_.find_last_not_of("\n") + 1);
}

private_sound_server::~private_sound_server() {
  stop();
  std::error_code ignored; // its folder, log included, goes with it
  std::filesystem::remove_all(dir_, ignored);
}

void private_sound_server::stop() {
  if (address_.empty())
    return;
  // Stopping a server that is gone already is not a failure.
  [[maybe_unused]] int status = std::system((script_ + " stop " + dir_).c_str());
  address_.clear();
}

void private_sound_server::kill() {
  if (address_.empty())
    return;
  std::ifstream pid_file(dir_ + "/pulse/pid");
  long pid = 0;
  if (pid_file >> pid && pid > 0)
    ::kill(pid_t(pid), SIGKILL);
  stop();
}
