// The device link: the scan's list, and which found device a link is made for.
#include <arpa/inet.h>
#include <cstring>

#include <gtest/gtest.h>

#include "client/drivon.h"
#include "client/stream_stats_collector.h"

namespace {

DiscoveryRecord device(const char* name, const char* ip, uint32_t kind) {
    DiscoveryRecord record;
    record.name = name;
    record.kind = kind;
    auto& in = reinterpret_cast<sockaddr_in&>(record.address);
    in.sin_family = AF_INET;
    in.sin_port = htons(19266);
    inet_pton(AF_INET, ip, &in.sin_addr);
    return record;
}

DeviceEntry entryOf(const DiscoveryRecord& record) {
    return DeviceEntry{record.name, record.address};
}

// A discovery pass that finds exactly these devices.
DiscoverDevices finding(std::vector<DiscoveryRecord> found) {
    return [found](std::vector<DiscoveryRecord>& records) {
        records = found;
        return !records.empty();
    };
}

struct NoFrames final : Drivon::DrivonClientInterface {
    void onVideoFrame(int32_t, int64_t, const std::vector<uint8_t>&) override {}
};

class DrivonLinkTest : public ::testing::Test {
protected:
    void TearDown() override { StreamStatsCollector::destroyCurrent(); }
    NoFrames target;
};

TEST_F(DrivonLinkTest, ScanListsNameAndAddressInDiscoveryOrder) {
    const std::vector<DiscoveryRecord> found{device("car-b", "192.168.99.3", 1),
                                             device("car-a", "192.168.99.1", 0)};
    std::vector<DeviceEntry> list{DeviceEntry{"stale", {}}};
    ASSERT_TRUE(scanDevices(list, finding(found)));
    ASSERT_EQ(list.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(list[i].name, found[i].name);
        EXPECT_EQ(std::memcmp(&list[i].address, &found[i].address, sizeof(sockaddr_storage)), 0);
    }
    EXPECT_FALSE(scanDevices(list, finding({})));
    EXPECT_TRUE(list.empty());
}

TEST_F(DrivonLinkTest, LinksOnlyTheDeviceWithTheSameNameAndAddressAndAKnownKind) {
    const DiscoveryRecord sonix = device("car", "192.168.99.1", 0);
    const DiscoveryRecord unknownTwin = device("car", "192.168.99.3", 7);
    const DiscoveryRecord zoderiv = device("other", "192.168.99.4", 1);
    const auto discover = finding({unknownTwin, sonix, zoderiv});

    // Same name, two addresses: the address decides, and with it the kind.
    EXPECT_NE(Drivon::create(entryOf(sonix), &target, discover), nullptr);
    EXPECT_EQ(Drivon::create(entryOf(unknownTwin), &target, discover), nullptr);
    EXPECT_NE(Drivon::create(entryOf(zoderiv), &target, discover), nullptr);

    // The device answered from another address since the scan, or is gone.
    EXPECT_EQ(Drivon::create(entryOf(device("car", "192.168.99.9", 0)), &target, discover),
              nullptr);
    EXPECT_EQ(Drivon::create(entryOf(sonix), &target, finding({})), nullptr);
}

TEST_F(DrivonLinkTest, EveryLinkGetsAFreshStatisticsCollectorAndStartsUnconnected) {
    const DiscoveryRecord car = device("car", "192.168.99.1", 1);
    auto first = Drivon::create(entryOf(car), &target, finding({car}));
    ASSERT_NE(first, nullptr);
    const auto firstCollector = StreamStatsCollector::current();
    ASSERT_NE(firstCollector, nullptr);
    auto second = Drivon::create(entryOf(car), &target, finding({car}));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(StreamStatsCollector::current(), firstCollector);
    EXPECT_FALSE(first->isConnected());
    first->disconnect(); // nothing to take down
    EXPECT_FALSE(first->isConnected());
}

} // namespace
