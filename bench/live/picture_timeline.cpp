#include "bench/live/picture_timeline.h"

#include <chrono>
#include <pthread.h>

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PictureTimeline::PictureTimeline(Yardstick yardstick) {
    if (yardstick == Yardstick::Bare) {
        bare = BareDecoder::create();
        if (bare) {
            this->yardstick = std::thread([this] { yardstickLoop(); });
        }
    }
}

PictureTimeline::~PictureTimeline() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (yardstick.joinable()) {
        yardstick.join();
    }
}

void PictureTimeline::onFrameArrived(int64_t timestamp,
                                     const std::vector<uint8_t>& accessUnit) noexcept {
    const int64_t now = steadyNowNs();
    try {
        std::lock_guard lock(mutex);
        PictureRecord record;
        record.timestamp = timestamp;
        record.arrivedNs = now;
        records.push_back(record);
        if (bare) {
            bareInbox.push_back({records.size() - 1, accessUnit});
        }
    } catch (...) {
        // Out of memory in the benchmark: the record is missing, the run goes on.
    }
}

void PictureTimeline::onPictureQueued(int64_t timestamp) noexcept {
    const int64_t now = steadyNowNs();
    {
        std::lock_guard lock(mutex);
        // Decoding and queueing run on one thread right after the arrival of the same unit.
        if (records.empty() || records.back().timestamp != timestamp) {
            return;
        }
        const size_t index = records.size() - 1;
        records[index].queuedNs = now;
        if (!earlyUploads.empty() && earlyUploads.front().timestamp == timestamp) {
            // Render took the picture between the push and this call.
            records[index].uploadedNs = earlyUploads.front().uploadedNs;
            earlyUploads.pop_front();
        } else {
            inQueue.push_back(index);
        }
        bareReleased = records.size();
    }
    changed.notify_all();
}

void PictureTimeline::onPictureUploaded(int64_t timestamp) noexcept {
    const int64_t now = steadyNowNs();
    std::lock_guard lock(mutex);
    ++uploadCount;
    if (firstUpload < 0) {
        firstUpload = now;
    }
    // The queue is first in, first out: pictures ahead of this one that render never took
    // were discarded (overflow, hide, deactivate).
    for (size_t i = 0; i < inQueue.size(); ++i) {
        if (records[inQueue[i]].timestamp != timestamp) {
            continue;
        }
        for (size_t j = 0; j < i; ++j) {
            records[inQueue.front()].dropped = true;
            inQueue.pop_front();
        }
        records[inQueue.front()].uploadedNs = now;
        inQueue.pop_front();
        return;
    }
    PictureRecord early;
    early.timestamp = timestamp;
    early.uploadedNs = now;
    try {
        earlyUploads.push_back(early);
    } catch (...) {
    }
}

size_t PictureTimeline::arrivals() const {
    std::lock_guard lock(mutex);
    return records.size();
}

size_t PictureTimeline::uploads() const {
    std::lock_guard lock(mutex);
    return uploadCount;
}

int64_t PictureTimeline::firstUploadNs() const {
    std::lock_guard lock(mutex);
    return firstUpload;
}

int64_t PictureTimeline::firstArrivalNs() const {
    std::lock_guard lock(mutex);
    return records.empty() ? -1 : records.front().arrivedNs;
}

std::vector<PictureRecord> PictureTimeline::finish() {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(30), [this] {
        return !bare || bareInbox.empty() || bareInbox.front().record >= bareReleased;
    });
    return records;
}

void PictureTimeline::yardstickLoop() noexcept {
    pthread_setname_np(pthread_self(), "bench-bare");
    try {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] {
                return stopping || (!bareInbox.empty() && bareInbox.front().record < bareReleased);
            });
            if (stopping) {
                return;
            }
            BareWork work = std::move(bareInbox.front());
            bareInbox.pop_front();
            lock.unlock();
            const int64_t start = steadyNowNs();
            const bool picture = bare->decode(work.accessUnit);
            const int64_t took = steadyNowNs() - start;
            lock.lock();
            if (picture) {
                records[work.record].bareNs = took;
            }
            changed.notify_all();
        }
    } catch (...) {
        // The yardstick stops; records keep bareNs = -1 from here on.
    }
}
