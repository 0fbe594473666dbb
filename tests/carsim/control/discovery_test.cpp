#include <set>

#include <gtest/gtest.h>

#include "carsim/discovery/discovery_answer.h"
#include "carsim/probe/car_client.h"
#include "tests/support/car_process.h"

using namespace carclient;

namespace {

// The 48-byte text fills its field: no NUL.
carsim::DiscoveryIdentity identity(const std::string& name, uint8_t kind = 0) {
    return {kind, 0x0102, "DRIVON-SX", "0123456789ABCDEF", carsim::idBytesForName(name), name};
}

} // namespace

// Every field is read back by the client's parser in tests/net; here the checksum.
TEST(DiscoveryAnswer, PassesOnlyTheStartZeroCheck) {
    Bytes answer = carsim::buildAnswer(identity("car-one", 1));
    ASSERT_EQ(answer.size(), 116u);
    EXPECT_NE(carsim::idBytesForName("car-one"), carsim::idBytesForName("car-two"));
    EXPECT_EQ(answerName(answer), "car-one");
    EXPECT_TRUE(answerValid(answer, 0));
    EXPECT_FALSE(answerValid(answer, 1));
    EXPECT_EQ(carsim::adler32(1, reinterpret_cast<const uint8_t*>("Wikipedia"), 9), 0x11E60398u);

    // A name of 32 bytes fills its field; a longer one is cut.
    answer = carsim::buildAnswer(identity(std::string(40, 'n')));
    EXPECT_EQ(answerName(answer), std::string(32, 'n'));
    EXPECT_TRUE(answerValid(answer, 0));

    std::set<std::string> names;
    for (const auto& bad : carsim::buildMalformedAnswers(identity("car1"))) {
        EXPECT_FALSE(answerValid(bad, 0));
        EXPECT_EQ(answerValid(bad, 1), answerName(bad) == "car1-badsum")
            << "the bad checksum is the standard Adler-32";
        names.insert(answerName(bad));
    }
    EXPECT_EQ(names, (std::set<std::string>{"car1-badsum", "car1-badlen"}));
}

// Answers go to the probe's sender, near-probes get none, and malformed answers come beside
// the good one, which carries the kind asked for.
TEST(DiscoveryResponder, AnswersOnlyRealProbesWithTheGoodAnswerAndTheMalformedOnes) {
    CarProcess car(
        {"--family", "zoderiv", "--name", "car8", "--bad-discovery", "--discovery-kind", "9"});
    ASSERT_TRUE(car.ready());
    InNamespace inside(car.namespaceFd());
    Fd socket = udpSocket("127.0.0.1");
    Bytes nearlyProbe = probe(), shortProbe = probe();
    nearlyProbe[4] = 2;
    shortProbe.pop_back();
    for (const Bytes& datagram : {nearlyProbe, shortProbe, probe()}) {
        sendDatagram(socket.get(), ipv4("127.0.0.1", 19266), datagram);
    }
    std::vector<Bytes> answers;
    while (auto answer =
               receiveDatagram(socket.get(), milliseconds(answers.size() < 3 ? 5000 : 300))) {
        answers.push_back(*answer);
    }
    ASSERT_EQ(answers.size(), 3u) << "only the real probe is answered";
    int valid = 0;
    for (const auto& answer : answers) {
        if (answerValid(answer, 0)) {
            ++valid;
            EXPECT_EQ(answerName(answer), "car8");
            EXPECT_EQ(answer[7], 9);
        }
    }
    EXPECT_EQ(valid, 1);
}
