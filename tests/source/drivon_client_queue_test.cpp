#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/source_test_host.h"

namespace {

const char* const kOverflowLine = "[drivon] Buffered too many frames, clearing\n";

// 40 access units of one stream, encoded once for all tests here.
const std::vector<std::vector<uint8_t>>& stream() {
    static const std::vector<std::vector<uint8_t>> units = [] {
        StreamShape shape;
        shape.frames = 40;
        return encodeH264(shape);
    }();
    return units;
}

class DrivonClientQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(stream().size(), 40u);
        client = DrivonClient::create(nullptr, nullptr, config.module());
        ASSERT_TRUE(client);
        EXPECT_EQ(client->currentState(), SourceState::Scanning);
    }

    // Delivers the next n access units of the stream.
    void deliver(int n) {
        for (int i = 0; i < n; ++i) {
            ASSERT_LT(next, stream().size());
            client->onVideoFrame(static_cast<int32_t>(next), 0, stream()[next]);
            ++next;
        }
    }

    TempConfig config;
    LogCapture log;
    std::unique_ptr<DrivonClient> client;
    size_t next = 0;
};

} // namespace

TEST_F(DrivonClientQueue, TheThirtyFirstQueuedPictureClearsTheQueueWithADebugLine) {
    client->setActive(true);
    deliver(30);
    EXPECT_EQ(client->queuedPictureCount(), 30u);
    EXPECT_EQ(log.count(kOverflowLine), 0u);

    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    ASSERT_EQ(log.count(kOverflowLine), 1u);
    for (const LogLine& line : log.lines()) {
        if (line.text == kOverflowLine) {
            EXPECT_EQ(line.level, LOG_DEBUG);
        }
    }
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 1u);
}

TEST_F(DrivonClientQueue, InactiveOrHiddenInstancesDecodeButQueueNothing) {
    // A new instance is inactive.
    deliver(31);
    EXPECT_EQ(client->queuedPictureCount(), 0u);

    client->setActive(true);
    client->setHidden(true);
    deliver(5);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_EQ(log.count(kOverflowLine), 0u);

    // The parameter sets came in the first access unit, delivered while inactive: the next
    // picture decodes only because decoding went on all along.
    client->setHidden(false);
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 1u);
}

TEST_F(DrivonClientQueue, ActivateDeactivateShowAndHideEachEmptyTheQueue) {
    client->setActive(true);
    deliver(2);
    ASSERT_EQ(client->queuedPictureCount(), 2u);
    client->setActive(true); // activate
    EXPECT_EQ(client->queuedPictureCount(), 0u);

    deliver(2);
    ASSERT_EQ(client->queuedPictureCount(), 2u);
    client->setHidden(false); // show
    EXPECT_EQ(client->queuedPictureCount(), 0u);

    deliver(2);
    ASSERT_EQ(client->queuedPictureCount(), 2u);
    client->setHidden(true); // hide
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    client->setHidden(false);

    deliver(2);
    ASSERT_EQ(client->queuedPictureCount(), 2u);
    client->setActive(false); // deactivate
    EXPECT_EQ(client->queuedPictureCount(), 0u);
}
