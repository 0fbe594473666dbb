#include <cstring>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "carsim/probe/car_client.h"
#include "car_process.h"
#include "carsim/discovery_answer.h"

using namespace carclient;

namespace {

carsim::DiscoveryIdentity identity(const std::string& name, uint8_t kind = 0) {
    carsim::DiscoveryIdentity id;
    id.kind = kind;
    id.word10 = 0x0102;
    id.text16 = "DRIVON-SX";
    id.text48 = "0123456789ABCDEF"; // fills the field: no NUL
    id.bytes64 = carsim::idBytesForName(name);
    id.name = name;
    return id;
}

std::vector<Bytes> probeAndCollect(int socket, size_t atLeast) {
    sendDatagram(socket, ipv4("127.0.0.1", 19266), probe());
    std::vector<Bytes> answers;
    while (auto answer =
               receiveDatagram(socket, milliseconds(answers.size() < atLeast ? 5000 : 300))) {
        answers.push_back(*answer);
    }
    return answers;
}

} // namespace

TEST(DiscoveryChecksum, AgreesWithAnIndependentAdlerForBothStartValues) {
    const char* text = "Wikipedia";
    EXPECT_EQ(carsim::adler32(1, reinterpret_cast<const uint8_t*>(text), 9), 0x11E60398u);
    std::mt19937 random(7);
    for (size_t size : {0u, 1u, 112u, 5553u, 70000u}) {
        Bytes data(size);
        for (auto& b : data) {
            b = static_cast<uint8_t>(random());
        }
        for (uint32_t start : {0u, 1u}) {
            EXPECT_EQ(carsim::adler32(start, data.data(), size), adler(start, data.data(), size))
                << "size " << size << " start " << start;
        }
    }
}

TEST(DiscoveryAnswer, HasTheFixedLayoutAndPassesOnlyTheStartZeroCheck) {
    Bytes answer = carsim::buildAnswer(identity("car-one", 1));
    ASSERT_EQ(answer.size(), 116u);
    EXPECT_EQ(std::memcmp(answer.data(), "MDPR", 4), 0);
    EXPECT_EQ(answer[4] | answer[5] << 8, 116);
    EXPECT_EQ(answer[7], 1);
    EXPECT_EQ(answer[10] | answer[11] << 8, 0x0102);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&answer[48]), 16), "0123456789ABCDEF");
    EXPECT_EQ(answer[64], carsim::idBytesForName("car-one")[0]);
    EXPECT_EQ(answerName(answer), "car-one");
    EXPECT_TRUE(answerValid(answer, 0));
    EXPECT_FALSE(answerValid(answer, 1));
}

TEST(DiscoveryAnswer, IdBytesAreStablePerNameAndDifferBetweenNames) {
    EXPECT_EQ(carsim::idBytesForName("car1"), carsim::idBytesForName("car1"));
    EXPECT_NE(carsim::idBytesForName("car1"), carsim::idBytesForName("car2"));
}

TEST(DiscoveryAnswer, AThirtyTwoByteNameFillsItsFieldAndALongerOneIsCut) {
    std::string name(40, 'n');
    Bytes answer = carsim::buildAnswer(identity(name));
    EXPECT_EQ(answerName(answer), std::string(32, 'n'));
    EXPECT_TRUE(answerValid(answer, 0));
}

TEST(DiscoveryAnswer, MalformedAnswersFailTheClientChecksUnderNamesOfTheirOwn) {
    auto bad = carsim::buildMalformedAnswers(identity("car1"));
    ASSERT_EQ(bad.size(), 2u);
    std::set<std::string> names;
    for (const auto& answer : bad) {
        EXPECT_FALSE(answerValid(answer, 0));
        names.insert(answerName(answer));
    }
    EXPECT_EQ(names, (std::set<std::string>{"car1-badsum", "car1-badlen"}));
    EXPECT_TRUE(answerValid(bad[0], 1)) << "the bad checksum is the standard Adler-32";
}

TEST(DiscoveryResponder, AnswersAProbeToItsSenderAndIgnoresOtherDatagrams) {
    CarProcess car({"--family", "zoderiv", "--name", "car7"});
    ASSERT_TRUE(car.ready());
    InNamespace inside(car.namespaceFd());
    Fd socket = udpSocket("127.0.0.1");

    Bytes nearlyProbe = probe();
    nearlyProbe[4] = 2;
    sendDatagram(socket.get(), ipv4("127.0.0.1", 19266), nearlyProbe);
    Bytes shortProbe = probe();
    shortProbe.pop_back();
    sendDatagram(socket.get(), ipv4("127.0.0.1", 19266), shortProbe);
    auto answers = probeAndCollect(socket.get(), 1);
    ASSERT_EQ(answers.size(), 1u) << "only the real probe is answered";
    EXPECT_TRUE(answerValid(answers[0], 0));
    EXPECT_FALSE(answerValid(answers[0], 1));
    EXPECT_EQ(answers[0][7], 1);
    EXPECT_EQ(answerName(answers[0]), "car7");
}

TEST(DiscoveryResponder, SendsMalformedAnswersBesideTheGoodOneAndAnyKindAskedFor) {
    CarProcess car({"--name", "car8", "--bad-discovery", "--discovery-kind", "9"});
    ASSERT_TRUE(car.ready());
    InNamespace inside(car.namespaceFd());
    Fd socket = udpSocket("127.0.0.1");
    auto answers = probeAndCollect(socket.get(), 3);
    ASSERT_EQ(answers.size(), 3u);
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
