#include <gtest/gtest.h>

#include "source/picture_queue.h"

namespace {
std::vector<uint8_t> picture(uint8_t tag) {
    return std::vector<uint8_t>(16, tag);
}
} // namespace

TEST(PictureQueue, ThirtyPicturesStayAndTheThirtyFirstClearsTheQueue) {
    PictureQueue queue;
    for (uint8_t i = 1; i <= PictureQueue::kMaxQueuedFrames; ++i) {
        ASSERT_EQ(queue.push(picture(i)), PictureQueue::PushResult::Queued);
    }
    EXPECT_EQ(queue.size(), 30u);
    EXPECT_EQ(queue.push(picture(31)), PictureQueue::PushResult::Cleared);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_FALSE(queue.takeFront());
    // The limit counts afresh after a clearing.
    EXPECT_EQ(queue.push(picture(32)), PictureQueue::PushResult::Queued);
    EXPECT_EQ(queue.size(), 1u);
}

TEST(PictureQueue, TakesPicturesOldestFirstAsCopiesOfWhatWasPushed) {
    PictureQueue queue;
    std::vector<uint8_t> buffer = picture(1);
    queue.push(buffer);
    buffer.assign(16, 2); // the decoder reuses its buffer for the next picture
    queue.push(buffer);
    EXPECT_EQ(queue.takeFront(), picture(1));
    EXPECT_EQ(queue.takeFront(), picture(2));
    EXPECT_FALSE(queue.takeFront());
}

TEST(PictureQueue, ClearDropsEverything) {
    PictureQueue queue;
    queue.push(picture(1));
    queue.push(picture(2));
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_FALSE(queue.takeFront());
}
