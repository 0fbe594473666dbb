// A Zoderiv car played by the test, on the car's own ports of 127.0.0.1 (the test process has a
// network namespace of its own): TCP 8080 for the control channel, UDP 8082 for the media path.
// Each request is recorded and handed to the handler of its command; unlisted commands get a
// plain success answer. Handlers run on the car's one thread, one request at a time.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/car_peer.h"

namespace epsilon_test {

using nlohmann::json;
using Clock = cartest::CarPeer::Clock;

class FakeCar {
public:
    using Handler = std::function<void(FakeCar& car, const json& request)>;
    using Request = cartest::CarPeer::Request;

    bool ready() const { return peer.ready(); }

    // Replaces the handler of `command`; a null handler leaves the request unanswered.
    void on(const std::string& command, Handler handler);

    // For handlers. The answer in one write.
    void answer(const json& reply) { peer.send(frame(reply)); }
    // Success for `request`, with `members` added.
    void answerOk(const json& request, const json& members = json::object()) {
        answer(okReply(request, members));
    }
    // Each piece is written only once the client has read everything before it, so each
    // arrives in a read of its own.
    void writeInReads(const std::vector<std::string>& pieces);

    // From any thread: ends the current control connection as a car that goes away does.
    void closeControl() { peer.closeControl(); }

    std::vector<Request> requests(const std::string& command = "");
    // Whether `count` requests of `command` have been handled within 10 s.
    bool waitForHandled(const std::string& command, size_t count);

    // The media port: the next datagram to it (within 10 s), and datagrams from it.
    std::optional<cartest::CarPeer::Datagram> receiveDatagram() { return peer.receiveDatagram(); }
    bool sendDatagram(uint16_t toPort, const std::vector<uint8_t>& bytes) {
        return peer.sendDatagram(toPort, bytes);
    }

    // A length-prefixed answer.
    static std::string frame(const std::string& text);
    static std::string frame(const json& reply) { return frame(reply.dump()); }
    static json okReply(const json& request, const json& members = json::object());
    static json standardConfig();

private:
    void handle(const json& request);

    std::mutex mutex;
    std::map<std::string, Handler> handlers; // guarded by mutex
    std::map<std::string, size_t> handled;   // guarded by mutex

    // Last: its thread, which runs handle(), ends before the members above go.
    cartest::CarPeer peer{8080, 8082, [this](const Request& r) { handle(r.message); }};
};

} // namespace epsilon_test
