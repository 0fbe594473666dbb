#include "net/net_manager.h"

#include <chrono>
#include <cstring>

thread_local const NetManager* NetManager::pollingManager_ = nullptr;

namespace {
bool isIpFamily(const sockaddr_storage& address) {
    return address.ss_family == kFamilyIPv4 || address.ss_family == kFamilyIPv6;
}

uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == kFamilyIPv4) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}
} // namespace

NetManager::NetManager(const sockaddr_storage& local, const sockaddr_storage& remote,
                       ErrorCallback onError)
    : onError_(std::move(onError)) {
    std::memcpy(&remote_, &remote, sizeof(remote_));
    std::memcpy(&local_, &local, sizeof(local_));
    setAddressPort(local_, 0);
}

NetManager::~NetManager() {
    shutdown();
}

std::shared_ptr<NetManager::NetConnection> NetManager::createConnection() {
    try {
        std::lock_guard<SpinLock> guard(lock_);
        std::shared_ptr<NetConnection> connection(new NetConnection(this, nextConnectionId_));
        connections_[nextConnectionId_] = connection;
        ++nextConnectionId_;
        return connection;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<NetManager::NetPacket> NetManager::makePacket(int socket,
                                                              std::vector<uint8_t> data) {
    auto packet = std::make_unique<NetPacket>();
    packet->data = std::move(data);
    packet->socket = socket;
    return packet;
}

bool NetManager::shutdown() noexcept {
    if (pollingManager_ == this) {
        return false;
    }
    // Released only after the lock is dropped: their destructors run client code (handlers).
    std::map<int, SocketEntry> closed;
    std::map<int, std::shared_ptr<NetConnection>> released;
    {
        std::lock_guard<SpinLock> guard(lock_);
        running_ = false;
        closed.swap(sockets_);
        for (const auto& [socket, entry] : closed) {
            closeSocket(socket);
        }
        released.swap(connections_);
        for (const auto& [id, connection] : released) {
            connection->queue_.close();
            connection->manager_ = nullptr;
        }
    }
    { std::lock_guard<std::mutex> guard(idleMutex_); }
    idleWake_.notify_all();
    closed.clear();
    released.clear();

    // The poll thread sees running_ false within one poll time-out.
    std::lock_guard<std::mutex> guard(threadMutex_);
    if (pollThread_.joinable()) {
        pollThread_.join();
    }
    return true;
}

int NetManager::openSocket(NetConnection& connection, int kind, uint16_t port, int& socket) {
    // Held through the whole call, the connect wait included.
    std::lock_guard<SpinLock> guard(lock_);
    const auto owner = connections_.find(connection.id_);
    if (sockets_.size() >= kMaxSockets || owner == connections_.end()) {
        return kNetNoResource;
    }
    if (kind != kSocketTcp && kind != kSocketUdp) {
        return kNetNoResource;
    }
    SocketEntry entry;
    entry.kind = kind;
    entry.port = port;
    std::memcpy(&entry.peer, &remote_, sizeof(entry.peer));
    setAddressPort(entry.peer, port);
    entry.owner = owner->second;

    const int result = kind == kSocketUdp ? openUdp(entry) : openTcp(entry);
    if (result != 0) {
        return result;
    }
    if (!setNonBlocking(entry.socket)) {
        closeSocket(entry.socket);
        return kNetSocketFailed;
    }
    // A socket is either registered or closed: every failure below unregisters and closes.
    const int handle = entry.socket;
    entry.registration = ++nextRegistration_;
    bool registered = false;
    bool listed = false;
    try {
        sockets_[handle] = entry;
        registered = true;
        connection.sockets_.push_back(handle);
        listed = true;
        if (running_ || startPollThread()) {
            socket = handle;
            return 0;
        }
    } catch (...) {
        // Falls through to the clean-up below.
    }
    if (listed) {
        connection.sockets_.pop_back();
    }
    if (registered) {
        sockets_.erase(handle);
    }
    closeSocket(handle);
    return kNetNoResource;
}

int NetManager::openUdp(SocketEntry& entry) {
    entry.socket = createSocket(local_.ss_family, SOCK_DGRAM, 0);
    if (entry.socket == kInvalidSocket) {
        return kNetSocketFailed;
    }
    if (!bindSocket(entry.socket, local_, addressLength(local_))) {
        closeSocket(entry.socket);
        return kNetBindFailed;
    }
    requestReceiveBuffer(entry.socket, kDatagramReceiveBuffer);
    sockaddr_storage bound;
    std::memcpy(&bound, &local_, sizeof(bound));
    entry.localPort =
        localAddress(entry.socket, bound) && isIpFamily(bound) ? portOf(bound) : kUnknownPort;
    return 0;
}

int NetManager::openTcp(SocketEntry& entry) {
    entry.socket = createSocket(entry.peer.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (entry.socket == kInvalidSocket) {
        return kNetSocketFailed;
    }
    if (!setNonBlocking(entry.socket)) {
        closeSocket(entry.socket);
        return kNetSocketFailed;
    }
    const ConnectStart start = startConnect(entry.socket, entry.peer, addressLength(entry.peer));
    if (start == ConnectStart::Failed) {
        closeSocket(entry.socket);
        return kNetConnectFailed;
    }
    if (start == ConnectStart::InProgress && waitWritable(entry.socket, kConnectTimeoutMs) != 1) {
        closeSocket(entry.socket);
        return kNetConnectTimeout;
    }
    if (pendingSocketError(entry.socket) != 0) {
        closeSocket(entry.socket);
        return kNetConnectFailed;
    }
    return 0;
}

bool NetManager::startPollThread() {
    // A shutdown that is still joining the previous thread holds threadMutex_; waiting for it
    // here, with lock_ held, could deadlock against that thread's last pass.
    std::unique_lock<std::mutex> threadGuard(threadMutex_, std::try_to_lock);
    if (!threadGuard.owns_lock() || pollThread_.joinable()) {
        return false;
    }
    running_ = true;
    try {
        pollThread_ = std::thread([this] { pollLoop(); });
    } catch (...) {
        running_ = false;
        return false;
    }
    return true;
}

bool NetManager::sendPacket(NetConnection& connection, std::unique_ptr<NetPacket> packet) {
    if (packet == nullptr) {
        return false;
    }
    const int socket = packet->socket;
    int failure = 0;
    {
        // Held through the whole send, would-block waits included.
        std::lock_guard<SpinLock> guard(lock_);
        const auto entry = sockets_.find(socket);
        if (connections_.count(connection.id_) == 0 || entry == sockets_.end()) {
            return false;
        }
        const std::vector<uint8_t>& data = packet->data;
        if (data.empty()) {
            return true;
        }
        if (entry->second.kind == kSocketTcp) {
            failure = sendAll(socket, data);
        } else {
            const long sent = sendDatagram(socket, data.data(), data.size(), entry->second.peer,
                                           addressLength(entry->second.peer));
            if (sent < 0 || static_cast<size_t>(sent) != data.size()) {
                failure = kNetSendtoShort;
            }
        }
    }
    packet.reset();
    // Reported after the lock is released, so the callback may use the manager.
    if (failure != 0) {
        reportError(socket, failure);
        return false;
    }
    return true;
}

int NetManager::sendAll(int socket, const std::vector<uint8_t>& data) {
    using Clock = std::chrono::steady_clock;
    size_t position = 0;
    auto lastProgress = Clock::now();
    while (position < data.size()) {
        const long sent = sendStream(socket, data.data() + position, data.size() - position);
        if (sent > 0) {
            position += static_cast<size_t>(sent);
            lastProgress = Clock::now();
            continue;
        }
        if (sent < 0 && !isWouldBlock(lastSocketError())) {
            return kNetSendFailed;
        }
        // A peer that stops reading must not keep the lock, and this caller, for ever.
        if (Clock::now() - lastProgress >= std::chrono::milliseconds(kSendStallMs)) {
            return kNetSendFailed;
        }
        waitWritable(socket, kSendRetryMs);
    }
    return 0;
}

uint16_t NetManager::localPortOf(int socket) {
    std::lock_guard<SpinLock> guard(lock_);
    const auto entry = sockets_.find(socket);
    return entry == sockets_.end() ? kUnknownPort : entry->second.localPort;
}

void NetManager::closeSockets(NetConnection& connection) {
    std::list<SocketEntry> closed;
    std::lock_guard<SpinLock> guard(lock_);
    for (const int socket : connection.sockets_) {
        const auto entry = sockets_.find(socket);
        // The handle number may have been given to another connection's socket since this
        // one was dropped after a hang-up or peer close.
        if (entry == sockets_.end() || entry->second.owner.get() != &connection) {
            continue;
        }
        closeSocket(socket);
        closed.push_back(std::move(entry->second));
        sockets_.erase(entry);
    }
}

void NetManager::reportError(int socket, int code) noexcept {
    try {
        if (onError_) {
            onError_(socket, static_cast<unsigned>(code));
        }
    } catch (...) {
        // The error has been reported as far as it can be.
    }
}
