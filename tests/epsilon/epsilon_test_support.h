// What the Zoderiv client tests share: access to the client's private control channel, a
// fixture with a fake car and a client, and thread probes.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "epsilon/md_video_client_epsilon.h"
#include "tests/client/test_support.h"
#include "tests/epsilon/fake_car.h"
#include "tests/net/net_test_support.h"
#include "tests/support/private_network.h"

// The private operations the media receiver and the command thread use.
struct EpsilonClientTestAccess {
    using Done = std::function<void(int, nlohmann::json&)>;
    static bool queue(MdVideoClientEpsilon& client, const std::string& command, Done done) {
        return client.queueJsonCommand(command, nlohmann::json(), std::move(done));
    }
    static bool send(MdVideoClientEpsilon& client, const std::string& command, int& status) {
        nlohmann::json params;
        nlohmann::json response;
        return client.sendJsonCommand(command, params, status, response);
    }
    static void requestKeyFrame(MdVideoClientEpsilon& client) { client.requestKeyFrame(); }
    // What disconnect does first: the command thread leaves once the queue is empty.
    static void stopRunning(MdVideoClientEpsilon& client) { client.running = false; }
};

namespace epsilon_test {

using Access = EpsilonClientTestAccess;
using Timing = MdVideoClientEpsilon::Timing;
using namespace std::chrono_literals;

// No heartbeat during the test, so only the test's own exchanges reach the car.
inline Timing quietTiming() {
    return {std::chrono::hours(1), 5000, 50};
}
// Heartbeats in quick succession.
inline Timing briskTiming() {
    return {std::chrono::milliseconds(200), 5000, 50};
}

// Whether a thread of this process has the name `name`.
inline bool threadNamed(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == name) {
            return true;
        }
    }
    return false;
}

// The fake car lives in this process and closes its end of a connection on its own thread,
// a moment after the client has closed its end.
inline bool descriptorsBackTo(int count) {
    return nettest::waitFor([count] { return nettest::openDescriptorCount() == count; });
}

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class EpsilonTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testnet::havePrivateNetwork()) {
            GTEST_SKIP() << "needs a network namespace of its own (root)";
        }
        car = std::make_unique<FakeCar>();
        ASSERT_TRUE(car->ready());
    }
    void TearDown() override {
        client.reset(); // before its car, so it leaves as a client does
        car.reset();
    }

    void makeClient(Timing timing) {
        client = std::make_unique<MdVideoClientEpsilon>(&listener, timing);
    }
    MdvError connect() { return client->connect(nettest::address("127.0.0.1")); }
    // The "realtimePort" of the latest handshake.
    int realtimePort() {
        const auto handshakes = car->requests("connection_handshake");
        return handshakes.empty() ? -1 : handshakes.back().message.value("realtimePort", -1);
    }

    client_test::RecordingListener listener;
    // Made only inside the test's own network namespace: it binds the car's fixed ports.
    std::unique_ptr<FakeCar> car;
    std::unique_ptr<MdVideoClientEpsilon> client =
        std::make_unique<MdVideoClientEpsilon>(&listener, quietTiming());
};

} // namespace epsilon_test
