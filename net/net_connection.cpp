#include "net/net_manager.h"

NetManager::NetConnection::NetConnection(NetManager* manager, int id)
    : manager_(manager), id_(id) {}

NetManager::NetConnection::~NetConnection() {
    queue_.close();
}

int NetManager::NetConnection::open(int kind, uint16_t port, int& socket) {
    NetManager* manager = manager_.load();
    if (manager == nullptr) {
        return kNetNoResource;
    }
    return manager->openSocket(*this, kind, port, socket);
}

bool NetManager::NetConnection::send(std::unique_ptr<NetPacket> packet) {
    NetManager* manager = manager_.load();
    if (manager == nullptr) {
        return false;
    }
    return manager->sendPacket(*this, std::move(packet));
}

bool NetManager::NetConnection::receive(std::unique_ptr<NetPacket>& packet, int timeoutMs) {
    return queue_.pop(packet, timeoutMs);
}

void NetManager::NetConnection::setPacketHandler(PacketHandler handler) {
    auto shared = std::make_shared<const PacketHandler>(std::move(handler));
    std::lock_guard<std::mutex> guard(handlerMutex_);
    handler_ = std::move(shared);
}

uint16_t NetManager::NetConnection::localPort(int socket) {
    NetManager* manager = manager_.load();
    if (manager == nullptr) {
        return kUnknownPort;
    }
    return manager->localPortOf(socket);
}

void NetManager::NetConnection::close() {
    queue_.close();
    NetManager* manager = manager_.load();
    if (manager != nullptr) {
        manager->closeSockets(*this);
    }
}

void NetManager::NetConnection::deliver(std::unique_ptr<NetPacket> packet) noexcept {
    try {
        std::shared_ptr<const PacketHandler> handler;
        {
            // Held while queueing too, so no packet reaches the queue once a handler is set.
            std::lock_guard<std::mutex> guard(handlerMutex_);
            if (handler_ == nullptr || !*handler_) {
                queue_.push(std::move(packet));
                return;
            }
            handler = handler_;
        }
        (*handler)(std::move(packet));
    } catch (...) {
        // A failing handler loses its packet; the poll thread reads on.
    }
}
