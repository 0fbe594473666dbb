#include <cerrno>
#include <ctime>

#include "zeb/zeb.h"

extern "C" {

ZEB_API uint64_t os_gettime_ns(void) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

ZEB_API bool os_sleepto_ns(uint64_t time_target) {
    if (os_gettime_ns() >= time_target) {
        return false;
    }
    timespec target{};
    target.tv_sec = static_cast<time_t>(time_target / 1000000000ull);
    target.tv_nsec = static_cast<long>(time_target % 1000000000ull);
    // An absolute deadline keeps the wake-up exact across signal interruptions.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
    return true;
}

} // extern "C"
