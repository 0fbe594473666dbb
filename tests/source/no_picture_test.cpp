// Access units that decode to no picture must queue nothing: the decoder's buffer still holds
// the last picture, and queuing it again would show a frozen frame twice.
#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/temp_config.h"

namespace {

// The NAL units of an Annex B access unit whose type (low five bits of the header byte) is
// one of `types`, each behind a 4-byte start code. Start codes of 3 and 4 bytes are both read:
// the encoder uses 3 inside an access unit.
std::vector<uint8_t> nalUnitsOfType(const std::vector<uint8_t>& unit,
                                    std::initializer_list<uint8_t> types) {
    std::vector<size_t> payloads; // where each NAL unit's header byte is
    for (size_t i = 0; i + 3 < unit.size(); ++i) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            payloads.push_back(i + 3);
        }
    }
    std::vector<uint8_t> kept;
    for (size_t n = 0; n < payloads.size(); ++n) {
        size_t end = n + 1 < payloads.size() ? payloads[n + 1] - 3 : unit.size();
        while (end > payloads[n] && unit[end - 1] == 0) {
            --end; // the leading zero of the next 4-byte start code
        }
        const uint8_t type = unit[payloads[n]] & 0x1F;
        if (std::find(types.begin(), types.end(), type) != types.end()) {
            kept.insert(kept.end(), {0, 0, 0, 1});
            kept.insert(kept.end(), unit.begin() + static_cast<long>(payloads[n]),
                        unit.begin() + static_cast<long>(end));
        }
    }
    return kept;
}

TEST(NoPicture, AnAccessUnitWithoutAPictureQueuesNothingAndDecodingGoesOn) {
    const auto stream = encodeH264(StreamShape{.frames = 3});
    ASSERT_EQ(stream.size(), 3u);
    const std::vector<uint8_t> parameterSets = nalUnitsOfType(stream[0], {7, 8, 6});
    ASSERT_EQ(nalUnitsOfType(parameterSets, {1, 5}), std::vector<uint8_t>{}); // no slice
    ASSERT_FALSE(nalUnitsOfType(parameterSets, {7}).empty());
    std::vector<uint8_t> garbage{0, 0, 0, 1};
    garbage.resize(512, 0xFF);
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"parameter sets and SEI alone", parameterSets},
        {"access unit delimiter alone", {0, 0, 0, 1, 0x09, 0xF0}},
        {"not H.264", garbage},
        {"empty", {}},
    };
    TempConfig config;
    zeb_module_t* module = zeb_runner_module_create("drivon");
    for (const auto& [name, unit] : cases) {
        SCOPED_TRACE(name);
        std::unique_ptr<DrivonClient> client =
            DrivonClient::create(nullptr, nullptr, module, DrivonClient::SessionLoop::Off);
        ASSERT_TRUE(client);
        client->setActive(true);
        client->onVideoFrame(0, 0, stream[0]);
        ASSERT_EQ(client->queuedPictureCount(), 1u);
        client->onVideoFrame(1, 0, unit);
        EXPECT_EQ(client->queuedPictureCount(), 1u);
        client->onVideoFrame(2, 0, stream[1]);
        EXPECT_EQ(client->queuedPictureCount(), 2u);
    }
    zeb_runner_module_destroy(module);
}

} // namespace
