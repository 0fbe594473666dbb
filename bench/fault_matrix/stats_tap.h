// The module's stream statistics, exactly as its collector counts them. The tap follows the
// module-wide collector: it attaches a listener of its own to every collector a link creation
// makes (after the client's listener, which it replaces; on the source path that one only ever
// answers false) and keeps each collector it has seen alive, so a collector replaced at a
// reconnect still reports the final counts of its connection once a second.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "client/md_video_client_interface.h"
#include "client/stream_stats_collector.h"

namespace faults {

using Clock = std::chrono::steady_clock;

struct StatsReport {
    Clock::time_point at;
    int generation = 0; // which collector: one per link creation
    MdvStreamStats stats;
};

// Words 0 to 4 added up over the connections, words 5 and 6 over the reports.
struct StatsTotals {
    std::array<uint64_t, 7> words{};
    int generations = 0;
};

class StatsTap {
public:
    StatsTap();
    ~StatsTap();
    StatsTap(const StatsTap&) = delete;
    StatsTap& operator=(const StatsTap&) = delete;

    // Forgets the reports and the totals kept, and drops the collectors held so far.
    void restart();
    // Adds what the collectors held so far counted to the totals kept, then lets go of them:
    // for long runs of short connections, which would otherwise hold one reporter thread each.
    // Call it only once their final reports are in (waitFinalReports).
    void harvest();
    // Waits (bounded) until every collector seen has reported after `after`, so the last report
    // of each holds everything its connection counted.
    bool waitFinalReports(Clock::time_point after, std::chrono::milliseconds bound);
    StatsTotals totals() const;
    std::vector<StatsReport> reports() const;
    // Detaches from every collector and lets go of them (their reporter threads end).
    void releaseAll();

private:
    class Listener;
    struct Followed {
        std::shared_ptr<StreamStatsCollector> collector;
        std::unique_ptr<Listener> listener;
    };

    void followLoop() noexcept;
    StatsTotals totalsLocked() const;
    void record(int generation, const MdvStreamStats& stats);

    // Lock order: followMutex, then a collector's lock, then mutex (a collector reports to a
    // listener with its own lock held).
    std::mutex followMutex;
    std::vector<Followed> followed; // guarded by followMutex
    std::atomic<int> generations{0};

    mutable std::mutex mutex;
    std::condition_variable changed;  // a report arrived, or stopping was set
    std::vector<StatsReport> history; // guarded by mutex
    StatsTotals harvested;            // guarded by mutex
    bool stopping = false;            // guarded by mutex
    std::thread follower;
};

} // namespace faults
