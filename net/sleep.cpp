#include "net/sleep.h"

#include <chrono>
#include <thread>

void sleepMs(int ms) {
    if (ms <= 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_until(deadline);
    }
}
