#pragma once

#include <memory>
#include <mutex>
#include <sys/socket.h>

#include "carsim/media/media_sender.h"

namespace carsim {

// The car's one video stream: at most one sender at a time, started and stopped by whichever
// endpoint the family uses (RTSP PLAY/TEARDOWN, the Zoderiv streaming switch, the end of a
// control connection).
class VideoStream {
public:
    explicit VideoStream(MediaOptions base);
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // Replaces a running stream. `socketFd` must stay open until stop.
    bool start(int socketFd, const sockaddr_storage& destination, int bitrateKbps);
    void stop();
    void requestKeyFrame();
    bool running() const;

private:
    const MediaOptions base;
    mutable std::mutex mutex;
    std::unique_ptr<MediaSender> sender; // guarded by mutex
};

} // namespace carsim
