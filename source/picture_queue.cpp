#include "source/picture_queue.h"

PictureQueue::PushResult PictureQueue::push(const std::vector<uint8_t>& picture,
                                            const std::function<bool()>& wanted) {
    if (!wanted()) {
        return PushResult::Unwanted; // spares the copy; the answer is checked again below
    }
    std::vector<uint8_t> copy(picture); // copied before the lock: the render thread waits less
    std::deque<std::vector<uint8_t>> dropped;
    {
        std::lock_guard lock(queueMutex);
        if (!wanted()) {
            return PushResult::Unwanted;
        }
        frameQueue.push_back(std::move(copy));
        if (frameQueue.size() <= kMaxQueuedFrames) {
            return PushResult::Queued;
        }
        dropped.swap(frameQueue);
    }
    // The dropped pictures are freed here, after the lock is released.
    return PushResult::Cleared;
}

std::optional<std::vector<uint8_t>> PictureQueue::takeFront() {
    std::lock_guard lock(queueMutex);
    if (frameQueue.empty()) {
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> picture(std::move(frameQueue.front()));
    frameQueue.pop_front();
    return picture;
}

void PictureQueue::clear() {
    std::deque<std::vector<uint8_t>> dropped; // outlives the lock: freed after unlocking
    std::lock_guard lock(queueMutex);
    dropped.swap(frameQueue);
}

size_t PictureQueue::size() const {
    std::lock_guard lock(queueMutex);
    return frameQueue.size();
}
