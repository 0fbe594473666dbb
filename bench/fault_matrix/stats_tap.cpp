#include "bench/fault_matrix/stats_tap.h"

#include <pthread.h>

namespace faults {

class StatsTap::Listener final : public MdVideoClientInterface {
public:
    Listener(StatsTap& tap, int generation) : tap(tap), generation(generation) {}
    void onDisconnected() override {}
    void onTelemetry(const MdvTelemetry&) override {}
    void onVideoFrame(int32_t, int64_t, const std::vector<uint8_t>&) override {}
    // Called by the collector with its lock held; the tap's own lock nests inside it.
    bool onStatistics(const MdvStreamStats& stats) override {
        tap.record(generation, stats);
        return false; // as the source's own listener: words 0 to 4 add up per connection
    }

private:
    StatsTap& tap;
    const int generation;
};

StatsTap::StatsTap() : follower(&StatsTap::followLoop, this) {}

StatsTap::~StatsTap() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    follower.join();
    releaseAll();
}

void StatsTap::record(int generation, const MdvStreamStats& stats) {
    {
        std::lock_guard lock(mutex);
        history.push_back(StatsReport{Clock::now(), generation, stats});
    }
    changed.notify_all();
}

void StatsTap::followLoop() noexcept {
    pthread_setname_np(pthread_self(), "stats-tap");
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (changed.wait_for(lock, std::chrono::milliseconds(20),
                                 [this] { return stopping; })) {
                return;
            }
        }
        const std::shared_ptr<StreamStatsCollector> current = StreamStatsCollector::current();
        if (!current) {
            continue;
        }
        std::lock_guard follow(followMutex);
        Listener* listener = nullptr;
        for (const Followed& f : followed) {
            if (f.collector == current) {
                listener = f.listener.get();
            }
        }
        if (listener == nullptr) {
            followed.push_back(Followed{current, std::make_unique<Listener>(*this, generations)});
            generations = static_cast<int>(followed.size());
            listener = followed.back().listener.get();
        }
        // Again and again: a connect attaches the client's own listener after the link made
        // the collector.
        current->attachListener(listener);
    }
}

void StatsTap::restart() {
    releaseAll();
    std::lock_guard lock(mutex);
    history.clear();
    harvested = StatsTotals{};
}

void StatsTap::harvest() {
    std::lock_guard follow(followMutex);
    for (Followed& f : followed) {
        f.collector->detachListener(f.listener.get());
    }
    std::lock_guard lock(mutex);
    harvested = totalsLocked();
    history.clear();
    followed.clear();
    generations = 0;
}

bool StatsTap::waitFinalReports(Clock::time_point after, std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, bound, [&] {
        for (int g = 0; g < generations; ++g) {
            bool reported = false;
            for (const StatsReport& r : history) {
                reported = reported || (r.generation == g && r.at > after);
            }
            if (!reported) {
                return false;
            }
        }
        return true;
    });
}

StatsTotals StatsTap::totals() const {
    std::lock_guard lock(mutex);
    return totalsLocked();
}

StatsTotals StatsTap::totalsLocked() const {
    StatsTotals result = harvested;
    result.generations += generations;
    std::vector<std::array<uint32_t, 5>> last(static_cast<size_t>(generations));
    for (const StatsReport& r : history) {
        if (r.generation >= generations) {
            continue;
        }
        for (size_t w = 0; w < 5; ++w) {
            last[static_cast<size_t>(r.generation)][w] = r.stats.words[w];
        }
        result.words[5] += r.stats.words[5];
        result.words[6] += r.stats.words[6];
    }
    for (const auto& words : last) {
        for (size_t w = 0; w < 5; ++w) {
            result.words[w] += words[w];
        }
    }
    return result;
}

std::vector<StatsReport> StatsTap::reports() const {
    std::lock_guard lock(mutex);
    return history;
}

void StatsTap::releaseAll() {
    std::lock_guard follow(followMutex);
    // Once detached, a listener is not being called and will not be called again.
    for (Followed& f : followed) {
        f.collector->detachListener(f.listener.get());
    }
    followed.clear();
    generations = 0;
}

} // namespace faults
