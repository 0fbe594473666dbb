#include <chrono>

#include "client/stream_stats_collector.h"
#include "net/net_manager.h"

void NetManager::pollLoop() noexcept {
    pollingManager_ = this;
    nameCurrentThread("drivon-poll");
    // Best effort: without the privilege the thread reads at normal priority.
    (void)raiseThreadPriority();
    while (running_) {
        try {
            pollPass();
        } catch (...) {
            // Out of memory in a pass: its packets are lost; wait before the next one.
            idleWait();
        }
    }
}

void NetManager::pollPass() {
    PollSlot slots[kMaxSockets];
    uint64_t registrations[kMaxSockets];
    size_t count = 0;
    {
        std::lock_guard<SpinLock> guard(lock_);
        for (const auto& [socket, entry] : sockets_) {
            if (count == kMaxSockets) {
                break;
            }
            slots[count] = PollSlot{socket, kPollReadable, 0};
            registrations[count] = entry.registration;
            ++count;
        }
    }
    if (count == 0) {
        idleWait();
        return;
    }
    const int result = pollSockets(slots, count, kPollTimeoutMs);
    if (result == 0) {
        return;
    }
    if (result < 0) {
        reportError(slots[0].socket, kNetPollFailed);
        // A poll that fails at once would otherwise fail again at once, pass after pass.
        idleWait();
        return;
    }
    const int64_t timestamp = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();

    size_t ready[kMaxSockets];
    size_t readyCount = 0;
    for (size_t i = 0; i < count; ++i) {
        const short events = slots[i].revents;
        if ((events & kPollInvalid) != 0) {
            // Closed behind the manager's back: nothing to close, but never poll it again.
            if (dropSocket(slots[i].socket, registrations[i], false)) {
                reportError(slots[i].socket, kNetHangUp);
            }
        } else if ((events & kPollHangUp) != 0) {
            // Left registered, a hung-up socket would end every poll at once.
            if (dropSocket(slots[i].socket, registrations[i], true)) {
                reportError(slots[i].socket, kNetHangUp);
            }
        } else if ((events & (kPollReadable | kPollError)) != 0) {
            // An error is read too: the receive reports it and clears it.
            ready[readyCount++] = i;
        }
    }
    if (!running_) {
        return;
    }
    for (size_t r = 0; r < readyCount; ++r) {
        readSocket(slots[ready[r]].socket, registrations[ready[r]], timestamp);
    }
}

void NetManager::readSocket(int socket, uint64_t registration, int64_t timestamp) {
    uint8_t buffer[kReadBufferSize];
    long received = 0;
    int failure = 0;
    std::shared_ptr<NetConnection> owner;
    SocketEntry dropped; // destroyed after the lock is released
    {
        // The read itself happens under the lock too (it never blocks): a client thread
        // closing the socket meanwhile could otherwise hand its number to another socket or
        // file, and this read would take that one's data.
        std::lock_guard<SpinLock> guard(lock_);
        const auto entry = sockets_.find(socket);
        if (entry == sockets_.end() || entry->second.registration != registration) {
            return;
        }
        const bool stream = entry->second.kind == kSocketTcp;
        received = stream ? receiveStream(socket, buffer, sizeof(buffer))
                          : receiveDatagram(socket, buffer, sizeof(buffer));
        if (received < 0 && isWouldBlock(lastSocketError())) {
            return;
        }
        if (received <= 0 && stream) {
            // Closed here, not just dropped: one handle per device-side close would leak.
            closeSocket(socket);
            dropped = std::move(entry->second);
            sockets_.erase(entry);
            failure = kNetRecvFailed;
        } else if (received < 0) {
            failure = kNetRecvfromFailed;
        } else if (received == 0) {
            // An empty datagram is valid and carries nothing. Reporting it would let anyone on
            // the car's network end a session that treats every error as a lost connection.
            return;
        } else {
            owner = entry->second.owner;
        }
    }
    if (failure != 0) {
        reportError(socket, failure);
        return;
    }
    stream_stats::addReceivedBytes(static_cast<uint32_t>(received));
    auto packet = std::make_unique<NetPacket>();
    packet->data.assign(buffer, buffer + received);
    packet->socket = socket;
    packet->timestamp = timestamp;
    owner->deliver(std::move(packet));
}

bool NetManager::dropSocket(int socket, uint64_t registration, bool closeIt) {
    SocketEntry dropped; // destroyed after the lock is released
    std::lock_guard<SpinLock> guard(lock_);
    const auto entry = sockets_.find(socket);
    if (entry == sockets_.end() || entry->second.registration != registration) {
        return false;
    }
    if (closeIt) {
        closeSocket(socket);
    }
    dropped = std::move(entry->second);
    sockets_.erase(entry);
    return true;
}

void NetManager::idleWait() {
    std::unique_lock<std::mutex> guard(idleMutex_);
    idleWake_.wait_for(guard, std::chrono::milliseconds(kPollTimeoutMs),
                       [this] { return !running_; });
}
