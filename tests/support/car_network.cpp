#include "tests/support/car_network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/close_range.h>
#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "carsim/probe/car_client.h"
#include "tests/support/car_process.h"

namespace testnet {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(10);
constexpr const char* kBridge = "dvbr0";
// Set by hand so that it stays put: a bridge otherwise takes the lowest address of its ports,
// and a car started later would change it under the cars' address caches.
constexpr const char* kBridgeHardwareAddress = "02:44:56:00:99:02";
constexpr uint16_t kDiscoveryPort = 19266;

// A car keeps its hardware address across restarts, as a real one does: the host's address
// cache still knows the old one, and a new one would go unanswered until that entry expired.
std::string hardwareAddress(int car) {
    char text[18];
    std::snprintf(text, sizeof text, "02:44:56:00:%02x:%02x", (car >> 8) & 0xFF, car & 0xFF);
    return text;
}

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        std::string path = std::string(folder) + name;
        if (::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return name;
}

std::vector<char*> argvOf(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// In a child between fork and exec (async-signal-safe calls only): the parent's sockets and
// files must not live on in the child, or a connection the code under test closes would stay
// open inside a car.
void closeInheritedOnExec() {
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
}

int openProcessFd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// True once the process behind `pidfd` has ended (it is not reaped here).
bool waitEnded(int pidfd, Clock::duration bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{pidfd, POLLIN, 0};
        const int r = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (r > 0) {
            return true;
        }
        if (r == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Reaps the child, killing it when it has not ended within the bound; its wait status, or -1.
int reap(pid_t pid, Clock::duration bound) {
    const int pidfd = openProcessFd(pid);
    if (pidfd < 0 || !waitEnded(pidfd, bound)) {
        ::kill(pid, SIGKILL);
    }
    if (pidfd >= 0) {
        ::close(pidfd);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

bool readByte(int fd) {
    char byte = 0;
    ssize_t r;
    while ((r = ::read(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return r == 1;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int runProgram(const std::vector<std::string>& arguments, bool quiet) {
    if (arguments.empty()) {
        return -1;
    }
    std::vector<std::string> copy = arguments;
    copy[0] = findProgram(copy[0]);
    std::vector<char*> argv = argvOf(copy);
    const int nowhere = quiet ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (nowhere >= 0) {
            ::dup2(nowhere, STDOUT_FILENO);
            ::dup2(nowhere, STDERR_FILENO);
        }
        closeInheritedOnExec();
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (nowhere >= 0) {
        ::close(nowhere);
    }
    if (pid < 0) {
        return -1;
    }
    const int status = reap(pid, kBound);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct CarNetwork::Car {
    int number = 0;
    int generation = 0; // a fresh link name per start: a dying namespace frees its own late
    std::vector<std::string> arguments;
    pid_t pid = -1;
    int pidfd = -1;
    std::string link; // the bridge's end of the car's veth pair

    bool running() const { return pid > 0; }
};

CarNetwork::CarNetwork() {
    char pattern[] = "/tmp/drivon-cars-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        lastError = "cannot make a scratch folder";
        return;
    }
    scratch = pattern;
    const std::vector<std::vector<std::string>> steps = {
        {"ip", "link", "add", kBridge, "type", "bridge"},
        {"ip", "link", "set", kBridge, "address", kBridgeHardwareAddress},
        {"ip", "addr", "add", std::string(kHostAddress) + "/24", "broadcast", kBroadcastAddress,
         "dev", kBridge},
        {"ip", "link", "set", kBridge, "up"},
    };
    for (const auto& step : steps) {
        if (runProgram(step) != 0) {
            lastError = "cannot set up the bridge: " + step[1] + " " + step[2] + " failed";
            return;
        }
    }
    bridgeUp = true;
}

CarNetwork::~CarNetwork() {
    for (auto& car : cars) {
        stop(*car);
    }
    runProgram({"ip", "link", "del", kBridge}, true);
    if (!scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }
}

std::string CarNetwork::carAddress(int car) {
    return "192.168.99." + std::to_string(car == 1 ? 1 : car + 1);
}

std::string CarNetwork::wireLogPath(int car) const {
    return scratch + "/car" + std::to_string(car) + ".wire.jsonl";
}

std::string CarNetwork::wireLog(int car) const {
    return readWholeFile(wireLogPath(car));
}

std::string CarNetwork::output(int car) const {
    return readWholeFile(scratch + "/car" + std::to_string(car) + ".out");
}

CarNetwork::Car* CarNetwork::find(int car) const {
    return car >= 1 && car <= carCount() ? cars[static_cast<size_t>(car - 1)].get() : nullptr;
}

bool CarNetwork::carRunning(int car) const {
    const Car* found = find(car);
    return found && found->running();
}

bool CarNetwork::addCar(std::vector<std::string> carsimArguments) {
    auto car = std::make_unique<Car>();
    car->number = carCount() + 1;
    car->arguments = std::move(carsimArguments);
    cars.push_back(std::move(car));
    return start(*cars.back());
}

bool CarNetwork::startCar(int car) {
    Car* found = find(car);
    if (!found) {
        lastError = "no car " + std::to_string(car);
        return false;
    }
    stop(*found);
    return start(*found);
}

bool CarNetwork::startCar(int car, std::vector<std::string> carsimArguments) {
    if (Car* found = find(car)) {
        found->arguments = std::move(carsimArguments);
    }
    return startCar(car);
}

void CarNetwork::stopCar(int car) {
    if (Car* found = find(car)) {
        stop(*found);
    }
}

bool CarNetwork::start(Car& car) {
    if (!bridgeUp) {
        lastError = "no bridge";
        return false;
    }
    const std::string address = carAddress(car.number);
    car.link = "dvc" + std::to_string(car.number) + "g" + std::to_string(++car.generation);

    // The child's shell gives the car's namespace its addresses once the veth end is in it,
    // then becomes the car.
    std::vector<std::string> arguments = {
        "/bin/sh",
        "-c",
        "ip=$1 address=$2; shift 2; \"$ip\" link set lo up && "
        "\"$ip\" addr add \"$address/24\" broadcast " +
            std::string(kBroadcastAddress) + " dev eth0 && \"$ip\" link set eth0 up && exec \"$@\"",
        "sh",
        findProgram("ip"),
        address,
        carclient::carsimPath(),
    };
    arguments.insert(arguments.end(), car.arguments.begin(), car.arguments.end());
    arguments.insert(arguments.end(), {"--log", wireLogPath(car.number)});
    std::vector<char*> argv = argvOf(arguments);

    const std::string outputPath = scratch + "/car" + std::to_string(car.number) + ".out";
    const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int unshared[2] = {-1, -1};
    int proceed[2] = {-1, -1};
    if (output < 0 || ::pipe2(unshared, O_CLOEXEC) != 0 || ::pipe2(proceed, O_CLOEXEC) != 0) {
        for (int fd : {output, unshared[0], unshared[1], proceed[0], proceed[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        lastError = "cannot make the pipes of car " + std::to_string(car.number);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A parent that gives up closes its end without a byte: the child ends too.
        if (::unshare(CLONE_NEWNET) != 0 || ::write(unshared[1], "u", 1) != 1 ||
            !readByte(proceed[0])) {
            ::_exit(126);
        }
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        closeInheritedOnExec();
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(output);
    ::close(unshared[1]);
    ::close(proceed[0]);
    const bool inOwnNamespace = pid > 0 && readByte(unshared[0]);
    ::close(unshared[0]);
    if (pid > 0) {
        car.pid = pid;
        car.pidfd = openProcessFd(pid);
    }
    bool linked =
        inOwnNamespace &&
        runProgram({"ip", "link", "add", car.link, "type", "veth", "peer", "name", "eth0",
                    "address", hardwareAddress(car.number), "netns", std::to_string(pid)}) == 0 &&
        runProgram({"ip", "link", "set", car.link, "master", kBridge, "up"}) == 0;
    linked = linked && ::write(proceed[1], "g", 1) == 1;
    ::close(proceed[1]);
    if (!linked) {
        stop(car);
        lastError = "cannot start car " + std::to_string(car.number) + " in a namespace of its own";
        return false;
    }
    return waitAnswering(car);
}

bool CarNetwork::waitAnswering(Car& car) {
    const std::string address = carAddress(car.number);
    carclient::Fd socket = carclient::udpSocket(kHostAddress);
    const sockaddr_in target = carclient::ipv4(address, kDiscoveryPort);
    const auto deadline = Clock::now() + kBound;
    while (socket.valid() && Clock::now() < deadline) {
        carclient::sendDatagram(socket.get(), target, carclient::probe());
        pollfd entries[2] = {{socket.get(), POLLIN, 0}, {car.pidfd, POLLIN, 0}};
        if (::poll(entries, car.pidfd >= 0 ? 2 : 1, 100) < 0 && errno != EINTR) {
            break;
        }
        if (car.pidfd >= 0 && (entries[1].revents & POLLIN) != 0) {
            stop(car);
            lastError = "car " + std::to_string(car.number) + " ended before it answered:\n" +
                        output(car.number);
            return false;
        }
        sockaddr_in from{};
        while ((entries[0].revents & POLLIN) != 0) {
            auto answer =
                carclient::receiveDatagram(socket.get(), std::chrono::milliseconds(0), &from);
            if (!answer) {
                break;
            }
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            if (carclient::answerValid(*answer, 0) && address == text) {
                return true;
            }
        }
    }
    stop(car);
    lastError = "car " + std::to_string(car.number) + " did not answer discovery within " +
                std::to_string(kBound.count()) + " s:\n" + output(car.number);
    return false;
}

void CarNetwork::stop(Car& car) {
    if (car.pid > 0) {
        ::kill(car.pid, SIGTERM);
        if (car.pidfd < 0 || !waitEnded(car.pidfd, kBound)) {
            ::kill(car.pid, SIGKILL);
        }
        reap(car.pid, kBound);
        car.pid = -1;
    }
    if (car.pidfd >= 0) {
        ::close(car.pidfd);
        car.pidfd = -1;
    }
    // Ending the car's namespace removes the pair as well, but in the background; this makes
    // it gone now. Already gone is fine.
    if (!car.link.empty()) {
        runProgram({"ip", "link", "del", car.link}, true);
    }
}

} // namespace testnet
