#include "private_sound_server.h"

#include <cstdio>
#include <cstdlib>

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

private_sound_server::~private_sound_server() { stop(); }

void private_sound_server::stop() {
  if (address_.empty())
    return;
  std::system((script_ + " stop " + dir_).c_str());
  address_.clear();
}
