// Watches the pictures of one source instance on their way to the screen, each known by the
// timestamp of the access unit it was decoded from (steady-clock nanoseconds of the poll pass
// that read the datagram completing its frame). Latency measurements set one; the product never
// does, and then each step costs one atomic load.
#pragma once

#include <cstdint>
#include <vector>

class PictureObserver {
public:
    // Frame thread, before decoding: every access unit, whether or not it yields a picture.
    virtual void onFrameArrived(int64_t timestamp,
                                const std::vector<uint8_t>& accessUnit) noexcept = 0;
    // Frame thread, just after the picture went into the queue (not for one the overflow
    // discarded at once).
    virtual void onPictureQueued(int64_t timestamp) noexcept = 0;
    // Graphics thread, just after the picture was uploaded into the frame texture. It may come
    // before onPictureQueued of the same picture when the renderer takes it in between.
    virtual void onPictureUploaded(int64_t timestamp) noexcept = 0;

protected:
    ~PictureObserver() = default;
};
