// Device discovery: the answer check as a pure function, the broadcast list over stand-in
// adapters, and whole discovery runs against fake cars and the real simulator, each inside the
// test's own network namespace. Answers are built by the simulator's own writer.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <thread>

#include "carsim/discovery/discovery_answer.h"
#include "carsim/probe/car_client.h"
#include "net/broadcast_addresses.h"
#include "net/discovery.h"
#include "net/discovery_answer.h"
#include "net_test_support.h"
#include "tests/support/car_process.h"
#include "tests/support/private_network.h"

namespace {

using nettest::Bytes;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Bytes answer(const std::string& name, uint8_t kind = 0, const std::string& text16 = "",
             uint8_t idByte = 0xB6) {
    carsim::DiscoveryIdentity identity{kind, 0xBEEF, text16, "", {}, name};
    identity.bytes64.fill(idByte);
    return carsim::buildAnswer(identity);
}

sockaddr_storage ipv4(const std::string& address, uint16_t port) {
    sockaddr_storage storage{};
    const sockaddr_in in = carclient::ipv4(address, port);
    std::memcpy(&storage, &in, sizeof(in));
    return storage;
}

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

std::optional<DiscoveryRecord> parse(const Bytes& buffer, size_t received) {
    return parseDiscoveryAnswer(buffer.data(), received, ipv4("127.0.0.9", 19266));
}

TEST(DiscoveryAnswer, AcceptsOnlyAWholeAnswerWithTheStartZeroChecksum) {
    const Bytes good = answer("car");
    const auto bad = carsim::buildMalformedAnswers({}); // standard Adler start 1; length 115
    Bytes longer = good, wrongMagic = good, flipped = good;
    longer.push_back(0), wrongMagic[3] = 'N', flipped[115] ^= 1;
    const struct {
        const char* what;
        Bytes buffer;
        size_t received;
    } rejected[] = {{"standard Adler", bad[0], 116},   {"length field 115", bad[1], 116},
                    {"magic", wrongMagic, 116},        {"checksum bit", flipped, 116},
                    {"115 of a whole one", good, 115}, {"0 of a whole one", good, 0},
                    {"117 received", longer, 117}};
    EXPECT_TRUE(parse(good, 116));
    for (const auto& c : rejected) {
        EXPECT_FALSE(parse(c.buffer, c.received)) << c.what;
    }
}

TEST(DiscoveryAnswer, ReadsEveryFieldAndNoTextPastItsField) {
    carsim::DiscoveryIdentity sent{
        7, 0xBEEF, std::string(32, 'a'), "0123456789ABCDEF", {}, std::string(31, 'n') + "N"};
    sent.bytes64 = {'Z', 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const auto record = parse(carsim::buildAnswer(sent), 116);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->kind, 7u) << "kinds other than 0 and 1 are kept";
    EXPECT_EQ(record->word10, 0xBEEFu);
    EXPECT_EQ(record->text16, sent.text16);
    EXPECT_EQ(record->text48, sent.text48) << "16 characters, not the first byte of bytes64";
    EXPECT_EQ(record->name, sent.name);
    EXPECT_EQ(record->bytes64, Bytes(sent.bytes64.begin(), sent.bytes64.end()));
    EXPECT_TRUE(sameAddress(record->address, ipv4("127.0.0.9", 19266)));
    EXPECT_EQ(parse(answer(std::string("ab\0cd", 5)), 116)->name, "ab");
}

// A fake car on UDP 19266 of `addresses[0]`. `onProbe` runs on the car's thread for each probe;
// it replies from socket i, bound to addresses[i] (the first one is the listening socket).
class FakeCar {
public:
    using OnProbe = std::function<void(FakeCar&, int index)>;
    FakeCar(std::vector<std::string> addresses, OnProbe onProbe = {})
        : addresses_(std::move(addresses)), onProbe_(std::move(onProbe)) {
        sockets_.emplace_back(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const sockaddr_storage at = ipv4(addresses_[0], kDiscoveryPort);
        bound_ = ::bind(sockets_[0].get(), reinterpret_cast<const sockaddr*>(&at), 16) == 0;
        for (size_t i = 1; i < addresses_.size(); ++i) {
            sockets_.push_back(carclient::udpSocket(addresses_[i]));
        }
        thread_ = std::thread([this] { run(); });
    }
    ~FakeCar() { takeProbes(); }
    bool bound() const { return bound_; }
    void reply(size_t from, const Bytes& datagram) {
        carclient::sendDatagram(sockets_[from].get(), prober_, datagram);
    }
    sockaddr_storage address(size_t i) const {
        return ipv4(addresses_[i], carclient::localPort(sockets_[i].get()));
    }
    // Stops the car; every probe it received, including those not read yet.
    std::vector<Bytes> takeProbes() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        while (auto probe = carclient::receiveDatagram(sockets_[0].get(), 0ms)) {
            probes_.push_back(*probe);
        }
        return probes_;
    }

private:
    void run() noexcept {
        try {
            while (!stop_) {
                if (auto probe = carclient::receiveDatagram(sockets_[0].get(), 20ms, &prober_)) {
                    probes_.push_back(*probe);
                    if (onProbe_) {
                        onProbe_(*this, static_cast<int>(probes_.size()) - 1);
                    }
                }
            }
        } catch (...) {
            ADD_FAILURE() << "the fake car failed";
        }
    }

