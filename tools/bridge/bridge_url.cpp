#include "bridge_url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// Bounds that keep every output's packets and tables small: 128x128 LEDs.
constexpr int MAX_SIDE = 512;
constexpr int MAX_LEDS = 16384;

bool parse_number(const std::string &text, long low, long high, long *value) {
  if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return false;
  *value = std::stol(text);
  return *value >= low && *value <= high;
}

// A JSON array of whole numbers, as the map file holds it.
bool parse_map_json(const std::string &text, std::vector<int> *map, std::string *why) {
  std::size_t i = 0;
  const auto skip = [&] {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
      ++i;
  };
  const auto fail = [&](const char *what) {
    *why = std::string(what) + " at byte " + std::to_string(i);
    return false;
  };
  skip();
  if (i >= text.size() || text[i] != '[')
    return fail("not a JSON array: no '['");
  ++i;
  skip();
  if (i < text.size() && text[i] == ']') {
    ++i;
  } else {
    for (;;) {
      skip();
      const std::size_t start = i;
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
      long value = 0;
      if (!parse_number(text.substr(start, i - start), 0, MAX_LEDS - 1, &value))
        return fail(i == start ? "not a whole number" : "an LED index above 16383");
      map->push_back(int(value));
      skip();
      if (i < text.size() && text[i] == ',') {
        ++i;
        continue;
      }
      if (i < text.size() && text[i] == ']') {
        ++i;
        break;
      }
      return fail("expected ',' or ']'");
    }
  }
  skip();
  if (i != text.size())
    return fail("text after the array");
  return true;
}

bool load_map(const std::string &path, std::vector<int> *map, std::string *why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "map: cannot read " + path;
    return false;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string reason;
  map->clear();
  if (!parse_map_json(text, map, &reason)) {
    *why = "map " + path + ": " + reason;
    return false;
  }
  return true;
}

bool parse_colors(const std::string &text, std::array<int, 3> *colors) {
  if (text.size() != 3)
    return false;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = std::string("rgb").find(text[i]);
    if (at == std::string::npos || text.find(text[i]) != i)
      return false;
    (*colors)[i] = int(at);
  }
  return true;
}

bool parse_size(const std::string &text, int *width, int *height) {
  const std::size_t x = text.find('x');
  long w = 0, h = 0;
  if (x == std::string::npos || !parse_number(text.substr(0, x), 1, MAX_SIDE, &w) ||
      !parse_number(text.substr(x + 1), 1, MAX_SIDE, &h))
    return false;
  *width = int(w);
  *height = int(h);
  return true;
}

// One "key[=value]" of the query into *config; the map's file is read after
// all options are known (its length depends on size=).
bool parse_option(const std::string &item, bridge_output_config *config, std::string *map_path, bool *order_given,
                  std::string *why) {
  const std::size_t eq = item.find('=');
  const std::string key = item.substr(0, eq);
  const bool has_value = eq != std::string::npos;
  const std::string value = has_value ? item.substr(eq + 1) : "";
  const bool dmx = config->protocol == bridge_protocol::e131 || config->protocol == bridge_protocol::artnet;
  const auto bad = [&](const std::string &expected) {
    *why = "bad " + key + (has_value ? "=" + value : "") + ": " + expected;
    return false;
  };
  if ((key == "serpentine" || key == "sync") && has_value)
    return bad("it takes no value");
  if (key != "serpentine" && key != "sync" && !has_value)
    return bad("it needs a value (" + key + "=...)");
  if (key == "order") {
    if (value == "rows")
      config->order = bridge_order::rows;
    else if (value == "columns")
      config->order = bridge_order::columns;
    else if (value == "wiring")
      config->order = bridge_order::wiring;
    else
      return bad("rows, columns or wiring");
    *order_given = true;
  } else if (key == "serpentine") {
    config->serpentine = true;
  } else if (key == "flip") {
    if (value != "x" && value != "y" && value != "xy" && value != "yx")
      return bad("x, y or xy");
    config->flip_x = value.find('x') != std::string::npos;
    config->flip_y = value.find('y') != std::string::npos;
  } else if (key == "size") {
    if (!parse_size(value, &config->width, &config->height))
      return bad("WIDTHxHEIGHT, each from 1 to 512 (for example 16x16 or 64x32)");
  } else if (key == "map") {
    if (value.empty())
      return bad("the name of a JSON file");
    *map_path = value;
  } else if (key == "colors") {
    if (!parse_colors(value, &config->colors))
      return bad("rgb, rbg, grb, gbr, brg or bgr");
  } else if (key == "universe-size" && dmx) {
    if (value != "510" && value != "512")
      return bad("510 or 512");
    config->universe_size = value == "510" ? 510 : 512;
  } else if (key == "sync" && dmx) {
    config->sync = true;
  } else if (key == "interface" && config->multicast) {
    in_addr address{};
    if (inet_pton(AF_INET, value.c_str(), &address) != 1)
      return bad("the IPv4 address of the interface to send from");
    config->interface = value;
  } else if (key == "universe-size" || key == "sync") {
    *why = key + " is for e131:// and artnet:// only";
    return false;
  } else if (key == "interface") {
    *why = "interface is for e131://multicast only";
    return false;
  } else {
    *why = "unknown option '" + key + "'";
    return false;
  }
  return true;
}

bool check_map(bridge_output_config *config, const std::string &map_path, long leds, std::string *why);

