#include "bridge_cid.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool make_folders(const std::string &path) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
      return false;
    if (slash == std::string::npos)
      return true;
  }
}

e131_cid random_cid() {
  e131_cid cid{};
  std::size_t have = 0;
  while (have < cid.size()) {
    const ssize_t n = getrandom(cid.data() + have, cid.size() - have, 0);
    if (n > 0)
      have += std::size_t(n);
  }
  cid[6] = u8((cid[6] & 0x0f) | 0x40); // version 4
  cid[8] = u8((cid[8] & 0x3f) | 0x80); // RFC 4122 variant
  return cid;
}

} // namespace

std::string bridge_cid_path() {
  if (const char *state = std::getenv("STATE_DIRECTORY"); state && *state) {
    std::string first = state;
    first = first.substr(0, first.find(':')); // systemd lists several with ':'
    return first + "/cid";
  }
  if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
    return std::string(xdg) + "/ledwall-bridge/cid";
  if (const char *home = std::getenv("HOME"); home && *home == '/')
    return std::string(home) + "/.local/state/ledwall-bridge/cid";
  return "";
}

std::string bridge_cid_text(const e131_cid &cid) {
  char text[37];
  char *at = text;
  for (std::size_t i = 0; i < cid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10)
      *at++ = '-';
    std::snprintf(at, 3, "%02x", cid[i]);
    at += 2;
  }
  return std::string(text, std::size_t(at - text));
}

bool bridge_cid_parse(const std::string &text, e131_cid *cid) {
  if (text.size() != 36)
    return false;
  std::size_t at = 0;
  for (std::size_t i = 0; i < cid->size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      if (text[at++] != '-')
        return false;
    }
    unsigned byte = 0;
    for (int k = 0; k < 2; ++k) {
      const char c = text[at++];
      const char *digits = "0123456789abcdef";
      const char *d = std::strchr(digits, c | 0x20);
      if (!c || !d)
        return false;
      byte = byte * 16 + unsigned(d - digits);
    }
    (*cid)[i] = u8(byte);
  }
  return true;
}

e131_cid bridge_cid_load(std::string *warning) {
  warning->clear();
  const std::string path = bridge_cid_path();
  if (path.empty()) {
    *warning = "no place to keep the E1.31 source id (no HOME): a new one for this run";
    return random_cid();
  }
  e131_cid cid{};
  std::ifstream in(path);
  std::string line;
  if (in && std::getline(in, line) && bridge_cid_parse(line, &cid))
    return cid;
  cid = random_cid();
  // Written beside and renamed, so that a crash never leaves half a CID.
  const std::string temporary = path + ".new";
  const std::string folder = path.substr(0, path.rfind('/'));
  std::ofstream out;
  if (make_folders(folder))
    out.open(temporary, std::ios::trunc);
  if (out && (out << bridge_cid_text(cid) << '\n') && (out.close(), !out.fail()) &&
      std::rename(temporary.c_str(), path.c_str()) == 0)
    return cid;
  unlink(temporary.c_str());
  *warning = "cannot keep the E1.31 source id in " + path + ": a new one for this run";
  return cid;
}
