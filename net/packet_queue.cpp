#include <chrono>

#include "net/net_manager.h"

bool NetManager::PacketQueue::push(std::unique_ptr<NetPacket> packet) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        // Nobody reads a closed queue again; keeping packets there would only pile them up.
        if (!open_) {
            return false;
        }
        packets_.push_back(std::move(packet));
    }
    changed_.notify_one();
    return true;
}

bool NetManager::PacketQueue::pop(std::unique_ptr<NetPacket>& packet, int timeoutMs) {
    std::unique_lock<std::mutex> guard(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (packets_.empty()) {
        if (!open_ || timeoutMs < 0) {
            return false;
        }
        ++waiting_;
        const bool timedOut = timeoutMs != 0 &&
                              changed_.wait_until(guard, deadline) == std::cv_status::timeout;
        if (timeoutMs == 0) {
            changed_.wait(guard);
        }
        --waiting_;
        if (timedOut && packets_.empty()) {
            return false;
        }
    }
    if (!open_) {
        return false;
    }
    packet = std::move(packets_.front());
    packets_.pop_front();
    return true;
}

size_t NetManager::PacketQueue::waitingReaders() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waiting_;
}

void NetManager::PacketQueue::close() {
    std::deque<std::unique_ptr<NetPacket>> dropped;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        dropped.swap(packets_);
        open_ = false;
    }
    // Every waiter must see the close, not just one of them.
    changed_.notify_all();
}
