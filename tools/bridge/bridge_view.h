// The bridge's browser view: the simulator's page, showing the frames as the
// outputs send them (after brightness and gamma) with a line per output under
// the wall. It runs on a thread of its own, reading the feed like an output,
// so that browsers never hold up the OPC side or the outputs.
#pragma once

#include "bridge_feed.h"
#include "bridge_output.h"
#include "tool_address.h"

#include <string>
#include <vector>

struct bridge_view_s;
using bridge_view_t = bridge_view_s *;

// Serves at `address`; null, with a message on stderr, when it cannot (or
// this build has no browser view); `names` are further host names it may be
// reached by (http_view.h). `listen` is what the first line says the
// bridge listens on. The feed and the outputs must outlive the view.
bridge_view_t bridge_view_init(const tool_address &address, const std::vector<std::string> &names,
                               const std::string &listen, bridge_feed_t feed,
                               const std::vector<bridge_output_t> &outputs, const pixel_levels &levels);

// Waits for the thread (the feed must be stopped first) and stops serving. Accepts null.
void bridge_view_done(bridge_view_t view);

// The status under the wall: a line for the bridge, then one per output.
std::string bridge_view_status(const std::string &listen, bool connected, long frames,
                               const std::vector<bridge_output_status> &outputs);
