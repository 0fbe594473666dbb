// A Zoderiv car played by the test, on the car's own ports of 127.0.0.1 (the test process has a
// network namespace of its own): TCP 8080 for the control channel, UDP 8082 for the media path.
// Each request is recorded and handed to the handler of its command; unlisted commands get a
// plain success answer. Handlers run on the car's one thread, one request at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace epsilon_test {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

class FakeCar {
public:
    using Handler = std::function<void(FakeCar& car, const json& request)>;
    struct Request {
        json message;
        Clock::time_point at;
    };
    struct Datagram {
        std::vector<uint8_t> bytes;
        uint16_t fromPort = 0;
    };

    FakeCar();
    ~FakeCar();
    FakeCar(const FakeCar&) = delete;
    FakeCar& operator=(const FakeCar&) = delete;

    bool ready() const { return listenFd >= 0 && mediaFd >= 0 && thread.joinable(); }

    // Replaces the handler of `command`; a null handler leaves the request unanswered.
    void on(const std::string& command, Handler handler);

    // For handlers. The answer in one write.
    void answer(const json& reply);
    // Success for `request`, with `members` added.
    void answerOk(const json& request, const json& members = json::object());
    // Each piece is written only once the client has read everything before it, so each
    // arrives in a read of its own.
    void writeInReads(const std::vector<std::string>& pieces);

    // From any thread: ends the current control connection as a car that goes away does.
    void closeControl();

    std::vector<Request> requests(const std::string& command = "");
    // Whether `count` requests of `command` have been handled within 10 s.
    bool waitForHandled(const std::string& command, size_t count);

    // The next datagram to the car's media port, or nothing within 10 s.
    std::optional<Datagram> receiveDatagram();
    bool sendDatagram(uint16_t toPort, const std::vector<uint8_t>& bytes);

    // A length-prefixed answer.
    static std::string frame(const std::string& text);
    static std::string frame(const json& reply) { return frame(reply.dump()); }
    static json okReply(const json& request, const json& members = json::object());
    static json standardConfig();

private:
    void run() noexcept;
    void handle(const std::string& text);
    void acceptClient();
    void closeClientLocked();
    bool writeAll(const std::string& bytes);
    bool waitUntilClientRead();

    int listenFd = -1;
    int mediaFd = -1;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};

    std::mutex clientMutex;
    int clientFd = -1; // guarded by clientMutex; closed only by the car's thread

    std::mutex mutex;
    std::map<std::string, Handler> handlers; // guarded by mutex
    std::vector<Request> received;           // guarded by mutex
    std::map<std::string, size_t> handled;   // guarded by mutex

    std::thread thread;
};

} // namespace epsilon_test
