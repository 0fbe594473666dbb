#include "net/socket_address.h"

#include <cstring>

int resolveAddress(const std::string& host, sockaddr_storage& address) {
    std::memset(&address, 0, sizeof(address));
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // The numeric service needs no services database, which minimal systems lack.
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* results = nullptr;
    if (::getaddrinfo(host.c_str(), "80", &hints, &results) != 0 || results == nullptr) {
        return -1;
    }
    size_t length = results->ai_addrlen;
    if (length > sizeof(address)) {
        length = sizeof(address);
    }
    std::memcpy(&address, results->ai_addr, length);
    ::freeaddrinfo(results);
    return 0;
}

void setAddressPort(sockaddr_storage& address, uint16_t port) {
    if (address.ss_family == kFamilyIPv4) {
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
    } else if (address.ss_family == kFamilyIPv6) {
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    }
}

int addressLength(const sockaddr_storage& address) {
    if (address.ss_family == kFamilyIPv4) {
        return 16;
    }
    if (address.ss_family == kFamilyIPv6) {
        return 28;
    }
    return 0;
}
