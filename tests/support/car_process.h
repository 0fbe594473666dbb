#pragma once

// Runs the real simulator in a network namespace of its own, so its fixed ports never clash
// with anything else, and lets a test open its sockets inside that namespace.
#include <string>
#include <sys/types.h>
#include <vector>

namespace carclient {

class CarProcess {
public:
    // Starts bin/carsim with `args` and waits until it answers discovery on 127.0.0.1.
    explicit CarProcess(std::vector<std::string> args);
    ~CarProcess();
    CarProcess(const CarProcess&) = delete;
    CarProcess& operator=(const CarProcess&) = delete;

    bool ready() const { return isReady; }
    int namespaceFd() const { return nsFd; }
    // Sends SIGTERM and reaps the process; its exit status (-1 if it had to be killed).
    int terminate();

private:
    pid_t pid = -1;
    int nsFd = -1;
    bool isReady = false;
};

// While alive, sockets the calling thread creates belong to the namespace given.
class InNamespace {
public:
    explicit InNamespace(int nsFd);
    ~InNamespace();
    InNamespace(const InNamespace&) = delete;
    InNamespace& operator=(const InNamespace&) = delete;

private:
    int original = -1;
};

std::string carsimPath();

} // namespace carclient
