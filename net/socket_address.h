// Helpers on socket addresses, which travel as 128-byte sockaddr_storage values and are compared
// byte for byte: every byte of one must be defined.
#pragma once

#include <cstdint>
#include <string>

#include "net/platform/socket_platform.h"

// Host name or dotted address to the first address found, its port that of the numeric service
// 80 (callers overwrite it). 0 on success, -1 when the look-up fails (the address is then zeroed).
int resolveAddress(const std::string& host, sockaddr_storage& address);

// Stores the port in network order for IPv4 and IPv6; other families are left alone.
void setAddressPort(sockaddr_storage& address, uint16_t port);

// 16 for IPv4, 28 for IPv6, 0 for any other family.
int addressLength(const sockaddr_storage& address);
