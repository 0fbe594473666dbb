#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>

#include "carsim/media/media_options.h"

namespace carsim {

class MediaStream;

// Streams the car's video datagrams from a socket the caller owns, on a thread of its own,
// one frame every 1/fps seconds.
class MediaSender {
public:
    explicit MediaSender(MediaOptions options);
    ~MediaSender(); // stops
    MediaSender(const MediaSender&) = delete;
    MediaSender& operator=(const MediaSender&) = delete;

    // Streams from the given bound UDP socket to dest, on its own thread, paced at fps; false if
    // the encoder could not be opened (reason in error()) or the thread not started.
    bool start(int socketFd, const sockaddr_storage& dest);
    void stop();                        // joins; idempotent
    void requestKeyFrame();             // thread-safe; the next frame is an IDR
    void setDeviceFlags(uint8_t flags); // thread-safe; Sonix trailer byte 26 from now on
    bool running() const;
    uint64_t framesSent() const;
    uint64_t datagramsSent() const;
    std::string error() const;

private:
    void run(int socketFd, sockaddr_storage dest) noexcept;
    void sendTick(int socketFd, const sockaddr_storage& dest);
    bool stopRequested() const;

    MediaOptions options_;
    std::unique_ptr<MediaStream> stream_;
    std::thread thread_;
    mutable std::mutex mutex_; // guards stopRequested_ and error_
    std::condition_variable wake_;
    bool stopRequested_ = false;
    std::string error_;
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> framesSent_{0};
    std::atomic<uint64_t> datagramsSent_{0};
};

} // namespace carsim
