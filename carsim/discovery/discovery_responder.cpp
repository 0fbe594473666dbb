#include "carsim/discovery/discovery_responder.h"

#include "carsim/endpoint/socket_util.h"

namespace carsim {

DiscoveryResponder::DiscoveryResponder(const DiscoveryIdentity& identity, bool sendMalformed,
                                       WireLog& log)
    : answer(buildAnswer(identity)), malformed(sendMalformed ? buildMalformedAnswers(identity)
                                                             : std::vector<std::vector<uint8_t>>{}),
      endpoint(kPort, log,
               [this](int fd, const uint8_t* data, size_t size, const sockaddr_storage& peer) {
                   onDatagram(fd, data, size, peer);
               }) {}

void DiscoveryResponder::onDatagram(int fd, const uint8_t* data, size_t size,
                                    const sockaddr_storage& peer) {
    if (!isProbe(data, size)) {
        return;
    }
    auto send = [&](const std::vector<uint8_t>& datagram) {
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&peer),
                 addressLength(peer));
    };
    // The malformed ones first, so a client that stops at the first acceptable answer still
    // has to get past them.
    for (const auto& bad : malformed) {
        send(bad);
    }
    send(answer);
}

} // namespace carsim
