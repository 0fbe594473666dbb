// Decoded pictures waiting for the host's render call. Filled on the client's frame thread,
// drained on the host's graphics thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class PictureQueue {
public:
    // A renderer that falls this far behind has its backlog dropped at once instead of
    // drained, which bounds memory at about 30 x 3.7 MB per instance.
    static constexpr size_t kMaxQueuedFrames = 30;

    enum class PushResult { Queued, Cleared, Unwanted };

    // Buffers kept for the decoder to convert into: pictures the renderer has uploaded, or
    // that were discarded. With them no picture costs an allocation once the stream runs.
    static constexpr size_t kMaxSpares = 3;

    // Moves the picture in if `wanted` still holds under the queue's lock; otherwise it stays
    // with the caller (Unwanted). Past the limit the whole queue, the new picture included, is
    // discarded. A change that makes `wanted` false and then clears the queue therefore leaves
    // it empty: no picture decoded before the change can land after it. The timestamp of the
    // picture's access unit travels with it, for measurements.
    PushResult push(std::vector<uint8_t>& picture, const std::function<bool()>& wanted,
                    int64_t timestamp = 0);
    // Takes the oldest picture out, if any, and the timestamp it was queued with.
    std::optional<std::vector<uint8_t>> takeFront(int64_t* timestamp = nullptr);
    // A picture the renderer is done with: kept as a spare while there is room.
    void recycle(std::vector<uint8_t>&& picture);
    // A spare buffer for the next picture; empty when there is none.
    std::vector<uint8_t> takeSpare();
    void clear();
    size_t size() const;

private:
    struct Queued {
        std::vector<uint8_t> pixels;
        int64_t timestamp = 0;
    };

    // Keeps what fits of `discarded` as spares; the rest is freed after the lock is released.
    void keepSpares(std::deque<Queued>& discarded);

    mutable std::mutex queueMutex;
    std::deque<Queued> frameQueue;            // guarded by queueMutex
    std::vector<std::vector<uint8_t>> spares; // guarded by queueMutex
};
