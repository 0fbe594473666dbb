// Whole sessions against the real simulator, each car in a network namespace of its own and
// reached on 127.0.0.1 from the test thread, which opens the client's sockets inside it.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

#include "client/stream_stats_collector.h"
#include "tests/epsilon/epsilon_test_support.h"
#include "tests/support/car_process.h"

namespace epsilon_test {
namespace {

using carclient::CarProcess;
using carclient::InNamespace;

constexpr size_t kReceivedBytesWord = 5;

// The requests the car's control endpoint received, from its wire log.
std::vector<json> loggedRequests(const std::string& log) {
    std::ifstream in(log);
    std::vector<json> requests;
    for (std::string line; std::getline(in, line);) {
        const json entry = json::parse(line, nullptr, false);
        if (entry.is_object() && entry.value("endpoint", "") == "tcp:8080") {
            requests.push_back(json::parse(entry.value("text", ""), nullptr, false));
        }
    }
    return requests;
}

size_t countOf(const std::vector<json>& requests, const std::string& command) {
    return static_cast<size_t>(std::count_if(requests.begin(), requests.end(), [&](const json& r) {
        return r.is_object() && r.value("command", "") == command;
    }));
}

struct Scenario {
    const char* name;
    std::vector<std::string> carArgs;
    Timing timing;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class CarsimSession : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        if (!testnet::havePrivateNetwork()) {
            GTEST_SKIP() << "needs root for network namespaces";
        }
        ASSERT_TRUE(StreamStatsCollector::replaceCurrent(std::chrono::milliseconds(100)));
    }
    void TearDown() override {
        StreamStatsCollector::destroyCurrent();
        std::filesystem::remove(log);
    }

    void startCar(std::vector<std::string> args) {
        args.insert(args.end(), {"--family", "zoderiv", "--log", log});
        car = std::make_unique<CarProcess>(std::move(args));
        ASSERT_TRUE(car->ready());
        inside = std::make_unique<InNamespace>(car->namespaceFd());
        threadsBefore = nettest::threadCount();
        descriptorsBefore = nettest::openDescriptorCount();
    }
    // Whether a statistics report satisfying `condition` comes after the ones seen so far.
    bool nextReport(client_test::RecordingListener& listener,
                    const std::function<bool(const MdvStreamStats&)>& condition) {
        const size_t seen = listener.reportsCopy().size();
        return listener.waitForReports([&](const client_test::Reports& reports) {
            return reports.size() > seen && condition(reports.back());
        });
    }

    const std::string log =
        ::testing::TempDir() + "zoderiv_wire_" + std::to_string(::getpid()) + ".jsonl";
    std::unique_ptr<CarProcess> car;
    std::unique_ptr<InNamespace> inside;
    int threadsBefore = 0;
    int descriptorsBefore = 0;
};

} // namespace

TEST_P(CarsimSession, ConnectsStreamsChangesWifiAndLeavesNothingBehind) {
    startCar(GetParam().carArgs);
    {
        client_test::RecordingListener listener;
        MdVideoClientEpsilon client(&listener, GetParam().timing);
        const sockaddr_storage carAddress = nettest::address("127.0.0.1");
        ASSERT_EQ(client.connect(carAddress), MdvErrorNone);
        EXPECT_EQ(client.cachedWifiConfig().ssid, "carsim");
        ASSERT_TRUE(
            nettest::waitFor([&] { return countOf(loggedRequests(log), "heartbeat") >= 3; }));
        EXPECT_TRUE(client.isConnected());

        ASSERT_EQ(client.startStreamingIfConnected(), 0);
        EXPECT_TRUE(nextReport(listener, [](const MdvStreamStats& report) {
            return report.words[kReceivedBytesWord] > 5000;
        })) << "no video while the stream is on";

        const json handshake = loggedRequests(log).at(0);
        ASSERT_EQ(handshake.value("command", ""), "connection_handshake");
        nettest::UdpPeer stranger; // made in the car's namespace, like the client's sockets
        ASSERT_TRUE(stranger.sendTo(handshake.value("realtimePort", uint16_t{0}), {}));
        std::vector<std::string> networks;
        EXPECT_TRUE(client.getSsidList(networks)); // two exchanges through the poll thread:
        EXPECT_TRUE(client.getSsidList(networks)); // it has read the datagram by now
        EXPECT_EQ(networks,
                  (std::vector<std::string>{"CafeFree", "HomeNet", "HomeNet", "Office-5G"}));
        EXPECT_TRUE(client.isConnected());

        ASSERT_EQ(client.stopStreamingIfConnected(), 0);
        EXPECT_TRUE(nextReport(listener, [](const MdvStreamStats& report) {
            return report.words[kReceivedBytesWord] < 1000;
        })) << "video goes on after the stream was switched off";

        MdvConfigWifi renamed = client.cachedWifiConfig();
        renamed.ssid = "renamed";
        renamed.channel = 11;
        renamed.autoChannel = false;
        EXPECT_TRUE(client.setConfigWifi(renamed));
        // Fire and forget: the request must have reached the car before the disconnect drops
        // what is still queued (the short pause of the split-answer run does not promise that).
        ASSERT_TRUE(
            nettest::waitFor([&] { return countOf(loggedRequests(log), "set_wifi_config") >= 1; }));
        client.disconnect();
        ASSERT_EQ(client.connect(carAddress), MdvErrorNone); // read back from the car
        EXPECT_EQ(client.cachedWifiConfig().ssid, "renamed");
        EXPECT_EQ(client.cachedWifiConfig().channel, 11);
        EXPECT_FALSE(client.cachedWifiConfig().autoChannel);
        client.disconnect();
        EXPECT_EQ(listener.disconnectedCalls, 2);
    }
    std::cout << "[ figures  ] threads " << threadsBefore << " -> " << nettest::threadCount()
              << ", descriptors " << descriptorsBefore << " -> " << nettest::openDescriptorCount()
              << "\n";
    EXPECT_TRUE(nettest::threadsSettleAt(threadsBefore)) << nettest::threadCount();
    EXPECT_EQ(nettest::openDescriptorCount(), descriptorsBefore);
}

INSTANTIATE_TEST_SUITE_P(Zoderiv, CarsimSession,
                         ::testing::Values(Scenario{"WholeAnswers", {}, Timing{}},
                                           Scenario{
                                               "SplitAnswers", {"--split-answers"}, briskTiming()}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace epsilon_test