// The options that only make sense together, once all are known.
bool check_combination(bridge_output_config *config, const std::string &map_path, bool order_given, std::string *why) {
  const long leds = long(config->width) * config->height;
  if (leds > MAX_LEDS) {
    *why = "size=" + std::to_string(config->width) + "x" + std::to_string(config->height) + " has more than 16384 LEDs";
    return false;
  }
  if (config->order == bridge_order::wiring && (config->width != 32 || config->height != 16)) {
    *why = "order=wiring is the 32x16 wall's own order: it takes no other size";
    return false;
  }
  if (config->order == bridge_order::wiring && config->serpentine) {
    *why = "serpentine goes with order=rows or order=columns, not wiring";
    return false;
  }
  if (!map_path.empty() && (order_given || config->serpentine)) {
    *why = "map= gives the whole order: it takes no order= or serpentine";
    return false;
  }
  if (!map_path.empty() && !check_map(config, map_path, leds, why))
    return false;
  // Every universe the output needs must exist.
  if (config->protocol == bridge_protocol::e131 || config->protocol == bridge_protocol::artnet) {
    const long physical = config->map.empty() ? leds : *std::max_element(config->map.begin(), config->map.end()) + 1;
    const long universes = (physical * 3 + config->universe_size - 1) / config->universe_size;
    const long last = config->protocol == bridge_protocol::e131 ? 63999 : 32767;
    if (config->universe + universes - 1 > last) {
      *why = "the " + std::to_string(universes) + " universes from " + std::to_string(config->universe) +
             " go past " + std::to_string(last);
      return false;
    }
  }
  return true;
}

bool check_map(bridge_output_config *config, const std::string &map_path, long leds, std::string *why) {
  if (!load_map(map_path, &config->map, why))
    return false;
  if (long(config->map.size()) != leds) {
    *why = "map " + map_path + ": " + std::to_string(config->map.size()) + " entries for a " +
           std::to_string(config->width) + "x" + std::to_string(config->height) + " matrix (" + std::to_string(leds) +
           " wanted)";
    return false;
  }
  std::vector<bool> seen(MAX_LEDS, false);
  for (std::size_t p = 0; p < config->map.size(); ++p) {
    if (seen[std::size_t(config->map[p])]) {
      *why = "map " + map_path + ": LED " + std::to_string(config->map[p]) + " appears twice (entry " +
             std::to_string(p) + ")";
      return false;
    }
    seen[std::size_t(config->map[p])] = true;
  }
  return true;
}

struct scheme {
  const char *name;
  bridge_protocol protocol;
  int port;
  int first_universe; // -1: no universes
  int last_universe;
};

constexpr scheme SCHEMES[] = {
    {"ddp", bridge_protocol::ddp, 4048, -1, -1},
    {"e131", bridge_protocol::e131, 5568, 1, 63999},
    {"artnet", bridge_protocol::artnet, 6454, 0, 32767},
    {"opc", bridge_protocol::opc, 7890, -1, -1},
};

} // namespace

const char *bridge_protocol_name(bridge_protocol protocol) {
  for (const scheme &s : SCHEMES)
    if (s.protocol == protocol)
      return s.name;
  return "?";
}

bool bridge_url_parse(const std::string &text, bridge_output_config *config, std::string *why) {
  *config = bridge_output_config{};
  config->url = text;
  const std::size_t colon = text.find("://");
  const scheme *kind = nullptr;
  for (const scheme &s : SCHEMES)
    if (colon != std::string::npos && text.compare(0, colon, s.name) == 0 && colon == std::strlen(s.name))
      kind = &s;
  if (!kind) {
    *why = "not an output: ddp://, e131://, artnet:// or opc:// followed by a host";
    return false;
  }
  config->protocol = kind->protocol;
  config->port = kind->port;
  config->universe = kind->first_universe < 0 ? 0 : kind->first_universe;

  std::string rest = text.substr(colon + 3);
  std::string query;
  if (const std::size_t q = rest.find('?'); q != std::string::npos) {
    query = rest.substr(q + 1);
    rest.erase(q);
  }
  std::string path;
  if (const std::size_t slash = rest.find('/'); slash != std::string::npos) {
    path = rest.substr(slash + 1);
    rest.erase(slash);
  }

  // HOST[:PORT], HOST in brackets when it is an IPv6 address.
  std::string port_text;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) {
      *why = "an IPv6 address needs its closing ']'";
      return false;
    }
    config->host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after[0] != ':') {
      *why = "unexpected '" + after + "' after the address";
      return false;
    }
    if (!after.empty())
      port_text = after.substr(1);
    if (!after.empty() && port_text.empty()) {
      *why = "':' without a port";
      return false;
    }
  } else {
    const std::size_t c = rest.find(':');
    config->host = rest.substr(0, c);
    if (c != std::string::npos) {
      port_text = rest.substr(c + 1);
      if (port_text.empty()) {
        *why = "':' without a port";
        return false;
      }
    }
  }
  if (config->host.empty()) {
    *why = "no host";
    return false;
  }
  long number = 0;
  if (!port_text.empty()) {
    if (!parse_number(port_text, 1, 65535, &number)) {
      *why = "bad port '" + port_text + "': a whole number from 1 to 65535";
      return false;
    }
    config->port = int(number);
  }
  if (config->protocol == bridge_protocol::e131 && config->host == "multicast") {
    config->multicast = true;
    config->host.clear();
  }
  if (!path.empty()) {
    if (kind->first_universe < 0) {
      *why = std::string(kind->name) + ":// takes no universe";
      return false;
    }
    if (!parse_number(path, kind->first_universe, kind->last_universe, &number)) {
      *why = "bad universe '" + path + "': a whole number from " + std::to_string(kind->first_universe) + " to " +
             std::to_string(kind->last_universe);
      return false;
    }
    config->universe = int(number);
  }

  std::string map_path;
  bool order_given = false;
  std::stringstream items(query);
  for (std::string item; std::getline(items, item, '&');)
    if (!item.empty() && !parse_option(item, config, &map_path, &order_given, why))
      return false;
  return check_combination(config, map_path, order_given, why);
}
