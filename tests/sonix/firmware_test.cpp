// Firmware availability, version texts and the image transfer, against an in-test car.
#include "sonix/firmware_catalogue.h"
#include "tests/sonix/sonix_test_support.h"

using nlohmann::json;
using namespace sonix_test;

namespace {

std::vector<uint8_t> imageOf(size_t size, uint8_t seed) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 11));
    }
    return image;
}

// Fills the process-wide catalogue for one test and empties it again afterwards.
struct Offer {
    Offer(std::map<int, int> versions, size_t imageSize) {
        FirmwareCatalogue::instance().replace({std::move(versions), [imageSize](int component) {
                                                   return imageOf(imageSize,
                                                                  static_cast<uint8_t>(component));
                                               }});
    }
    ~Offer() { FirmwareCatalogue::instance().clear(); }
};

// Every progress report, in order.
struct Progress {
    std::function<void(float)> callback() {
        return [this](float value) { values.push_back(value); };
    }
    bool climbsFromZeroToOne() const {
        return values.size() >= 2 && values.front() == 0.0f && values.back() == 1.0f &&
               std::is_sorted(values.begin(), values.end());
    }
    std::vector<float> values;
};

} // namespace

class SonixFirmware : public FakeCarTest {};

TEST_F(SonixFirmware, NothingIsOfferedWithoutAConnectionOrAnImage) {
    Progress progress;
    EXPECT_EQ(client->updateFirmware(progress.callback()), -1);
    EXPECT_EQ(progress.values, std::vector<float>{0.0f});
    EXPECT_TRUE(client->getFirmwareVersions().empty());
    EXPECT_FALSE(client->isFirmwareUpdateAvailable());

    connectOrFail(); // microcontroller 2.5 (0x0205), video board build 37
    EXPECT_FALSE(client->isFirmwareUpdateAvailable());
    Progress nothingToDo;
    EXPECT_EQ(client->updateFirmware(nothingToDo.callback()), 0);
    EXPECT_EQ(nothingToDo.values, (std::vector<float>{0.0f, 1.0f}));
    EXPECT_EQ(client->updateFirmware(nullptr), 0); // an empty progress function is not called
    EXPECT_EQ(car.count("sendfwbin"), 0u);

    struct Case {
        std::map<int, int> versions;
        bool available;
    };
    const Case cases[] = {
        {{{1, 0x0206}}, true},          {{{1, 0x0205}}, false}, {{{3, 38}}, true},
        {{{3, 37}, {1, 0x0206}}, true}, {{{3, 37}}, false},
    };
    for (const Case& c : cases) {
        Offer offer(c.versions, 16);
        EXPECT_EQ(client->isFirmwareUpdateAvailable(), c.available);
    }
}

TEST_F(SonixFirmware, VersionTextsAreBoundedTo127Characters) {
    json parameters = healthyAnswers()["getdeviceparameter"];
    parameters["fwversion"] = "V_" + std::string(300, '9') + "_37B_X_Y";
    car.on("getdeviceparameter", answer(parameters));
    connectOrFail();
    const auto versions = client->getFirmwareVersions();
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].second, "v" + std::string(126, '9'));
}

TEST_F(SonixFirmware, MicrocontrollerImageIsPushedWholeAndInstalledWithProgressToTheEnd) {
    int polls = 0;
    car.on("mendrel_fwupdatestatus", [&polls](const json&) {
        return std::optional<std::string>(polls++ < 3 ? R"({"resp_status":1})"
                                                      : R"({"resp_status":0})");
    });
    connectOrFail();
    probe.shortenFirmwareTimes();
    const Offer offer({{1, 0x0206}}, 300000);
    Progress progress;
    EXPECT_EQ(client->updateFirmware(progress.callback()), 0);
    EXPECT_TRUE(progress.climbsFromZeroToOne());
    EXPECT_GT(progress.values.size(), 4u); // progress in between, not just the ends
    EXPECT_EQ(car.waitForImage(), imageOf(300000, 1));
    EXPECT_EQ(car.requestsOf("sendfwbin").at(0)["fileSize"], 300000);
    EXPECT_EQ(car.count("upgradefw"), 1u);
    EXPECT_EQ(car.count("mendrel_fwupdatestatus"), 4u);
    EXPECT_TRUE(client->isConnected());
}

TEST_F(SonixFirmware, VideoBoardUpdateEndsTheConnectionToTheRestartingBoard) {
    connectOrFail();
    probe.shortenFirmwareTimes();
    const Offer offer({{3, 38}}, 4096);
    Progress progress;
    EXPECT_EQ(client->updateFirmware(progress.callback()), 0);
    EXPECT_TRUE(progress.climbsFromZeroToOne());
    EXPECT_EQ(car.waitForImage(), imageOf(4096, 3));
    EXPECT_EQ(car.count("mendrel_fwupdatestatus"), 0u); // the board is not asked
    EXPECT_TRUE(waitFor([&] { return listener.disconnects == 1; }));
}

TEST_F(SonixFirmware, AFailedTransferLeavesNoSocketBehind) {
    connectOrFail();
    probe.shortenFirmwareTimes();
    const int descriptors = nettest::openDescriptorCount();
    {
        // A car that takes the image's connection but never reads: the push stalls, gives up
        // and closes its socket. Only the car's own end stays: with the image unread, the
        // client's close never reaches it.
        car.setImageIntake(FakeCar::ImageIntake::AcceptOnly);
        const Offer large({{1, 0x0206}}, 24 << 20);
        EXPECT_EQ(client->updateFirmware(nullptr), -1);
        EXPECT_EQ(car.count("upgradefw"), 0u);
        EXPECT_EQ(nettest::openDescriptorCount(), descriptors + 1);
    }
    const Offer offer({{1, 0x0206}}, 16);
    for (const char* refusal : {R"({"resp_status":0})", R"({"resp_status":0,"port":70000})"}) {
        car.on("sendfwbin", rawAnswer(refusal));
        EXPECT_EQ(client->updateFirmware(nullptr), -1) << refusal;
    }
    EXPECT_EQ(nettest::openDescriptorCount(), descriptors + 1);
    EXPECT_TRUE(client->isConnected());
}
