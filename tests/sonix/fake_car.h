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

    bool listening() const { return controlListener >= 0 && wheelSocket >= 0; }

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

    // Writes bytes to the connected client as they are (no request needed).
    bool sendRaw(const std::string& bytes);
    // Waits up to 10 s until the client's kernel has acknowledged every byte written.
    bool waitAllAcknowledged();

    // The next wheel datagram, empty when none comes within 10 s.
    std::vector<uint8_t> nextWheelPacket();

    // Firmware: "sendfwbin" opens a listener and answers with its port. The image received
    // (once the client closed its stream) or the count of connections accepted.
    enum class ImageIntake { Read, AcceptOnly };
    void setImageIntake(ImageIntake intake) { imageIntake = intake; }
    std::optional<std::vector<uint8_t>> waitForImage();

private:
    void serve() noexcept;
    void acceptClient();
    void readClient();
    void handle(const std::string& bytes);
    bool writeAll(const std::string& bytes);
    nlohmann::json openImagePort(const nlohmann::json& request);
    void receiveImage(int listener) noexcept;

    int controlListener = -1;
    int wheelSocket = -1;
    int wakePipe[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::thread server;

    std::mutex mutex;
    int client = -1;                      // written by the server thread, guarded by mutex
    std::string pending;                  // server thread only: bytes of a request still incomplete
    std::map<std::string, Reply> replies; // guarded by mutex
    std::map<std::string, bool> held;     // guarded by mutex
    std::map<std::string, std::vector<std::string>> heldAnswers; // guarded by mutex
    std::vector<std::string> received;                           // guarded by mutex

    std::atomic<ImageIntake> imageIntake{ImageIntake::Read};
    std::mutex imageMutex;
    std::vector<std::thread> imageThreads;     // guarded by imageMutex
    std::vector<int> imageListeners;           // guarded by imageMutex
    std::optional<std::vector<uint8_t>> image; // guarded by imageMutex
};

// The answers of a healthy car with firmware 2.5 and video board V_2.10.00_37B_X_Y.
std::map<std::string, nlohmann::json> healthyAnswers();

} // namespace sonix_test
