// The car's end of a client's links, played by a test on 127.0.0.1 of the test's own network
// namespace (so it may take the car's fixed ports): a TCP listener on the control port, whose
// client writes bare JSON objects back to back, and a UDP socket on one of the car's datagram
// ports. One thread accepts (a new connection replaces the one before, as on a car), cuts the
// stream into requests, records each and hands it to the car's handler, one at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace cartest {

class CarPeer {
public:
    using Clock = std::chrono::steady_clock;
    struct Request {
        std::string text; // exactly as received
        nlohmann::json message;
        Clock::time_point at;
    };
    struct Datagram {
        std::vector<uint8_t> bytes;
        uint16_t fromPort = 0;
    };
    using Handler = std::function<void(const Request&)>;

    // `handle` runs on the car's thread; destroy the peer before what the handler uses.
    CarPeer(uint16_t controlPort, uint16_t datagramPort, Handler handle);
    ~CarPeer();
    CarPeer(const CarPeer&) = delete;
    CarPeer& operator=(const CarPeer&) = delete;

    bool ready() const { return listenFd >= 0 && datagramFd >= 0 && thread.joinable(); }

    std::vector<Request> requests();
    // Writes `bytes` to the connected client as they are; false when none is connected.
    bool send(const std::string& bytes);
    // Waits up to 10 s until the client has read every byte written to it so far.
    bool waitUntilClientRead();
    // From any thread: ends the control connection as a car that goes away does.
    void closeControl();

    // The next datagram to the car's port, or nothing within 10 s.
    std::optional<Datagram> receiveDatagram();
    bool sendDatagram(uint16_t toPort, const std::vector<uint8_t>& bytes);

private:
    void run() noexcept;
    void acceptClient();
    void closeClientLocked();
    int currentClient();

    int listenFd = -1;
    int datagramFd = -1;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    Handler handle;

    std::mutex clientMutex;
    int clientFd = -1; // guarded by clientMutex; closed only by the car's thread

    std::mutex mutex;
    std::vector<Request> received; // guarded by mutex

    std::thread thread;
};

// A socket bound to 127.0.0.1:`port` (0: any), or -1.
int boundLoopbackSocket(int type, uint16_t port);

} // namespace cartest
