// An in-test Sonix car on 127.0.0.1 (in the test's own network namespace): the JSON control
// channel on TCP 8080 with scripted answers, a wheel receiver on UDP 19267 and a firmware
// image receiver on a port of its own. Every request is recorded with its exact bytes.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/car_peer.h"

namespace sonix_test {

// What the car does with one request: answer bytes, or none to stay silent.
using Reply = std::function<std::optional<std::string>(const nlohmann::json& request)>;

Reply answer(nlohmann::json body);         // body with "resp_status" 0 added unless present
Reply rawAnswer(const std::string& bytes); // exactly these bytes
Reply silence();                           // never answers

class FakeCar {
public:
    FakeCar();
    ~FakeCar();
    FakeCar(const FakeCar&) = delete;
    FakeCar& operator=(const FakeCar&) = delete;

    bool listening() const { return peer.ready(); }

    // Replaces the answer to one request type; "*" answers every type without its own.
    void on(const std::string& type, Reply reply);
    // Answers of this type are held back until release(type) sends them, in order.
    void hold(const std::string& type);
    void release(const std::string& type);

    // The exact bytes of every request received so far, in order.
    std::vector<std::string> requests();
    // The parsed requests of one type.
    std::vector<nlohmann::json> requestsOf(const std::string& type);
    size_t count(const std::string& type) { return requestsOf(type).size(); }
    // Waits up to 10 s until `type` has been received `n` times at least.
    bool waitFor(const std::string& type, size_t n = 1);

    // Writes bytes to the client as they are (no request needed) and waits until it read them.
    bool sendUnasked(const std::string& bytes) {
        return peer.send(bytes) && peer.waitUntilClientRead();
    }

    // The next wheel datagram, empty when none comes within 10 s.
    std::vector<uint8_t> nextWheelPacket();

    // Firmware: "sendfwbin" opens a listener and answers with its port. The image received
    // (once the client closed its stream), or with AcceptOnly the connection is held unread.
    enum class ImageIntake { Read, AcceptOnly };
    void setImageIntake(ImageIntake intake) { imageIntake = intake; }
    std::optional<std::vector<uint8_t>> waitForImage();

private:
    void handle(const nlohmann::json& request);
    nlohmann::json openImagePort();
    void receiveImage(int listener) noexcept;

    std::mutex mutex;
    std::map<std::string, Reply> replies;                        // guarded by mutex
    std::map<std::string, bool> held;                            // guarded by mutex
    std::map<std::string, std::vector<std::string>> heldAnswers; // guarded by mutex

    std::atomic<ImageIntake> imageIntake{ImageIntake::Read};
    std::mutex imageMutex;
    std::vector<std::thread> imageThreads;     // guarded by imageMutex
    std::vector<int> heldConnections;          // guarded by imageMutex
    std::optional<std::vector<uint8_t>> image; // guarded by imageMutex

    // Last: its thread, which runs handle(), ends before the members above go.
    cartest::CarPeer peer{8080, 19267,
                          [this](const cartest::CarPeer::Request& r) { handle(r.message); }};
};

// The answers of a healthy car with firmware 2.5 and video board V_2.10.00_37B_X_Y.
std::map<std::string, nlohmann::json> healthyAnswers();

} // namespace sonix_test
