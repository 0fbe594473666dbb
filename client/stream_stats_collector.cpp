#include "client/stream_stats_collector.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// The module-wide collector. The pointer itself is swapped under currentMutex; the collector it
// points to stays alive for as long as any user still holds a copy.
std::mutex currentMutex;
std::shared_ptr<StreamStatsCollector> currentCollector; // guarded by currentMutex

// Parity packets per hundred data packets, truncated; 0 when no frame began (tallyA is 0), since
// the quotient has no finite value then.
uint32_t parityPercent(int32_t tallyA, int32_t tallyB) {
    if (tallyA <= 0 || tallyB <= 0) {
        return 0;
    }
    const double percent = static_cast<double>(tallyB) / tallyA * 100.0;
    if (percent >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(percent);
}

// Tallies saturate instead of overflowing.
int32_t saturatingAdd(int32_t a, int b) {
    const int64_t sum = static_cast<int64_t>(a) + b;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void addToCurrent(int word, uint32_t amount) {
    if (const auto collector = StreamStatsCollector::current()) {
        collector->addToCounter(word, amount);
    }
}

} // namespace

StreamStatsCollector::StreamStatsCollector(std::chrono::milliseconds reportPeriod)
    : period(reportPeriod), reporter(&StreamStatsCollector::reporterLoop, this) {}

StreamStatsCollector::~StreamStatsCollector() {
    {
        // Under the mutex, so the reporter cannot miss the change between its check and its wait.
        std::lock_guard lock(mutex);
        running = false;
    }
    stopCond.notify_all();
    if (reporter.joinable()) {
        reporter.join();
    }
}

void StreamStatsCollector::reset() {
    std::lock_guard lock(mutex);
    counters.fill(0);
    tallyA = 0;
    tallyB = 0;
}

void StreamStatsCollector::attachListener(MdVideoClientInterface* newListener) {
    std::lock_guard lock(mutex);
    listener = newListener;
}

void StreamStatsCollector::detachListener(MdVideoClientInterface* oldListener) {
    std::lock_guard lock(mutex);
    if (listener == oldListener) {
        listener = nullptr;
    }
}

void StreamStatsCollector::addToCounter(int word, uint32_t amount) {
    // Word 7 is computed at each report, never counted.
    if (word < 0 || word > 6) {
        return;
    }
    std::lock_guard lock(mutex);
    counters[static_cast<size_t>(word)] += amount;
}

void StreamStatsCollector::addFrameShape(int k, int m) {
    std::lock_guard lock(mutex);
    tallyA = saturatingAdd(tallyA, k);
    tallyB = saturatingAdd(tallyB, m);
}

void StreamStatsCollector::reporterLoop() noexcept {
    try {
        // The mutex is held throughout, except while waiting for the next period.
        std::unique_lock lock(mutex);
        while (running) {
            reportLocked();
            // A destructor wakes this wait at once instead of waiting out the period.
            const auto next = std::chrono::steady_clock::now() + period;
            stopCond.wait_until(lock, next, [this] { return !running; });
        }
    } catch (...) {
        // Nothing sensible is left to do: the reporter ends and the counters stay as they are.
    }
}

void StreamStatsCollector::reportLocked() {
    for (size_t i = 0; i < wordCount; ++i) {
        snapshot.words[i] = counters[i];
    }
    snapshot.words[7] = parityPercent(tallyA, tallyB);
    tallyA = 0;
    tallyB = 0;
    counters[5] = 0;
    counters[6] = 0;
    counters[7] = 0;

    if (listener == nullptr) {
        return;
    }
    // The listener is called with the mutex held, so that once it has been detached it is
    // never called again and may be destroyed.
    bool askedToReset = false;
    try {
        askedToReset = listener->onStatistics(snapshot);
    } catch (...) {
        askedToReset = false;
    }
    if (askedToReset) {
        // Still under the same lock: no count made after the report is lost to the reset.
        counters.fill(0);
        tallyA = 0;
        tallyB = 0;
    }
}

std::shared_ptr<StreamStatsCollector> StreamStatsCollector::current() {
    std::lock_guard lock(currentMutex);
    return currentCollector;
}

bool StreamStatsCollector::replaceCurrent(std::chrono::milliseconds reportPeriod) noexcept {
    std::shared_ptr<StreamStatsCollector> fresh;
    try {
        fresh = std::make_shared<StreamStatsCollector>(reportPeriod);
    } catch (...) {
        fresh.reset();
    }
    std::shared_ptr<StreamStatsCollector> old;
    {
        std::lock_guard lock(currentMutex);
        old = std::exchange(currentCollector, fresh);
    }
    // Outside currentMutex: if this was the last user, the old collector's destructor joins its
    // reporter here, and other threads must still be able to reach the new one meanwhile.
    old.reset();
    return fresh != nullptr;
}

void StreamStatsCollector::destroyCurrent() noexcept {
    std::shared_ptr<StreamStatsCollector> old;
    {
        std::lock_guard lock(currentMutex);
        old = std::exchange(currentCollector, nullptr);
    }
    old.reset();
}

namespace stream_stats {

void countDirectBlock() {
    addToCurrent(0, 1);
}
void countKeyFrameRequest() {
    addToCurrent(1, 1);
}
void countRepairedBlock() {
    addToCurrent(2, 1);
}
void countLostFrame() {
    addToCurrent(3, 1);
}
void countLostFrames(uint32_t count) {
    if (count != 0) {
        addToCurrent(3, count);
    }
}
void countLatePacket() {
    addToCurrent(4, 1);
}
void addReceivedBytes(uint32_t bytes) {
    addToCurrent(5, bytes);
}
void addDeliveredBytes(uint32_t bytes) {
    addToCurrent(6, bytes);
}

void addFrameShape(int k, int m) {
    if (const auto collector = StreamStatsCollector::current()) {
        collector->addFrameShape(k, m);
    }
}

} // namespace stream_stats
