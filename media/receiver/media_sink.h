// What the media receiver needs of the device client it works for.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "media/h264/slice_trailer.h"

class MediaSink {
public:
    // One access unit for the listener, on the receiver's thread.
    virtual void deliverFrame(int32_t frameNumber, int64_t timestamp,
                              const std::vector<uint8_t>& accessUnit) = 0;
    // A frame was given up: ask the car for a key frame. The Sonix client queues the request
    // without waiting (it runs on the poll thread, which alone delivers the answer); the Zoderiv
    // client waits until its command has run.
    virtual void requestKeyFrame() = 0;
    // Sonix: the trailer of a slice that is about to be delivered, valid or not.
    virtual void onSliceTrailer(SliceTrailerBytes trailer) = 0;

protected:
    ~MediaSink() = default;
};

// A sink made of three functions, for a client that hands each call on to its own operations.
class CallbackSink final : public MediaSink {
public:
    using Deliver = std::function<void(int32_t, int64_t, const std::vector<uint8_t>&)>;

    CallbackSink(Deliver deliver, std::function<void()> keyFrame,
                 std::function<void(SliceTrailerBytes)> trailer = {})
        : deliver(std::move(deliver)), keyFrame(std::move(keyFrame)),
          trailer(std::move(trailer)) {}

    void deliverFrame(int32_t frameNumber, int64_t timestamp,
                      const std::vector<uint8_t>& accessUnit) override {
        deliver(frameNumber, timestamp, accessUnit);
    }
    void requestKeyFrame() override { keyFrame(); }
    void onSliceTrailer(SliceTrailerBytes bytes) override {
        if (trailer) {
            trailer(bytes);
        }
    }

private:
    const Deliver deliver;
    const std::function<void()> keyFrame;
    const std::function<void(SliceTrailerBytes)> trailer;
};
