#include <array>
#include <atomic>
#include <functional>
#include <future>
#include <png.h>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/temp_config.h"

namespace {

constexpr uint32_t kGrey = 0xFF909090; // canvas pixels are 0xAABBGGRR
constexpr uint32_t kBlue = 0xFFFF0000;
constexpr uint32_t kRed = 0xFF0000FF;
constexpr std::string_view kOverflowLine = "[drivon] Buffered too many frames, clearing\n";

// 70 access units of one stream in the default colours, encoded once for all tests here.
const std::vector<std::vector<uint8_t>>& stream() {
    static const auto units = encodeH264(StreamShape{.frames = 70});
    return units;
}

void writeSolidPng(const std::string& path, uint32_t width, uint32_t height, uint32_t colour) {
    png_image image{
        .version = PNG_IMAGE_VERSION, .width = width, .height = height, .format = PNG_FORMAT_RGBA};
    const std::vector<uint32_t> pixels(size_t{width} * height, colour);
    writeFile(path, ""); // makes the folder
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
}

// An instance made with the embedded logo in its configuration folder, rendering into a
// 1280 x 720 canvas; overflow log lines are counted.
class DrivonClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(stream().size(), 70u);
        zeb_runner_set_log_handler(
            [](int level, const char* message, void* self) {
                if (level == LOG_DEBUG && message == kOverflowLine) {
                    ++static_cast<DrivonClientTest*>(self)->overflowLines;
                }
            },
            this);
        writeFile(config.logoPath(), embeddedLogoFile());
        makeClient(module);
    }
    void TearDown() override {
        client.reset();
        zeb_runner_set_log_handler(nullptr, nullptr);
        zeb_canvas_destroy(canvas);
        zeb_runner_module_destroy(module);
    }

    void makeClient(zeb_module_t* handle) {
        client = DrivonClient::create(nullptr, nullptr, handle, DrivonClient::SessionLoop::Off);
        ASSERT_TRUE(client);
    }
    void deliver(int n) { // the next n access units of the stream
        for (int i = 0; i < n; ++i, ++next) {
            ASSERT_LT(next, stream().size());
            client->onVideoFrame(static_cast<int32_t>(next), 0, stream()[next]);
        }
    }
    void render() {
        zeb_canvas_begin(canvas, 0xFF00FF00);
        client->render();
        zeb_canvas_end(canvas);
    }
    uint32_t pixel(uint32_t x, uint32_t y) const { return zeb_canvas_pixel(canvas, x, y); }
    bool shows(uint32_t x, uint32_t y, Rgb want) const {
        return showsColour(zeb_canvas_pixels(canvas) + (size_t{y} * 1280 + x) * 4, want);
    }
    // Uploads, solid fills, logo draws and other texture draws so far.
    std::array<uint64_t, 4> draws() const {
        const zeb_canvas_stats s = zeb_canvas_get_stats(canvas);
        return {s.uploads, s.solid_fills, s.logo_draws, s.texture_draws};
    }

    // Every pixel of the logo's rectangle at (8, 642): the logo's opaque pixels exactly, the
    // background where the logo is transparent; the pixels just outside it show background.
    void expectLogoOver(const std::function<bool(uint32_t x, uint32_t y)>& isBackground) {
        const std::string file = embeddedLogoFile();
        png_image image{.version = PNG_IMAGE_VERSION};
        ASSERT_TRUE(png_image_begin_read_from_memory(&image, file.data(), file.size()));
        ASSERT_TRUE(image.width == 159 && image.height == 70);
        image.format = PNG_FORMAT_RGBA;
        std::vector<uint32_t> logo(size_t{159} * 70);
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, logo.data(), 0, nullptr));
        size_t mismatches = 0;
        size_t opaque = 0;
        for (uint32_t y = 0; y < 70; ++y) {
            for (uint32_t x = 0; x < 159; ++x) {
                const uint32_t want = logo[y * 159 + x];
                const uint32_t alpha = want >> 24; // smoothed edges in between: a blend
                opaque += alpha == 255 ? 1 : 0;
                mismatches += (alpha == 255 && pixel(8 + x, 642 + y) != want) ||
                              (alpha == 0 && !isBackground(8 + x, 642 + y));
            }
        }
        EXPECT_EQ(mismatches, 0u);
        EXPECT_GT(opaque, 2000u);
        EXPECT_TRUE(isBackground(7, 680) && isBackground(8 + 159, 680) && isBackground(100, 641) &&
                    isBackground(100, 712));
    }

    TempConfig config;
    zeb_module_t* module = zeb_runner_module_create("drivon");
    zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);
    std::unique_ptr<DrivonClient> client;
    size_t next = 0;
    std::atomic<int> overflowLines{0}; // debug lines of exactly that text
};

} // namespace

