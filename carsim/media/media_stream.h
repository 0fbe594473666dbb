#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "carsim/media/fault_injector.h"
#include "carsim/media/frame_packetizer.h"
#include "carsim/media/frame_source.h"
#include "carsim/media/garbage_generator.h"
#include "carsim/media/media_options.h"

namespace carsim {

// What one frame interval puts on the wire.
struct MediaTick {
    int64_t frameIndex = 0;       // count of frames taken from the source
    uint16_t frameNumber = 0;     // FEC frame number of the good frame
    Bytes frame;                  // the good frame as packetised (Sonix: with slice trailers)
    bool sent = false;            // false if the frame was too large to packetise
    std::vector<Bytes> datagrams; // in sending order, after faults and garbage
    std::vector<GarbageKind> garbageKinds; // garbage among them
};

// The car's media pipeline without a socket: source, slice trailers, FEC framing, faults and
// garbage. Not thread-safe except requestKeyFrame and setDeviceFlags.
class MediaStream {
public:
    explicit MediaStream(MediaOptions options);
    ~MediaStream();

    // Opens the encoder or the replay file; false with the reason in error().
    bool open();
    const std::string& error() const { return error_; }

    MediaTick next();

    void requestKeyFrame() { keyFrameRequested_ = true; }
    void setDeviceFlags(uint8_t flags) { deviceFlags_ = flags; }
    const MediaOptions& options() const { return options_; }
    const FaultInjector& faults() const { return faults_; }

private:
    uint16_t takeFrameNumber();
    void addGarbage(MediaTick& tick);

    MediaOptions options_;
    std::unique_ptr<FrameSource> source_;
    FramePacketizer packetizer_;
    FaultInjector faults_;
    GarbageGenerator garbage_;
    std::atomic<bool> keyFrameRequested_{false};
    std::atomic<uint8_t> deviceFlags_;
    int64_t frameIndex_ = 0;
    uint16_t nextFrameNumber_;
    std::string error_;
};

} // namespace carsim
