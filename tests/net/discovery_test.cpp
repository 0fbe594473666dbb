// Device discovery: the answer check as a pure function, the broadcast list over stand-in
// adapters, and whole discovery runs against fake cars and the real simulator, each inside the
// test's own network namespace.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <thread>

#include "carsim/probe/car_client.h"
#include "net/adler32.h"
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

const Bytes kProbeOnWire = {'M', 'D', 'P', 'N', 0x01, 0x00, 0x00, 0x00};

struct Answer {
    uint8_t kind = 0;
    uint16_t word10 = 0;
    std::string text16, text48, name = "car";
    Bytes bytes64 = Bytes(16, 0xB6);
    uint16_t length = 116;
    uint32_t checksumStart = 0;

    Bytes build() const {
        Bytes d(116, 0);
        std::memcpy(d.data(), "MDPR", 4);
        d[4] = static_cast<uint8_t>(length), d[5] = static_cast<uint8_t>(length >> 8);
        d[7] = kind;
        d[10] = static_cast<uint8_t>(word10), d[11] = static_cast<uint8_t>(word10 >> 8);
        std::memcpy(&d[16], text16.data(), std::min<size_t>(text16.size(), 32));
        std::memcpy(&d[48], text48.data(), std::min<size_t>(text48.size(), 16));
        std::memcpy(&d[64], bytes64.data(), 16);
        std::memcpy(&d[80], name.data(), std::min<size_t>(name.size(), 32));
        const uint32_t sum = adler32(checksumStart, d.data(), 112);
        for (int i = 0; i < 4; ++i) {
            d[112 + static_cast<size_t>(i)] = static_cast<uint8_t>(sum >> (8 * i));
        }
        return d;
    }
};

sockaddr_storage ipv4(const char* address, uint16_t port) {
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
    const Bytes good = Answer{}.build();
    Bytes longer = good;
    longer.push_back(0);
    Bytes wrongMagic = good;
    wrongMagic[3] = 'N';
    Bytes flipped = good;
    flipped[115] ^= 0x01;
    const struct {
        const char* what;
        Bytes buffer;
        size_t received;
        bool accepted;
    } cases[] = {
        {"valid", good, 116, true},
        {"standard Adler start 1", Answer{.checksumStart = 1}.build(), 116, false},
        {"length field 115, checksum valid", Answer{.length = 115}.build(), 116, false},
        {"magic", wrongMagic, 116, false},
        {"checksum bit", flipped, 116, false},
        {"115 received over a whole answer", good, 115, false},
        {"empty datagram over a whole answer", good, 0, false},
        {"117 received", longer, 117, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.buffer, c.received).has_value(), c.accepted) << c.what;
    }
}

TEST(DiscoveryAnswer, ReadsEveryFieldAndNoTextPastItsField) {
    const Answer sent{.kind = 7,
                      .word10 = 0xBEEF,
                      .text16 = std::string(32, 'a'),
                      .text48 = "0123456789ABCDEF",
                      .name = std::string(31, 'n') + "N",
                      .bytes64 = {'Z', 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
    const auto record = parse(sent.build(), 116);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->kind, 7u) << "kinds other than 0 and 1 are kept";
    EXPECT_EQ(record->word10, 0xBEEFu);
    EXPECT_EQ(record->text16, sent.text16);
    EXPECT_EQ(record->text48, sent.text48) << "16 characters, not the first byte of bytes64";
    EXPECT_EQ(record->name, sent.name);
    EXPECT_EQ(record->bytes64, sent.bytes64);
    EXPECT_TRUE(sameAddress(record->address, ipv4("127.0.0.9", 19266)));
    EXPECT_EQ(parse(Answer{.name = std::string("ab\0cd", 5)}.build(), 116)->name, "ab");
}

// A fake car on UDP 19266 of one address. `onProbe` runs on the car's thread for each probe and
// may reply from the listening socket (0) or from a socket on each of `replyAddresses` (1...).
class FakeCar {
public:
    using OnProbe = std::function<void(FakeCar&, int index)>;

    FakeCar(const char* address, std::vector<const char*> replyAddresses, OnProbe onProbe)
        : onProbe_(std::move(onProbe)), replyAddresses_(std::move(replyAddresses)) {
        replyAddresses_.insert(replyAddresses_.begin(), address);
        sockets_.emplace_back(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const sockaddr_storage bound = ipv4(address, kDiscoveryPort);
        bound_ = ::bind(sockets_[0].get(), reinterpret_cast<const sockaddr*>(&bound),
                        sizeof(sockaddr_in)) == 0;
        for (const char* reply : std::vector(replyAddresses_.begin() + 1, replyAddresses_.end())) {
            sockets_.push_back(carclient::udpSocket(reply));
        }
        thread_ = std::thread([this] { run(); });
    }
    ~FakeCar() { takeProbes(); }
    bool bound() const { return bound_; }

    void reply(size_t from, const Bytes& datagram) {
        carclient::sendDatagram(sockets_[from].get(), prober_, datagram);
    }
    sockaddr_storage replyAddress(size_t from) const {
        return ipv4(replyAddresses_[from], carclient::localPort(sockets_[from].get()));
    }
    // Stops the car; every probe it received, including any not yet read.
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
                sockaddr_in from{};
                if (auto probe = carclient::receiveDatagram(sockets_[0].get(), 20ms, &from)) {
                    probes_.push_back(*probe);
                    prober_ = from;
                    onProbe_(*this, static_cast<int>(probes_.size()) - 1);
                }
            }
        } catch (...) {
            ADD_FAILURE() << "the fake car failed";
        }
    }

    OnProbe onProbe_;
    std::vector<const char*> replyAddresses_; // the listening address first
    std::vector<carclient::Fd> sockets_;
    std::atomic<bool> stop_{false};
    bool bound_ = false;
    sockaddr_in prober_{};
    std::vector<Bytes> probes_; // the car's thread only, until joined
    std::thread thread_;
};

