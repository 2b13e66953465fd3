// The E1.31 source's CID: one per installation, kept across restarts, so that
// receivers see one source whether the bridge runs for a minute or a year.
//
// It is kept as a UUID in text in `$STATE_DIRECTORY/cid` (systemd's state
// folder for the service) or else `${XDG_STATE_HOME:-$HOME/.local/state}/
// ledwall-bridge/cid`, made (random, version 4) the first time.
#pragma once

#include "led_packets.h"

#include <string>

// The kept CID, or a new one kept from now on. Where it cannot be kept, a new
// one for this run, with the reason in *warning (else it is left empty).
e131_cid bridge_cid_load(std::string *warning);

// The path it is kept at ("" when there is nowhere to keep it).
std::string bridge_cid_path();

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" and back; false when `text` is no UUID.
std::string bridge_cid_text(const e131_cid &cid);
bool bridge_cid_parse(const std::string &text, e131_cid *cid);
