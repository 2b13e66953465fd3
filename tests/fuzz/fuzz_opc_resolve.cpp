// Fuzzes opc_resolve's reading of "host:port" texts.
//
// Lookups stay on this machine and cost no waiting: a host part reaches the
// resolver as it is only when it is a dotted IPv4 address (taken without any
// lookup) or empty; any other host part is replaced by a loopback name from
// the hosts file or a loopback address, chosen by the input, so that the rest
// of the text still exercises the reading of the port. (The fuzz script also
// runs this inside a network namespace of its own, with no interface up.)
//
// Input: the text, up to the first NUL; when two bytes follow that NUL they
// are a second default port to resolve with.
#include "opc.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

namespace {

void check(bool promise_kept) {
  if (!promise_kept)
    __builtin_trap();
}

constexpr std::array<const char *, 3> local_hosts = {"localhost", "ip6-localhost", "127.0.0.1"};

std::string host_in(const std::string &text) { return text.substr(0, text.find(':')); }

bool dotted_ipv4(const std::string &host, in_addr *address) { return inet_pton(AF_INET, host.c_str(), address) == 1; }

// The value of the leading digits after the first ':' (0 without), or 65536
// for anything above 65535.
unsigned port_in(const std::string &text) {
  const auto colon = text.find(':');
  unsigned value = 0;
  if (colon == std::string::npos)
    return value;
  for (auto c = text.begin() + long(colon) + 1; c != text.end() && *c >= '0' && *c <= '9'; ++c) {
    value = value * 10 + unsigned(*c - '0');
    if (value > 65535)
      return 65536;
  }
  return value;
}

void resolve_and_check(const std::string &text, u16 default_port) {
  // An exact-size copy: a read past the terminator hits the sanitizer's red zone.
  const auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);

  in_addr numeric{};
  const bool is_numeric = dotted_ipv4(host_in(text), &numeric);
  const unsigned port = port_in(text);

  sockaddr_in address;
  std::memset(&address, 0xa5, sizeof address);
  const int result = opc_resolve(copy.get(), &address, default_port);
  check(result == 0 || result == 1);
  if (port > 65535)
    check(result == 0);
  else if (is_numeric)
    check(result == 1 && address.sin_addr.s_addr == numeric.s_addr);
  if (result == 1) {
    check(address.sin_family == AF_INET);
    check(ntohs(address.sin_port) == (port != 0 ? port : default_port));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8 *data, std::size_t size) {
  const char *begin = reinterpret_cast<const char *>(data);
  const std::size_t text_size = std::find(begin, begin + size, '\0') - begin;
  std::string text(begin, text_size);

  const std::string host = host_in(text);
  in_addr unused{};
  if (!host.empty() && !dotted_ipv4(host, &unused))
    text.replace(0, host.size(), local_hosts[host.size() % local_hosts.size()]);

  resolve_and_check(text, OPC_DEFAULT_PORT);
  if (size >= text_size + 3)
    resolve_and_check(text, u16(data[text_size + 1] << 8 | data[text_size + 2]));
  return 0;
}
