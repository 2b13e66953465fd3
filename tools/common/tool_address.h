// The tools' HOST:PORT options, parsed one way for all of them:
//
//   HOST:PORT     a name, an IPv4 address, or an IPv6 address in brackets
//                 ([::1]:7890)
//   :PORT, PORT   the port on 127.0.0.1 (this machine only)
//
// The port is a whole number from 0 to 65535; 0 asks for any free one where
// the tool listens. A bad text gets one reason, in words a user can act on,
// for the tool to print after the option and the text it was given.
//
// (The demo's OPC client has a rule of its own for its OPC address; that one
// is the show's and stays apart.)
#pragma once

#include <string>
#include <sys/socket.h>

inline constexpr const char *TOOL_ADDRESS_DEFAULT_HOST = "127.0.0.1";

struct tool_address {
  std::string host; // without brackets; TOOL_ADDRESS_DEFAULT_HOST when none was given
  int port = 0;
};

// False, with the reason in *why, when `text` is no address of the forms above.
bool tool_address_parse(const char *text, tool_address *address, std::string *why);

// A host name or address without a port (NAME, 192.168.1.20, ::1 or [::1]),
// as the tools' --http-host takes it: into *name in lower case, without
// brackets. False, with the reason in *why, for anything else.
bool tool_address_parse_name(const char *text, std::string *name, std::string *why);

// The address as a user writes it: "127.0.0.1:7890", "[::1]:7890".
std::string tool_address_text(const tool_address &address);

// The socket address to bind to: IPv4 first, so that a name such as
// localhost means what the OPC client (IPv4 only) will reach; IPv6 when the
// host has no IPv4 address. False, with the reason in *why, when the host
// cannot be resolved.
bool tool_address_resolve(const tool_address &address, sockaddr_storage *socket_address, socklen_t *length,
                          std::string *why);

// Whether accept() on a tool's listening socket failed with `error` for want
// of a descriptor or of memory: the connection waits on, so the socket stays
// readable and trying again at once would spin.
bool tool_accept_lacks_resources(int error);
