// The bridge's outputs as a user names them, one URL each:
//
//   ddp://HOST[:PORT]                      (port 4048)
//   e131://HOST[:PORT][/UNIVERSE]          (port 5568, first universe 1)
//   e131://multicast[:PORT][/UNIVERSE]     (239.255.hi.lo, one group per universe)
//   artnet://HOST[:PORT][/UNIVERSE]        (port 6454, first port-address 0)
//   opc://HOST[:PORT]                      (port 7890)
//
// followed by options as a query, "?order=columns&serpentine&size=16x16":
// order, serpentine, flip, size, map, colors (every output); universe-size
// and sync (E1.31 and Art-Net); interface (E1.31 multicast: the address of
// the interface to send from). HOST is a name, an IPv4 address or an IPv6
// address in brackets.
//
// Parsing reads the map file, if one is named, and checks everything a user
// can get wrong, so that a bad option stops the bridge before it sends.
#pragma once

#include <array>
#include <string>
#include <vector>

enum class bridge_protocol { ddp, e131, artnet, opc };
enum class bridge_order { rows, columns, wiring };

struct bridge_output_config {
  std::string url;                // as given, for messages and the status
  bridge_protocol protocol = bridge_protocol::ddp;
  std::string host;               // without brackets; empty for E1.31 multicast
  bool multicast = false;         // E1.31 to the universes' multicast groups
  std::string interface;          // multicast: the sending interface's IPv4 address (empty: the system's choice)
  int port = 0;
  int universe = 0;               // the first universe (E1.31) or port-address (Art-Net)
  bridge_order order = bridge_order::rows;
  bool serpentine = false;
  bool flip_x = false, flip_y = false;
  int width = 32, height = 16;    // the controller's matrix
  std::vector<int> map;           // physical LED of each matrix position (image order); empty: by order
  std::array<int, 3> colors{0, 1, 2}; // which of red, green, blue goes first, second, third
  int universe_size = 510;        // channels per universe (E1.31, Art-Net)
  bool sync = false;              // E1.31 synchronization, ArtSync
};

// False, with one line on what is wrong in *why (without the URL, which the
// caller prints), when `text` is no output of the forms above.
bool bridge_url_parse(const std::string &text, bridge_output_config *config, std::string *why);

// The protocol's name as URLs spell it.
const char *bridge_protocol_name(bridge_protocol protocol);
