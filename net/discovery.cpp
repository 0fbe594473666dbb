#include "net/discovery.h"

#include <chrono>
#include <utility>

#include "net/broadcast_addresses.h"
#include "net/discovery_answer.h"
#include "net/socket_address.h"

namespace {

using Clock = std::chrono::steady_clock;

// A probe pass ends after this long without a datagram.
constexpr int kReceiveTimeoutMs = 250;
constexpr size_t kReceiveBufferSize = 2048;

// Closes the socket on every way out of discovery.
class OwnedSocket {
public:
    explicit OwnedSocket(SocketHandle socket) : socket_(socket) {}
    ~OwnedSocket() {
        if (socket_ != kInvalidSocket) {
            closeSocket(socket_);
        }
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    SocketHandle get() const { return socket_; }
    SocketHandle release() { return std::exchange(socket_, kInvalidSocket); }

private:
    SocketHandle socket_;
};

// The broadcast addresses (when asked for) and then the host, each on the discovery port.
// False when the host does not resolve.
bool collectTargets(const std::string& host, bool broadcast,
                    std::vector<sockaddr_storage>& targets) {
    if (broadcast) {
        targets = listBroadcastAddresses();
    }
    if (!host.empty()) {
        sockaddr_storage address;
        if (resolveAddress(host, address) != 0) {
            return false;
        }
        targets.push_back(address);
    }
    for (sockaddr_storage& target : targets) {
        setAddressPort(target, kDiscoveryPort);
    }
    return true;
}

// A bound datagram socket that may broadcast and whose receives give up after a silent
// kReceiveTimeoutMs; kInvalidSocket (and nothing left open) on failure.
SocketHandle openProbeSocket() {
    sockaddr_storage local;
    if (resolveAddress("0.0.0.0", local) != 0) {
        return kInvalidSocket;
    }
    setAddressPort(local, 0);
    OwnedSocket socket(createSocket(local.ss_family, SOCK_DGRAM, 0));
    if (socket.get() == kInvalidSocket || !bindSocket(socket.get(), local, addressLength(local)) ||
        !enableBroadcast(socket.get()) || !setReceiveTimeout(socket.get(), kReceiveTimeoutMs)) {
        return kInvalidSocket;
    }
    ignoreUnreachableReports(socket.get());
    return socket.release();
}

// How many targets took the whole probe.
int sendProbes(SocketHandle socket, const std::vector<sockaddr_storage>& targets) {
    int sent = 0;
    for (const sockaddr_storage& target : targets) {
        const long result = sendDatagram(socket, kDiscoveryProbe.data(), kDiscoveryProbe.size(),
                                         target, addressLength(target));
        if (result == static_cast<long>(kDiscoveryProbe.size())) {
            ++sent;
        }
    }
    return sent;
}

void keepIfNew(std::vector<DiscoveryRecord>& found, DiscoveryRecord&& record) {
    for (const DiscoveryRecord& known : found) {
        if (known.bytes64 == record.bytes64 && known.name == record.name) {
            return;
        }
    }
    found.push_back(std::move(record));
}

enum class PassEnd {
    Silence,   // the receive time-out passed without a datagram
    OutOfTime, // datagrams kept coming past the last moment discovery may take
    Failed,    // the receive failed for another reason
};

PassEnd receiveAnswers(SocketHandle socket, std::vector<DiscoveryRecord>& found,
                       Clock::time_point lastMoment) {
    uint8_t buffer[kReceiveBufferSize];
    for (;;) {
        sockaddr_storage source;
        const long received = receiveDatagramFrom(socket, buffer, sizeof(buffer), source);
        if (received < 0) {
            return isReceiveTimeout(lastSocketError()) ? PassEnd::Silence : PassEnd::Failed;
        }
        // An empty datagram is a malformed answer like any other: it does not end the pass,
        // which would send the next probes at once.
        if (auto record = parseDiscoveryAnswer(buffer, static_cast<size_t>(received), source)) {
            keepIfNew(found, std::move(*record));
        }
        if (Clock::now() >= lastMoment) {
            return PassEnd::OutOfTime;
        }
    }
}

} // namespace

bool discoverDevices(std::vector<DiscoveryRecord>& out, const std::string& host, bool broadcast,
                     int timeoutMs) {
    out.clear();
    std::vector<sockaddr_storage> targets;
    if (!collectTargets(host, broadcast, targets) || targets.empty()) {
        return false;
    }
    const OwnedSocket socket(openProbeSocket());
    if (socket.get() == kInvalidSocket) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A peer that never stops sending must not hold the caller beyond the deadline and one
    // receive time-out.
    const auto lastMoment = deadline + std::chrono::milliseconds(kReceiveTimeoutMs);
    for (;;) {
        // A pass where no probe left ends discovery with what earlier passes found.
        if (sendProbes(socket.get(), targets) == 0) {
            break;
        }
        if (receiveAnswers(socket.get(), out, lastMoment) != PassEnd::Silence ||
            Clock::now() >= deadline) {
            break;
        }
    }
    return !out.empty();
}
