#include "carsim/media/media_sender.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include "carsim/media/media_stream.h"

namespace carsim {

MediaSender::MediaSender(MediaOptions options)
    : options_(std::move(options)), stream_(std::make_unique<MediaStream>(options_)) {}

MediaSender::~MediaSender() {
    stop();
}

bool MediaSender::start(int socketFd, const sockaddr_storage& dest) {
    if (thread_.joinable()) {
        return false;
    }
    if (!stream_->open()) {
        std::lock_guard lock(mutex_);
        error_ = stream_->error();
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = false;
    }
    running_ = true;
    try {
        thread_ = std::thread(&MediaSender::run, this, socketFd, dest);
    } catch (const std::exception& e) {
        running_ = false;
        std::lock_guard lock(mutex_);
        error_ = std::string("cannot start the media thread: ") + e.what();
        return false;
    }
    return true;
}

void MediaSender::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void MediaSender::requestKeyFrame() {
    stream_->requestKeyFrame();
}

void MediaSender::setDeviceFlags(uint8_t flags) {
    stream_->setDeviceFlags(flags);
}

bool MediaSender::running() const {
    return running_;
}

uint64_t MediaSender::framesSent() const {
    return framesSent_;
}

uint64_t MediaSender::datagramsSent() const {
    return datagramsSent_;
}

std::string MediaSender::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool MediaSender::stopRequested() const {
    std::lock_guard lock(mutex_);
    return stopRequested_;
}

void MediaSender::sendTick(int socketFd, const sockaddr_storage& dest) {
    const socklen_t length =
        dest.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    MediaTick tick = stream_->next();
    for (const Bytes& datagram : tick.datagrams) {
        // A full socket buffer or an unreachable peer loses the datagram, as the air would.
        if (sendto(socketFd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&dest), length) >= 0) {
            ++datagramsSent_;
        }
    }
    if (tick.sent) {
        ++framesSent_;
    }
}

void MediaSender::run(int socketFd, sockaddr_storage dest) noexcept {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(options_.fps, 1)));
    pthread_setname_np(pthread_self(), "carsim-media");
    try {
        auto deadline = Clock::now();
        while (!stopRequested()) {
            sendTick(socketFd, dest);
            deadline += period;
            // A sender that fell more than a frame behind (a slow encode) starts a fresh
            // schedule instead of sending a burst of frames to catch up.
            if (Clock::now() > deadline + period) {
                deadline = Clock::now();
            }
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, deadline, [this] { return stopRequested_; });
        }
    } catch (const std::exception& e) {
        std::lock_guard lock(mutex_);
        error_ = std::string("media thread stopped: ") + e.what();
    } catch (...) {
        std::lock_guard lock(mutex_);
        error_ = "media thread stopped";
    }
    running_ = false;
}

} // namespace carsim
