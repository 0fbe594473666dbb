#include "net/broadcast_addresses.h"

#include <cstdint>

namespace {

// `address` in host order.
bool isPrivate(uint32_t address) {
    const uint32_t first = address >> 24;
    const uint32_t second = (address >> 16) & 0xFF;
    return first == 10 || (first == 192 && second == 168) ||
           (first == 172 && second >= 16 && second <= 31);
}

sockaddr_storage ipv4Address(uint32_t networkOrder) {
    sockaddr_storage storage{};
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = kFamilyIPv4;
    address.sin_addr.s_addr = networkOrder;
    return storage;
}

} // namespace

std::vector<sockaddr_storage> listBroadcastAddresses() {
    std::vector<sockaddr_storage> result;
    for (const AdapterAddress& adapter : listAdapterAddresses()) {
        // An adapter without an address (0.0.0.0/0.0.0.0 on Windows) gives 255.255.255.255 here,
        // which the private check drops.
        const uint32_t broadcast = adapter.address | ~adapter.mask;
        if (isPrivate(ntohl(broadcast))) {
            result.push_back(ipv4Address(broadcast));
        }
    }
    return result;
}