    std::vector<std::string> addresses_;
    OnProbe onProbe_;
    std::vector<carclient::Fd> sockets_;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    sockaddr_in prober_{};      // the car's thread only
    std::vector<Bytes> probes_; // the car's thread only, until joined
    std::thread thread_;
};

// The test's namespace holds loopback and what addAdapter adds (removed again at the end, for
// runs of the whole executable in one process).
class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testnet::havePrivateNetwork()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
    }
    void TearDown() override {
        for (const std::string& name : adapters_) {
            EXPECT_EQ(std::system(("ip link del " + name).c_str()), 0);
        }
    }
    // A portless bridge stands in where the kernel has no dummy interface type.
    void addAdapter(const std::string& name, const std::string& cidr) {
        const std::string command = "(ip link add " + name +
                                    " type dummy 2>/dev/null || ip link add " + name +
                                    " type bridge) && ip addr add " + cidr + " dev " + name +
                                    " && ip link set " + name + " up";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        adapters_.push_back(name);
    }
    static void setAdapterDown(const std::string& name) {
        const carclient::Fd control(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        ifreq request{};
        std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
        ASSERT_EQ(::ioctl(control.get(), SIOCGIFFLAGS, &request), 0);
        request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
        ASSERT_EQ(::ioctl(control.get(), SIOCSIFFLAGS, &request), 0);
    }

    std::vector<std::string> adapters_;
    std::vector<DiscoveryRecord> found;
};

TEST_F(Discovery, BroadcastListKeepsOnlyPrivateSubnets) {
    for (const auto& [name, cidr] : {std::pair{"dv10", "10.1.2.3/8"},
                                     {"dv11", "11.0.0.1/8"},
                                     {"dv172a", "172.16.5.1/16"},
                                     {"dv172b", "172.31.0.1/24"},
                                     {"dv172c", "172.32.0.1/24"},
                                     {"dv172d", "172.15.0.1/16"},
                                     {"dv192", "192.168.7.1/24"},
                                     {"dv192b", "192.169.0.1/16"}}) {
        addAdapter(name, cidr);
    }
    std::vector<std::string> listed;
    for (const sockaddr_storage& address : listBroadcastAddresses()) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, 16);
        EXPECT_TRUE(sameAddress(address, ipv4(text, 0))) << text << ": every other byte zero";
        listed.emplace_back(text);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"10.255.255.255", "172.16.255.255", "172.31.0.255",
                                                "192.168.7.255"}));
}

TEST_F(Discovery, ProbesTheHostAndEachPrivateBroadcastAddressAboutFourTimes) {
    addAdapter("dv10", "10.1.2.3/8");
    addAdapter("dv192", "192.168.7.1/24");
    addAdapter("dv172", "172.32.0.1/24");
    FakeCar host({"127.0.0.1"}), net10({"10.255.255.255"}), net192({"192.168.7.255"});
    FakeCar publicNet({"172.32.0.255"});
    ASSERT_TRUE(host.bound() && net10.bound() && net192.bound() && publicNet.bound());
    const int descriptors = nettest::openDescriptorCount();
    const auto start = Clock::now();
    EXPECT_FALSE(discoverDevices(found, "127.0.0.1", true, 1000));
    EXPECT_GE(Clock::now() - start, 1000ms) << "probing goes on until the time-out";
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
    const size_t passes = host.takeProbes().size();
    EXPECT_GE(passes, 2u);
    EXPECT_LE(passes, 6u);
    const Bytes probe = {'M', 'D', 'P', 'N', 0x01, 0x00, 0x00, 0x00};
    for (FakeCar* car : {&host, &net10, &net192}) {
        EXPECT_EQ(car->takeProbes(), std::vector<Bytes>(passes, probe));
    }
    EXPECT_TRUE(publicNet.takeProbes().empty());
}

