#include "tests/sonix/fake_car.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/net/net_test_support.h"

namespace sonix_test {

using nlohmann::json;

namespace {

int boundSocket(int type, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM) {
        ::listen(fd, 8);
    }
    return fd;
}

uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Length of the first complete JSON object at the start of `text`, 0 while it is incomplete.
size_t objectLength(const std::string& text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            escaped = !escaped && c == '\\';
            inString = escaped || c != '"';
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth == 0) {
            return i + 1;
        }
    }
    return 0;
}

} // namespace

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
    replies["sendfwbin"] = [this](const json& request) {
        return std::optional<std::string>(openImagePort(request).dump());
    };
    controlListener = boundSocket(SOCK_STREAM, 8080);
    wheelSocket = boundSocket(SOCK_DGRAM, 19267);
    const timeval limit{10, 0};
    ::setsockopt(wheelSocket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    if (::pipe2(wakePipe, O_CLOEXEC) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
    }
    server = std::thread([this] { serve(); });
}

FakeCar::~FakeCar() {
    stopping = true;
    if (::write(wakePipe[1], "x", 1) != 1) {
        // The server notices `stopping` at its next poll time-out.
    }
    server.join();
    {
        std::lock_guard lock(imageMutex);
        for (auto& thread : imageThreads) {
            thread.join();
        }
    }
    for (int fd : {controlListener, wheelSocket, client, wakePipe[0], wakePipe[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
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
        writeAll(bytes);
    }
}

std::vector<std::string> FakeCar::requests() {
    std::lock_guard lock(mutex);
    return received;
}

std::vector<json> FakeCar::requestsOf(const std::string& type) {
    std::vector<json> matching;
    for (const auto& bytes : requests()) {
        json parsed = json::parse(bytes, nullptr, false);
        if (parsed.is_object() && parsed.value("type", "") == type) {
            matching.push_back(parsed);
        }
    }
    return matching;
}

bool FakeCar::waitFor(const std::string& type, size_t n) {
    return nettest::waitFor([&] { return count(type) >= n; });
}

bool FakeCar::sendRaw(const std::string& bytes) {
    return writeAll(bytes);
}

bool FakeCar::waitAllAcknowledged() {
    return nettest::waitFor([this] {
        std::lock_guard lock(mutex);
        int unacknowledged = 0;
        return client >= 0 && ::ioctl(client, SIOCOUTQ, &unacknowledged) == 0 &&
               unacknowledged == 0;
    });
}

std::vector<uint8_t> FakeCar::nextWheelPacket() {
    uint8_t buffer[64];
    const ssize_t n = ::recv(wheelSocket, buffer, sizeof(buffer), 0);
    return n > 0 ? std::vector<uint8_t>(buffer, buffer + n) : std::vector<uint8_t>{};
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

void FakeCar::serve() noexcept {
    while (!stopping) {
        int current = -1;
        {
            std::lock_guard lock(mutex);
            current = client;
        }
        pollfd slots[3] = {
            {wakePipe[0], POLLIN, 0}, {controlListener, POLLIN, 0}, {current, POLLIN, 0}};
        if (::poll(slots, current >= 0 ? 3 : 2, 100) <= 0) {
            continue;
        }
        try {
            if (slots[1].revents & POLLIN) {
                acceptClient();
            }
            if (current >= 0 && (slots[2].revents & (POLLIN | POLLHUP | POLLERR))) {
                readClient();
            }
        } catch (...) {
            // A request the car cannot handle goes unanswered, as a real car's would.
        }
    }
}

void FakeCar::acceptClient() {
    const int accepted = ::accept4(controlListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted < 0) {
        return;
    }
    std::lock_guard lock(mutex);
    // A new connection replaces the one before, as a real car does.
    if (client >= 0) {
        ::close(client);
    }
    client = accepted;
    pending.clear();
}

void FakeCar::readClient() {
    char buffer[4096];
    int fd = -1;
    {
        std::lock_guard lock(mutex);
        fd = client;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        std::lock_guard lock(mutex);
        if (client == fd) {
            ::close(client);
            client = -1;
        }
        return;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t length = objectLength(pending); length > 0; length = objectLength(pending)) {
        const std::string request = pending.substr(0, length);
        pending.erase(0, length);
        handle(request);
    }
}

void FakeCar::handle(const std::string& bytes) {
    const json request = json::parse(bytes, nullptr, false);
    const std::string type = request.is_object() ? request.value("type", "") : "";
    Reply reply;
    {
        std::lock_guard lock(mutex);
        received.push_back(bytes);
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
    writeAll(*answerBytes);
}

bool FakeCar::writeAll(const std::string& bytes) {
    std::lock_guard lock(mutex);
    size_t written = 0;
    while (client >= 0 && written < bytes.size()) {
        const ssize_t n =
            ::send(client, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return client >= 0;
}

json FakeCar::openImagePort(const json&) {
    const int listener = boundSocket(SOCK_STREAM, 0);
    const uint16_t port = portOf(listener);
    std::lock_guard lock(imageMutex);
    image.reset();
    imageThreads.emplace_back([this, listener] { receiveImage(listener); });
    return {{"port", port}, {"resp_status", 0}};
}

void FakeCar::receiveImage(int listener) noexcept {
    int connection = -1;
    // The wake pipe turns readable for good when the car stops.
    while (!stopping && connection < 0) {
        pollfd slots[2] = {{wakePipe[0], POLLIN, 0}, {listener, POLLIN, 0}};
        if (::poll(slots, 2, 100) > 0 && (slots[1].revents & POLLIN)) {
            connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    ::close(listener);
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(65536);
    while (!stopping && connection >= 0) {
        const bool reading = imageIntake == ImageIntake::Read;
        pollfd slots[2] = {{wakePipe[0], POLLIN, 0}, {connection, POLLIN, 0}};
        if (::poll(slots, reading ? 2 : 1, 100) <= 0 || !reading ||
            !(slots[1].revents & (POLLIN | POLLHUP))) {
            continue;
        }
        const ssize_t n = ::recv(connection, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            std::lock_guard lock(imageMutex);
            image = std::move(bytes);
            break;
        }
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    }
    if (connection >= 0) {
        ::close(connection);
    }
}

} // namespace sonix_test
