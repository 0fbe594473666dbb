#include <gtest/gtest.h>

#include "source/picture_queue.h"

namespace {
std::vector<uint8_t> picture(uint8_t tag) {
    return std::vector<uint8_t>(16, tag);
}
} // namespace

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