TEST_F(DrivonClientTest, QueuesWhileActiveAndVisibleAndClearsAtTheThirtyFirstPicture) {
    deliver(31); // a new instance is inactive
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    client->setActive(true);
    client->setHidden(true);
    deliver(5);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_EQ(overflowLines, 0);
    // The parameter sets came in the first access unit, delivered while inactive: the next
    // picture decodes only because decoding went on all along.
    client->setHidden(false);
    deliver(30);
    EXPECT_EQ(client->queuedPictureCount(), 30u);
    EXPECT_EQ(overflowLines, 0);
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_EQ(overflowLines, 1);
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 1u);
}

TEST_F(DrivonClientTest, ActivateDeactivateShowAndHideEachEmptyTheQueue) {
    auto expectEmptiedBy = [&](const char* name, const std::function<void()>& change) {
        SCOPED_TRACE(name);
        deliver(2);
        ASSERT_EQ(client->queuedPictureCount(), 2u);
        change();
        EXPECT_EQ(client->queuedPictureCount(), 0u);
    };
    client->setActive(true);
    expectEmptiedBy("activate", [&] { client->setActive(true); });
    expectEmptiedBy("show", [&] { client->setHidden(false); });
    expectEmptiedBy("hide", [&] { client->setHidden(true); });
    client->setHidden(false);
    expectEmptiedBy("deactivate", [&] { client->setActive(false); });
}

// A hide or deactivate (flag change, then a clear of the queue) that lands while a picture is
// being queued must find it in the queue and clear it, or be seen by the queueing: the picture
// is judged wanted under the queue's lock. Here the hide starts while the picture is judged; a
// judgement made outside the lock would let the clear finish first and the picture land after
// it. Only the buffer of a queued picture is taken.
TEST(PictureQueue, APictureBeingQueuedNeverLandsAfterAHideThatBeganMeanwhile) {
    PictureQueue queue;
    std::vector<uint8_t> picture(16, 0xAB);
    EXPECT_EQ(queue.push(picture, [] { return false; }), PictureQueue::PushResult::Unwanted);
    EXPECT_EQ(picture.size(), 16u) << "an unwanted picture stays with the caller";

    std::atomic<bool> visible{true};
    std::thread hide;
    std::promise<void> cleared;
    auto clearedFuture = cleared.get_future();
    const auto wanted = [&] {
        hide = std::thread([&] {
            visible = false;
            queue.clear();
            cleared.set_value();
        });
        // Under the lock the clear cannot finish before the push is done.
        clearedFuture.wait_for(std::chrono::milliseconds(200));
        return true; // judged before the hide
    };
    queue.push(picture, wanted);
    hide.join();
    EXPECT_EQ(queue.size(), 0u);
    // What the hide cleared became a spare buffer for the decoder.
    EXPECT_EQ(queue.takeSpare().size(), 16u);
}

// Rendered pictures go back to the decoder as buffers to convert into, a few at most, so a
// running stream allocates nothing per picture.
TEST(PictureQueue, RenderedPicturesComeBackAsSpareBuffers) {
    PictureQueue queue;
    const auto always = [] { return true; };
    std::vector<const uint8_t*> buffers;
    for (size_t i = 0; i <= PictureQueue::kMaxSpares; ++i) {
        std::vector<uint8_t> picture(8, static_cast<uint8_t>(i));
        buffers.push_back(picture.data());
        ASSERT_EQ(queue.push(picture, always), PictureQueue::PushResult::Queued);
        EXPECT_TRUE(picture.empty()) << "moved in, not copied";
    }
    for (size_t i = 0; i <= PictureQueue::kMaxSpares; ++i) {
        std::optional<std::vector<uint8_t>> picture = queue.takeFront();
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->data(), buffers[i]);
        queue.recycle(std::move(*picture));
    }
    std::vector<const uint8_t*> spares;
    for (std::vector<uint8_t> spare; !(spare = queue.takeSpare()).empty();) {
        spares.push_back(spare.data());
    }
    EXPECT_EQ(spares.size(), PictureQueue::kMaxSpares);
    EXPECT_EQ(spares.front(), buffers[PictureQueue::kMaxSpares - 1]) << "the latest comes first";
}

