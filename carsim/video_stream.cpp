#include "carsim/video_stream.h"

#include <cstdio>

#include "carsim/endpoint/socket_util.h"

namespace carsim {

VideoStream::VideoStream(MediaOptions base) : base(std::move(base)) {}

VideoStream::~VideoStream() {
    stop();
}

bool VideoStream::start(int socketFd, const sockaddr_storage& destination, int bitrateKbps) {
    std::lock_guard lock(mutex);
    if (sender) {
        sender->stop();
        sender.reset();
    }
    MediaOptions options = base;
    options.bitrateKbps = bitrateKbps;
    auto next = std::make_unique<MediaSender>(options);
    if (!next->start(socketFd, destination)) {
        std::fprintf(stderr, "carsim: video to %s did not start: %s\n",
                     formatAddress(destination).c_str(), next->error().c_str());
        return false;
    }
    std::fprintf(stderr, "carsim: video to %s\n", formatAddress(destination).c_str());
    sender = std::move(next);
    return true;
}

void VideoStream::stop() {
    std::lock_guard lock(mutex);
    if (sender) {
        sender->stop();
        std::fprintf(stderr, "carsim: video stopped after %llu frames\n",
                     static_cast<unsigned long long>(sender->framesSent()));
        sender.reset();
    }
}

void VideoStream::requestKeyFrame() {
    std::lock_guard lock(mutex);
    if (sender) {
        sender->requestKeyFrame();
    }
}

bool VideoStream::running() const {
    std::lock_guard lock(mutex);
    return sender && sender->running();
}

} // namespace carsim
