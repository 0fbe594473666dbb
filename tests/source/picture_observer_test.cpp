// The measurement hook: each picture is reported by its access unit's timestamp when it arrives,
// when it is queued and when render uploads it, and the timestamp travels with the picture
// through the queue.
#include <vector>

#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/temp_config.h"

namespace {

struct Recorder final : PictureObserver {
    std::vector<int64_t> arrived, queued, uploaded;
    void onFrameArrived(int64_t t, const std::vector<uint8_t>&) noexcept override {
        arrived.push_back(t);
    }
    void onPictureQueued(int64_t t) noexcept override { queued.push_back(t); }
    void onPictureUploaded(int64_t t) noexcept override { uploaded.push_back(t); }
};

TEST(PictureObserver, EachPictureKeepsItsTimestampFromArrivalToUpload) {
    const auto units = encodeH264(StreamShape{.frames = 4});
    ASSERT_EQ(units.size(), 4u);
    TempConfig config;
    zeb_module_t* module = zeb_runner_module_create("drivon");
    auto client = DrivonClient::create(nullptr, nullptr, module, DrivonClient::SessionLoop::Off);
    ASSERT_TRUE(client);
    Recorder recorder;
    client->setPictureObserver(&recorder);
    client->setStateForTesting(SourceState::Streaming);
    zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);
    const auto renderOnce = [&] {
        zeb_canvas_begin(canvas, 0);
        client->render();
        zeb_canvas_end(canvas);
    };

    // Inactive: decoded and reported as arrived, never queued.
    client->onVideoFrame(0, 100, units[0]);
    client->setActive(true);
    client->onVideoFrame(1, 200, units[1]);
    client->onVideoFrame(2, 300, units[2]);
    renderOnce();
    // A hide discards what waits: 300 is never uploaded.
    client->setHidden(true);
    client->setHidden(false);
    client->onVideoFrame(3, 400, units[3]);
    renderOnce();
    renderOnce(); // nothing left: no report

    EXPECT_EQ(recorder.arrived, (std::vector<int64_t>{100, 200, 300, 400}));
    EXPECT_EQ(recorder.queued, (std::vector<int64_t>{200, 300, 400}));
    EXPECT_EQ(recorder.uploaded, (std::vector<int64_t>{200, 400}));

    client.reset();
    zeb_canvas_destroy(canvas);
    zeb_runner_module_destroy(module);
}

} // namespace
