// The module-wide claim set and an instance's passed-over devices: which device a session loop
// takes from a scan.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "source/claim_set.h"
#include "source/pass_over_list.h"

namespace {

DeviceEntry device(const char* name, uint8_t lastByte) {
    DeviceEntry entry{name, {}};
    auto& in = reinterpret_cast<sockaddr_in&>(entry.address);
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(0xC0A86300u | lastByte);
    return entry;
}

const auto avoidNone = [](const DeviceEntry&) { return false; };

TEST(ClaimSet, SecondInstanceSkipsTheClaimedDeviceAndTakesTheNext) {
    ClaimSet claims;
    const std::vector<DeviceEntry> scan{device("car1", 1), device("car2", 3)};
    std::vector<std::string> inUse;
    ASSERT_EQ(claims.claimFirstFree(scan, avoidNone, inUse)->name, "car1");
    EXPECT_TRUE(inUse.empty());
    ASSERT_EQ(claims.claimFirstFree(scan, avoidNone, inUse)->name, "car2");
    EXPECT_EQ(inUse, std::vector<std::string>{"car1"});
    // Everything claimed: nothing taken, every skipped name reported once.
    inUse.clear();
    EXPECT_FALSE(claims.claimFirstFree(scan, avoidNone, inUse));
    EXPECT_EQ(inUse, (std::vector<std::string>{"car1", "car2"}));
    // Released, the device is free again at once.
    claims.release("car1");
    EXPECT_FALSE(claims.isClaimed("car1"));
    inUse.clear();
    EXPECT_EQ(claims.claimFirstFree(scan, avoidNone, inUse)->name, "car1");
}

TEST(ClaimSet, PassedOverDeviceIsTakenOnlyWhenNothingElseIsFree) {
    ClaimSet claims;
    const DeviceEntry broken = device("broken", 1);
    const DeviceEntry good = device("good", 3);
    const auto avoidBroken = [&](const DeviceEntry& e) { return e.name == broken.name; };
    std::vector<std::string> inUse;
    EXPECT_EQ(claims.claimFirstFree({broken, good}, avoidBroken, inUse)->name, "good");
    EXPECT_FALSE(claims.isClaimed("broken"));
    // The good one is claimed by now: the passed-over device is the only free one left.
    EXPECT_EQ(claims.claimFirstFree({broken, good}, avoidBroken, inUse)->name, "broken");
}

TEST(PassOverList, RemembersNameAndAddressForTenSeconds) {
    PassOverList list;
    const DeviceEntry car = device("car", 1);
    list.add(car, 1000);
    EXPECT_TRUE(list.contains(car, 1000));
    EXPECT_TRUE(list.contains(car, 1000 + PassOverList::kPassOverNs - 1));
    EXPECT_FALSE(list.contains(device("car", 2), 1000)) << "another address is another device";
    EXPECT_FALSE(list.contains(device("other", 1), 1000));
    EXPECT_FALSE(list.contains(car, 1000 + PassOverList::kPassOverNs));
}

} // namespace