// Runs in the test's own namespace, whose only interfaces are loopback and what `addAdapter`
// adds (removed again at the end, for runs of the whole executable in one process).
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
    void setAdapterDown(const std::string& name) {
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
    const std::pair<const char*, const char*> adapters[] = {
        {"dv10", "10.1.2.3/8"},       {"dv172a", "172.16.5.1/16"}, {"dv172b", "172.31.0.1/24"},
        {"dv172c", "172.32.0.1/24"},  {"dv172d", "172.15.0.1/16"}, {"dv192", "192.168.7.1/24"},
        {"dv192b", "192.169.0.1/16"}, {"dv11", "11.0.0.1/8"}};
    for (const auto& [name, cidr] : adapters) {
        addAdapter(name, cidr);
    }
    std::vector<std::string> listed;
    for (const sockaddr_storage& address : listBroadcastAddresses()) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
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
    const auto silent = [](FakeCar&, int) {};
    std::vector<std::unique_ptr<FakeCar>> listeners;
    for (const char* address : {"127.0.0.1", "10.255.255.255", "192.168.7.255"}) {
        listeners.push_back(std::make_unique<FakeCar>(address, std::vector<const char*>{}, silent));
        ASSERT_TRUE(listeners.back()->bound());
    }
    FakeCar publicSubnet("172.32.0.255", {}, silent);

    const int descriptors = nettest::openDescriptorCount();
    const auto start = Clock::now();
    EXPECT_FALSE(discoverDevices(found, "127.0.0.1", true, 1000));
    EXPECT_GE(Clock::now() - start, 1000ms) << "probing goes on until the time-out";
    const size_t passes = listeners[0]->takeProbes().size();
    EXPECT_GE(passes, 2u);
    EXPECT_LE(passes, 6u);
    for (auto& listener : listeners) {
        EXPECT_EQ(listener->takeProbes(), std::vector<Bytes>(passes, kProbeOnWire));
    }
    EXPECT_TRUE(publicSubnet.takeProbes().empty());
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
}

TEST_F(Discovery, KeepsTheFirstAnswerOfEachDeviceAndIgnoresBadOnes) {
    const Answer a{.kind = 0, .text16 = "first", .name = "carA"};
    const Answer aLater{.kind = 1, .text16 = "later", .name = "carA"};
    const Answer b{.kind = 1, .name = "carA", .bytes64 = Bytes(16, 0x0B)};
    const Answer c{.kind = 9, .name = "carC"}; // a's bytes64, another name
    // b with its name changed so that the checksum stays b's: sent short, it passes only if the
    // check also reads the four checksum bytes b left behind in the buffer.
    Bytes bStale = b.build();
    bStale[80] += 1, bStale[81] -= 2, bStale[82] += 1;
    ASSERT_EQ(adler32(0, bStale.data(), 112), adler32(0, b.build().data(), 112));
    bStale.resize(112);

    FakeCar car("127.0.0.1", {"127.0.0.2"}, [&](FakeCar& self, int index) {
        if (index == 0) {
            for (const Bytes& d :
                 {Answer{.name = "badsum", .checksumStart = 1}.build(),
                  Answer{.name = "badlen", .length = 115}.build(), Bytes{}, a.build(), a.build()}) {
                self.reply(0, d);
            }
            self.reply(1, b.build());
            self.reply(1, bStale);
            self.reply(0, c.build());
        } else {
            self.reply(1, aLater.build());
            self.reply(0, b.build());
        }
    });
    ASSERT_TRUE(car.bound());
    const int descriptors = nettest::openDescriptorCount();
    EXPECT_TRUE(discoverDevices(found, "127.0.0.1", true, 1000));
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
    const std::vector<Bytes> probes = car.takeProbes();
    ASSERT_GE(probes.size(), 2u) << "the later answers went out";
    EXPECT_LE(probes.size(), 6u) << "an empty datagram does not start the next pass at once";

    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].text16, "first");
    EXPECT_TRUE(sameAddress(found[0].address, car.replyAddress(0)));
    EXPECT_EQ(found[1].bytes64, b.bytes64);
    EXPECT_TRUE(sameAddress(found[1].address, car.replyAddress(1)));
    EXPECT_EQ(found[2].name, "carC");
    EXPECT_EQ(found[2].kind, 9u);
}

TEST_F(Discovery, EndsInTimeWhileDatagramsKeepComing) {
    std::atomic<bool> stopFlood{false};
    FakeCar car("127.0.0.1", {}, [&](FakeCar& self, int index) {
        const auto limit = Clock::now() + 10s;
        while (index == 0 && !stopFlood && Clock::now() < limit) {
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
    FakeCar car("192.168.7.255", {"192.168.7.1"}, [&](FakeCar& self, int index) {
        if (index == 0) {
            self.reply(1, Answer{}.build());
            setAdapterDown("dv192"); // the broadcast address has no route from now on
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
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "simcar");
    EXPECT_EQ(found[0].kind, 7u);
    EXPECT_TRUE(sameAddress(found[0].address, ipv4("127.0.0.1", kDiscoveryPort)));
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors);
}

} // namespace
