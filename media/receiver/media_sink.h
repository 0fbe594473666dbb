// What the media receiver needs of the device client it works for.
#pragma once

#include <cstdint>
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
