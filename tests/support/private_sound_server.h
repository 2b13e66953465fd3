// A sound server of a test's own, started with the headless-sound script,
// which the test can kill without disturbing the one the other tests use.
#pragma once

#include <string>

class private_sound_server {
public:
  // `script` is the headless-sound script; `dir` holds the server's socket.
  private_sound_server(std::string script, std::string dir);
  ~private_sound_server(); // stops it if it still runs and removes `dir`
  private_sound_server(const private_sound_server &) = delete;
  private_sound_server &operator=(const private_sound_server &) = delete;

  // The PULSE_SERVER value that reaches it; empty when it did not start.
  const std::string &address() const { return address_; }
  // Ends it as its script does: SIGTERM, after which the server takes its
  // time to close its clients.
  void stop();
  // Kills it at once (SIGKILL), as a sound device that vanishes: its clients'
  // connections close that moment. Then tidies up as stop() does.
  void kill();

private:
  std::string script_, dir_, address_;
};
