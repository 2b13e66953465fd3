#include "tool_address.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace {

bool parse_port(const std::string &text, int *port, std::string *why) {
  long value = text.empty() ? -1 : 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > 65535) {
      value = -1;
      break;
    }
    value = value * 10 + (c - '0');
  }
  if (value < 0 || value > 65535) {
    *why = "the port must be a whole number from 0 to 65535, not '" + text + "'";
    return false;
  }
  *port = int(value);
  return true;
}

} // namespace

bool tool_address_parse(const char *text, tool_address *address, std::string *why) {
  const std::string t = text ? text : "";
  std::string host, port;
  if (!t.empty() && t[0] == '[') {
    const std::size_t close = t.find(']');
    if (close == std::string::npos || close + 1 == t.size() || t[close + 1] != ':') {
      *why = "an IPv6 host goes in brackets with the port after them, as [::1]:7890";
      return false;
    }
    host = t.substr(1, close - 1);
    port = t.substr(close + 2);
    if (host.empty()) {
      *why = "the brackets hold no host";
      return false;
    }
  } else {
    const std::size_t colon = t.find(':');
    if (colon != std::string::npos && t.find(':', colon + 1) != std::string::npos) {
      *why = "an IPv6 host goes in brackets with the port after them, as [::1]:7890";
      return false;
    }
    host = colon == std::string::npos ? "" : t.substr(0, colon);
    port = colon == std::string::npos ? t : t.substr(colon + 1);
  }
  if (!parse_port(port, &address->port, why))
    return false;
  address->host = host.empty() ? TOOL_ADDRESS_DEFAULT_HOST : host;
  return true;
}

bool tool_address_parse_name(const char *text, std::string *name, std::string *why) {
  std::string t = text ? text : "";
  if (t.size() > 2 && t.front() == '[' && t.back() == ']')
    t = t.substr(1, t.size() - 2);
  const std::size_t colons = std::size_t(std::count(t.begin(), t.end(), ':'));
  const bool fits = !t.empty() && std::all_of(t.begin(), t.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == ':' || c == '_';
  });
  if (!fits || colons == 1) {
    *why = colons == 1 ? "give the name without a port" : "a host name or address (letters, digits, '-', '.', ':')";
    return false;
  }
  std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  *name = t;
  return true;
}

std::string tool_address_text(const tool_address &address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

bool tool_address_resolve(const tool_address &address, sockaddr_storage *socket_address, socklen_t *length,
                          std::string *why) {
  const std::string port = std::to_string(address.port);
  int error = EAI_NONAME;
  for (const int family : {AF_INET, AF_INET6}) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    error = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
    if (error == 0) {
      std::memcpy(socket_address, found->ai_addr, found->ai_addrlen);
      *length = found->ai_addrlen;
      freeaddrinfo(found);
      return true;
    }
  }
  *why = std::string("no address for ") + address.host + " (" + gai_strerror(error) + ")";
  return false;
}

bool tool_accept_lacks_resources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}
