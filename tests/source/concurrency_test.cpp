// The source's threads as the host and a device client run them: access units delivered on a
// client thread, render calls on the graphics thread and activate, deactivate, show and hide on
// a host thread, all at once. Meant for ThreadSanitizer as much as for the plain build.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/temp_config.h"

namespace {

TEST(SourceThreads, DeliveryRenderAndHostCallsAtOnceLeaveAConsistentQueue) {
    const auto stream = encodeH264(StreamShape{.frames = 11});
    ASSERT_EQ(stream.size(), 11u);
    TempConfig config;
    zeb_module_t* module = zeb_runner_module_create("drivon");
    auto client = DrivonClient::create(nullptr, nullptr, module, DrivonClient::SessionLoop::Off);
    ASSERT_TRUE(client);
    client->setStateForTesting(SourceState::Streaming);
    client->setActive(true);
    zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);

    std::atomic<bool> delivered{false};
    std::thread frames([&] {
        for (size_t i = 0; i + 1 < stream.size(); ++i) {
            client->onVideoFrame(static_cast<int32_t>(i), 0, stream[i]);
        }
        delivered = true;
    });
    std::thread graphics([&] {
        while (!delivered) {
            zeb_canvas_begin(canvas, 0);
            client->render();
            zeb_canvas_end(canvas);
        }
    });
    for (int round = 0; !delivered; ++round) {
        client->setHidden(round % 3 == 1);
        client->setActive(round % 5 != 4);
    }
    frames.join();
    graphics.join();

    // Nothing is left behind a hide, and a picture delivered after a show is drawn.
    client->setHidden(true);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    client->setHidden(false);
    client->setActive(true);
    const uint64_t uploads = zeb_canvas_get_stats(canvas).uploads;
    client->onVideoFrame(10, 0, stream.back());
    EXPECT_EQ(client->queuedPictureCount(), 1u);
    zeb_canvas_begin(canvas, 0);
    client->render();
    zeb_canvas_end(canvas);
    EXPECT_EQ(zeb_canvas_get_stats(canvas).uploads, uploads + 1);

    client.reset();
    zeb_canvas_destroy(canvas);
    zeb_runner_module_destroy(module);
}

} // namespace
