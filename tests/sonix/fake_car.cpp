#include "tests/sonix/fake_car.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/platform/socket_platform.h"
#include "tests/net/net_test_support.h"

namespace sonix_test {

using nlohmann::json;

Reply answer(json body) {
    if (!body.contains("resp_status")) {
        body["resp_status"] = 0;
    }
    const std::string bytes = body.dump();
    return [bytes](const json&) { return std::optional<std::string>(bytes); };
}

Reply rawAnswer(const std::string& bytes) {
    return [bytes](const json&) { return std::optional<std::string>(bytes); };
}

Reply silence() {
    return [](const json&) { return std::optional<std::string>(); };
}

std::map<std::string, json> healthyAnswers() {
    return {
        {"mendrel_get_mcu_version", {{"fwMajor", 2}, {"fwMinor", 5}, {"hwType", 1}}},
        {"getdeviceparameter",
         {{"wifiautochannel", 1},
          {"wifichannel", 6},
          {"ssid", "fakecar"},
          {"mac", "02:00:00:00:00:01"},
          {"pwd", "secret"},
          {"powerfrequency", 50},
          {"wifidevicemode", 0},
          {"device_ssid", "__UNSET__"},
          {"device_pwd", "__UNSET__"},
          {"fwversion", "V_2.10.00_37B_X_Y"}}},
        {"getrecordstatus", {{"length", 3}, {"loop", 1}}},
        {"getvideostatus", {{"bitrate", 1572864}, {"wdr", 0}}},
        {"mendrel_get_carconfig",
         {{"driving_brake", 1},
          {"idle_disable", 0},
          {"gyrosteering_default_state", 0},
          {"gyrosteering_enabled", 0},
          {"disengage_motors", 0}}},
        {"getsdspace", {{"errorcode", 0}, {"totalspace", 1000}, {"sdspace", 25}}},
    };
}

FakeCar::FakeCar() {
    for (const auto& [type, body] : healthyAnswers()) {
        replies[type] = answer(body);
    }
    replies["*"] = answer(json::object());
    replies["sendfwbin"] = [this](const json&) {
        return std::optional<std::string>(openImagePort().dump());
    };
}

FakeCar::~FakeCar() {
    std::lock_guard lock(imageMutex);
    for (auto& thread : imageThreads) {
        thread.join();
    }
    for (const int fd : heldConnections) {
        ::close(fd);
    }
}

void FakeCar::on(const std::string& type, Reply reply) {
    std::lock_guard lock(mutex);
    replies[type] = std::move(reply);
}

void FakeCar::hold(const std::string& type) {
    std::lock_guard lock(mutex);
    held[type] = true;
}

void FakeCar::release(const std::string& type) {
    std::vector<std::string> answers;
    {
        std::lock_guard lock(mutex);
        held[type] = false;
        answers.swap(heldAnswers[type]);
    }
    for (const auto& bytes : answers) {
        peer.send(bytes);
    }
}

std::vector<std::string> FakeCar::requests() {
    std::vector<std::string> texts;
    for (const auto& request : peer.requests()) {
        texts.push_back(request.text);
    }
    return texts;
}

std::vector<json> FakeCar::requestsOf(const std::string& type) {
    std::vector<json> matching;
    for (const auto& request : peer.requests()) {
        if (request.message.is_object() && request.message.value("type", "") == type) {
            matching.push_back(request.message);
        }
    }
    return matching;
}

bool FakeCar::waitFor(const std::string& type, size_t n) {
    return nettest::waitFor([&] { return count(type) >= n; });
}

std::vector<uint8_t> FakeCar::nextWheelPacket() {
    const auto datagram = peer.receiveDatagram();
    return datagram ? datagram->bytes : std::vector<uint8_t>{};
}

std::optional<std::vector<uint8_t>> FakeCar::waitForImage() {
    std::optional<std::vector<uint8_t>> result;
    nettest::waitFor([&] {
        std::lock_guard lock(imageMutex);
        result = image;
        return result.has_value();
    });
    return result;
}

void FakeCar::handle(const json& request) {
    const std::string type = request.is_object() ? request.value("type", "") : "";
    Reply reply;
    {
        std::lock_guard lock(mutex);
        const auto found = replies.find(type);
        reply = found != replies.end() ? found->second : replies["*"];
    }
    const std::optional<std::string> answerBytes = reply(request);
    if (!answerBytes) {
        return;
    }
    {
        std::lock_guard lock(mutex);
        if (held[type]) {
            heldAnswers[type].push_back(*answerBytes);
            return;
        }
    }
    peer.send(*answerBytes);
}

json FakeCar::openImagePort() {
    const int listener = nettest::boundReceives(cartest::boundLoopbackSocket(SOCK_STREAM, 0));
    sockaddr_storage bound{};
    localAddress(listener, bound);
    const uint16_t port = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    std::lock_guard lock(imageMutex);
    image.reset();
    imageThreads.emplace_back([this, listener] { receiveImage(listener); });
    return {{"port", port}, {"resp_status", 0}};
}

// Accepts and reads each within the 10 s receive bound.
void FakeCar::receiveImage(int listener) noexcept {
    const int connection =
        nettest::boundReceives(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    ::close(listener);
    if (connection < 0) {
        return;
    }
    if (imageIntake == ImageIntake::AcceptOnly) {
        std::lock_guard lock(imageMutex);
        heldConnections.push_back(connection);
        return;
    }
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(65536);
    ssize_t n = 0;
    while ((n = ::recv(connection, buffer.data(), buffer.size(), 0)) > 0) {
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    }
    ::close(connection);
    if (n == 0) {
        std::lock_guard lock(imageMutex);
        image = std::move(bytes);
    }
}

} // namespace sonix_test
