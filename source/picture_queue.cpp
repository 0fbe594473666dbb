#include "source/picture_queue.h"

PictureQueue::PushResult PictureQueue::push(std::vector<uint8_t>& picture,
                                            const std::function<bool()>& wanted,
                                            int64_t timestamp) {
    std::deque<Queued> dropped; // freed after the lock is released
    std::lock_guard lock(queueMutex);
    if (!wanted()) {
        return PushResult::Unwanted;
    }
    frameQueue.push_back(Queued{std::move(picture), timestamp});
    if (frameQueue.size() <= kMaxQueuedFrames) {
        return PushResult::Queued;
    }
    dropped.swap(frameQueue);
    keepSpares(dropped);
    return PushResult::Cleared;
}

std::optional<std::vector<uint8_t>> PictureQueue::takeFront(int64_t* timestamp) {
    std::lock_guard lock(queueMutex);
    if (frameQueue.empty()) {
        return std::nullopt;
    }
    if (timestamp) {
        *timestamp = frameQueue.front().timestamp;
    }
    std::optional<std::vector<uint8_t>> picture(std::move(frameQueue.front().pixels));
    frameQueue.pop_front();
    return picture;
}

void PictureQueue::recycle(std::vector<uint8_t>&& picture) {
    std::vector<uint8_t> dropped; // freed after the lock is released
    std::lock_guard lock(queueMutex);
    if (spares.size() < kMaxSpares) {
        spares.push_back(std::move(picture));
    } else {
        dropped = std::move(picture);
    }
}

std::vector<uint8_t> PictureQueue::takeSpare() {
    std::lock_guard lock(queueMutex);
    if (spares.empty()) {
        return {};
    }
    std::vector<uint8_t> spare = std::move(spares.back());
    spares.pop_back();
    return spare;
}

void PictureQueue::clear() {
    std::deque<Queued> dropped; // outlives the lock: freed after unlocking
    std::lock_guard lock(queueMutex);
    dropped.swap(frameQueue);
    keepSpares(dropped);
}

size_t PictureQueue::size() const {
    std::lock_guard lock(queueMutex);
    return frameQueue.size();
}

void PictureQueue::keepSpares(std::deque<Queued>& discarded) {
    while (!discarded.empty() && spares.size() < kMaxSpares) {
        spares.push_back(std::move(discarded.back().pixels));
        discarded.pop_back();
    }
}
