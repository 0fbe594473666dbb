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

    // Appends a copy of picture if `wanted` still holds under the queue's lock (Unwanted
    // otherwise); past the limit the whole queue, the new picture included, is discarded. A
    // change that makes `wanted` false and then clears the queue therefore leaves it empty: no
    // picture decoded before the change can land after it.
    PushResult push(const std::vector<uint8_t>& picture, const std::function<bool()>& wanted);
    // Takes the oldest picture out, if any.
    std::optional<std::vector<uint8_t>> takeFront();
    void clear();
    size_t size() const;

private:
    mutable std::mutex queueMutex;
    std::deque<std::vector<uint8_t>> frameQueue; // guarded by queueMutex
};
