// Finds the camera cars that answer on the local network: a UDP probe to port 19266 of every
// private IPv4 subnet the computer is on and of one named host, repeated until the time-out.
#pragma once

#include <string>
#include <vector>

#include "net/discovery_record.h"

// Clears `out`, then probes and collects one record per device (same 16 bytes64 and same name:
// the first answer received wins, with its source address). Blocks for about `timeoutMs` plus
// at most one 250 ms receive time-out, however many datagrams keep arriving. True when at least
// one device answered. An empty `host` probes only the broadcast addresses; with no broadcast
// address either it returns false at once.
bool discoverDevices(std::vector<DiscoveryRecord>& out, const std::string& host, bool broadcast,
                     int timeoutMs);
