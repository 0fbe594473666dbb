#include "tests/support/car_process.h"

#include <chrono>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "carsim/probe/car_client.h"

namespace carclient {

std::string carsimPath() {
    return CARSIM_PATH;
}

CarProcess::CarProcess(std::vector<std::string> args) {
    // The child enters a namespace of its own; a shell brings its loopback up, then becomes the
    // car.
    args.insert(args.begin(),
                {"/bin/sh", "-c", "ip link set lo up && exec \"$@\"", "sh", carsimPath()});
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int sync[2];
    if (::pipe2(sync, O_CLOEXEC) != 0) {
        return;
    }
    pid = ::fork();
    if (pid == 0) {
        ::close(sync[0]);
        if (::unshare(CLONE_NEWNET) != 0) {
            ::_exit(126);
        }
        char one = 1;
        if (::write(sync[1], &one, 1) != 1) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(sync[1]);
    char byte = 0;
    bool unshared = pid > 0 && ::read(sync[0], &byte, 1) == 1;
    ::close(sync[0]);
    if (!unshared) {
        return;
    }
    nsFd = ::open(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (nsFd < 0) {
        return;
    }
    // The car announces itself only once every endpoint is up.
    InNamespace inside(nsFd);
    Fd socket = udpSocket("127.0.0.1");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!isReady && std::chrono::steady_clock::now() < deadline) {
        sendDatagram(socket.get(), ipv4("127.0.0.1", 19266), probe());
        isReady = receiveDatagram(socket.get(), milliseconds(100)).has_value();
    }
}

int CarProcess::terminate() {
    if (pid <= 0) {
        return -1;
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        ::usleep(10000);
    }
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        status = -1;
    }
    pid = -1;
    return status < 0 ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

CarProcess::~CarProcess() {
    terminate();
    if (nsFd >= 0) {
        ::close(nsFd);
    }
}

InNamespace::InNamespace(int nsFd) {
    original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    ::setns(nsFd, CLONE_NEWNET);
}

InNamespace::~InNamespace() {
    ::setns(original, CLONE_NEWNET);
    ::close(original);
}

} // namespace carclient