TEST_F(Discovery, KeepsTheFirstAnswerOfEachDeviceAndIgnoresBadOnes) {
    const Bytes a = answer("carA", 0, "first"), aLater = answer("carA", 1, "later");
    const Bytes b = answer("carA", 1, "", 0x0B), c = answer("carC", 9); // c shares a's bytes64
    // b renamed so that its checksum stays b's: sent short, it passes only if the check also
    // reads the four checksum bytes b left behind in the buffer.
    Bytes bStale = b;
    bStale[80] += 1, bStale[81] -= 2, bStale[82] += 1;
    ASSERT_EQ(carsim::adler32(0, bStale.data(), 112), carsim::adler32(0, b.data(), 112));
    bStale.resize(112);
    const auto malformed = carsim::buildMalformedAnswers({});

    FakeCar car({"127.0.0.1", "127.0.0.2"}, [&](FakeCar& self, int index) {
        const std::vector<std::pair<size_t, Bytes>> first = {{0, malformed[0]},
                                                             {0, malformed[1]},
                                                             {0, {}},
                                                             {0, a},
                                                             {0, a},
                                                             {1, b},
                                                             {1, bStale},
                                                             {0, c}};
        const std::vector<std::pair<size_t, Bytes>> later = {{1, aLater}, {0, b}};
        for (const auto& [from, datagram] : index == 0 ? first : later) {
            self.reply(from, datagram);
        }
    });
    ASSERT_TRUE(car.bound());
    const int descriptors = nettest::openDescriptorCount();
    EXPECT_TRUE(discoverDevices(found, "127.0.0.1", true, 1000));
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
    const size_t probes = car.takeProbes().size();
    ASSERT_GE(probes, 2u) << "the later answers went out";
    EXPECT_LE(probes, 6u) << "an empty datagram does not start the next pass at once";

    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].text16, "first");
    EXPECT_TRUE(sameAddress(found[0].address, car.address(0)));
    EXPECT_EQ(found[1].bytes64, Bytes(16, 0x0B));
    EXPECT_TRUE(sameAddress(found[1].address, car.address(1)));
    EXPECT_EQ(found[2].name, "carC");
    EXPECT_EQ(found[2].kind, 9u);
}

TEST_F(Discovery, EndsInTimeWhileDatagramsKeepComing) {
    std::atomic<bool> stopFlood{false};
    FakeCar car({"127.0.0.1"}, [&](FakeCar& self, int index) {
        for (const auto limit = Clock::now() + 10s;
             index == 0 && !stopFlood && Clock::now() < limit;) {
            self.reply(0, {'j', 'u', 'n', 'k'});
        }
    });
    ASSERT_TRUE(car.bound());
    const auto start = Clock::now();
    EXPECT_FALSE(discoverDevices(found, "127.0.0.1", true, 300));
    EXPECT_LT(Clock::now() - start, 5s) << "bounded by the time-out and one receive time-out";
    stopFlood = true;
}

TEST_F(Discovery, KeepsWhatEarlierPassesFoundWhenProbesCanNoLongerLeave) {
    addAdapter("dv192", "192.168.7.1/24");
    FakeCar car({"192.168.7.255", "192.168.7.1"}, [](FakeCar& self, int index) {
        if (index == 0) {
            self.reply(1, answer("car"));
            setAdapterDown("dv192"); // no route to the broadcast address from now on
        }
    });
    ASSERT_TRUE(car.bound());
    EXPECT_TRUE(discoverDevices(found, "", true, 1000));
    EXPECT_EQ(found.size(), 1u);
}

TEST_F(Discovery, WithNothingToProbeFailsAtOnce) {
    const int descriptors = nettest::openDescriptorCount();
    const auto start = Clock::now();
    EXPECT_FALSE(discoverDevices(found, "", true, 1000)) << "loopback only: no private subnet";
    EXPECT_FALSE(discoverDevices(found, "", false, 1000));
    EXPECT_LT(Clock::now() - start, 900ms);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
}

TEST_F(Discovery, FindsTheSimulatedCarAndRejectsItsMalformedAnswers) {
    carclient::CarProcess car({"--name", "simcar", "--discovery-kind", "7", "--bad-discovery"});
    ASSERT_TRUE(car.ready());
    const carclient::InNamespace inside(car.namespaceFd());
    const int descriptors = nettest::openDescriptorCount();
    ASSERT_TRUE(discoverDevices(found, "127.0.0.1", true, 1000));
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "simcar");
    EXPECT_EQ(found[0].kind, 7u);
    EXPECT_TRUE(sameAddress(found[0].address, ipv4("127.0.0.1", kDiscoveryPort)));
}

} // namespace
