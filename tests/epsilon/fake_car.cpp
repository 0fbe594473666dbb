#include "tests/epsilon/fake_car.h"

#include "tests/net/net_test_support.h"

namespace epsilon_test {

void FakeCar::on(const std::string& command, Handler handler) {
    std::lock_guard lock(mutex);
    handlers[command] = std::move(handler);
}

json FakeCar::okReply(const json& request, const json& members) {
    json reply = members;
    reply["resp_status"] = 0;
    reply["tag"] = request.value("tag", -1);
    return reply;
}

json FakeCar::standardConfig() {
    return {{"autoChannel", 0},          {"channel", 6},    {"SSID", "car"},
            {"password", "pass"},        {"deviceMode", 1}, {"deviceSSID", "home"},
            {"devicePassword", "secret"}};
}

std::string FakeCar::frame(const std::string& text) {
    const auto n = static_cast<uint32_t>(text.size());
    const std::string length = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                                static_cast<char>(n >> 8), static_cast<char>(n)};
    return length + text;
}

void FakeCar::writeInReads(const std::vector<std::string>& pieces) {
    for (const std::string& piece : pieces) {
        if (!peer.send(piece) || !peer.waitUntilClientRead()) {
            return;
        }
    }
}

std::vector<FakeCar::Request> FakeCar::requests(const std::string& command) {
    std::vector<Request> matching;
    for (const Request& request : peer.requests()) {
        if (command.empty() || request.message.value("command", "") == command) {
            matching.push_back(request);
        }
    }
    return matching;
}

bool FakeCar::waitForHandled(const std::string& command, size_t count) {
    return nettest::waitFor([&] {
        std::lock_guard lock(mutex);
        return handled[command] >= count;
    });
}

void FakeCar::handle(const json& request) {
    const std::string command = request.is_object() ? request.value("command", "") : "";
    std::optional<Handler> handler;
    {
        std::lock_guard lock(mutex);
        if (const auto found = handlers.find(command); found != handlers.end()) {
            handler = found->second;
        }
    }
    if (handler) {
        if (*handler) {
            (*handler)(*this, request);
        }
    } else if (command == "get_device_config") {
        answerOk(request, standardConfig());
    } else if (command == "heartbeat") {
        answerOk(request, {{"data", "0001020304"}});
    } else {
        answerOk(request);
    }
    std::lock_guard lock(mutex);
    ++handled[command];
}

} // namespace epsilon_test
