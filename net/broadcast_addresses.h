// Where discovery broadcasts: the subnets of the local network adapters that a camera car's
// access point could have put the computer on.
#pragma once

#include <vector>

#include "net/platform/socket_platform.h"

// The broadcast address (port not set) of the first IPv4 subnet of each adapter, in adapter
// order, keeping only private subnets: 10/8, 172.16/12 and 192.168/16.
std::vector<sockaddr_storage> listBroadcastAddresses();
