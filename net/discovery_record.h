// What discovery learns about one camera car, and the short form the device scan keeps of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/platform/socket_platform.h"

// One distinct device, from the first valid answer it sent.
struct DiscoveryRecord {
    // 0 Sonix board, 1 Zoderiv; any other value is kept, and no client is built for it.
    uint32_t kind = 0;
    std::string text48;
    std::string name;
    std::vector<uint8_t> bytes64; // 16 bytes; with the name it tells one device from another
    uint32_t word10 = 0;
    std::string text16;
    // The answer's source as the receive reported it, zero beyond what the system wrote, so
    // that two records of one device compare equal byte for byte.
    sockaddr_storage address{};
};

struct DeviceEntry {
    std::string name;
    sockaddr_storage address{};
};