TEST_F(DrivonClientTest, ScanningAndConnectingFillTheFrameWithTheLogoOnTop) {
    EXPECT_EQ(client->currentState(), SourceState::Scanning);
    for (const auto& [state, colour] :
         {std::pair{SourceState::Scanning, kGrey}, std::pair{SourceState::Connecting, kBlue}}) {
        client->setStateForTesting(state);
        render();
        EXPECT_TRUE(pixel(0, 0) == colour && pixel(640, 360) == colour);
        EXPECT_EQ(pixel(1279, 719), colour);
        expectLogoOver([&](uint32_t x, uint32_t y) { return pixel(x, y) == colour; });
    }
    EXPECT_EQ(draws(), (std::array<uint64_t, 4>{0, 2, 2, 0}));
}

// Two pictures of different colours: the first queued is drawn first, and each was queued as a
// copy, not as the decoder's buffer that the second overwrote.
TEST_F(DrivonClientTest, StreamingDrawsOnePicturePerCallAndKeepsTheLastOne) {
    const StreamShape first;
    const StreamShape second{.left = {30, 200, 90}, .right = {250, 250, 120}};
    const auto secondUnits = encodeH264(second);
    ASSERT_EQ(secondUnits.size(), 1u);
    client->setActive(true);
    client->setStateForTesting(SourceState::Streaming);
    deliver(1);
    client->onVideoFrame(1, 0, secondUnits[0]); // with parameter sets of its own
    render();
    EXPECT_EQ(client->queuedPictureCount(), 1u);
    EXPECT_TRUE(shows(320, 360, first.left) && shows(960, 100, first.right));
    expectLogoOver([&](uint32_t x, uint32_t y) { return shows(x, y, first.left); });
    render();
    render(); // empty queue: the texture keeps the last picture
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_TRUE(shows(320, 360, second.left) && shows(960, 360, second.right));
    EXPECT_EQ(draws(), (std::array<uint64_t, 4>{2, 0, 3, 3}));
    // Back to scanning and streaming again: the last picture is still there.
    client->setStateForTesting(SourceState::Scanning);
    render();
    EXPECT_EQ(pixel(320, 360), kGrey);
    client->setStateForTesting(SourceState::Streaming);
    render();
    EXPECT_TRUE(shows(320, 360, second.left));
}

// A logo that would not fit in the frame above its 8-pixel margin, or has no texture, is left
// out; one of 712 rows just fits.
TEST_F(DrivonClientTest, TheLogoIsDrawnOnlyWhenItLoadsAndFits) {
    const std::string logo = embeddedLogoFile();
    const std::string& path = config.logoPath();
    // Name, set-up, module handle, and what (8, 0) and (8, 700) show.
    const std::tuple<const char*, std::function<void()>, zeb_module_t*, uint32_t> cases[] = {
        {"missing", [&] { std::filesystem::remove(path); }, module, kGrey},
        {"broken", [&] { writeFile(path, logo.substr(0, logo.size() / 2)); }, module, kGrey},
        {"713 rows", [&] { writeSolidPng(path, 159, 713, kRed); }, module, kGrey},
        {"no configuration path", [&] { writeFile(path, logo); }, nullptr, kGrey},
        {"712 rows", [&] { writeSolidPng(path, 20, 712, kRed); }, module, kRed},
    };
    for (const auto& [name, prepare, handle, leftEdge] : cases) {
        SCOPED_TRACE(name);
        prepare();
        makeClient(handle);
        const uint64_t logoDraws = draws()[2];
        render();
        EXPECT_EQ(draws()[2] - logoDraws, leftEdge == kRed);
        EXPECT_TRUE(pixel(8, 0) == leftEdge && pixel(8, 700) == leftEdge);
        EXPECT_TRUE(pixel(27, 711) == leftEdge && pixel(7, 0) == kGrey);
        EXPECT_TRUE(pixel(28, 0) == kGrey && pixel(8, 712) == kGrey);
    }
}
