#pragma once

#include <cstdint>
#include <vector>

#include "carsim/discovery/discovery_answer.h"
#include "carsim/endpoint/udp_endpoint.h"

namespace carsim {

// Answers discovery probes on UDP 19266 to their sender.
class DiscoveryResponder {
public:
    static constexpr uint16_t kPort = 19266;

    DiscoveryResponder(const DiscoveryIdentity& identity, bool sendMalformed, WireLog& log);
    bool start() { return endpoint.start(); }
    void stop() { endpoint.stop(); }

private:
    void onDatagram(int fd, const uint8_t* data, size_t size, const sockaddr_storage& peer);

    std::vector<uint8_t> answer;
    std::vector<std::vector<uint8_t>> malformed; // empty unless asked for
    UdpEndpoint endpoint;
};

} // namespace carsim
