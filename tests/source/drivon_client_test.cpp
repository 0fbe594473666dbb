#include <functional>
#include <mutex>
#include <png.h>

#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/temp_config.h"

namespace {

constexpr uint32_t kGrey = 0xFF909090; // canvas pixels are 0xAABBGGRR
constexpr uint32_t kBlue = 0xFFFF0000;
constexpr std::string_view kOverflowLine = "[drivon] Buffered too many frames, clearing\n";

// 40 access units of one stream in the default colours, encoded once for all tests here.
const std::vector<std::vector<uint8_t>>& stream() {
    static const auto units = encodeH264(StreamShape{.frames = 40});
    return units;
}

// Writes width x height pixels of packed 0xAABBGGRR words as a PNG file.
void writePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint32_t>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGBA;
    writeFile(path, "");
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
}

class DrivonClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(stream().size(), 40u);
        ASSERT_NE(canvas, nullptr);
        zeb_runner_set_log_handler(&DrivonClientTest::onLog, this);
    }
    void TearDown() override {
        client.reset();
        zeb_runner_set_log_handler(nullptr, nullptr);
        zeb_canvas_destroy(canvas);
        zeb_runner_module_destroy(module);
    }

    void makeClient(zeb_module_t* handle) {
        client = DrivonClient::create(nullptr, nullptr, handle);
        ASSERT_TRUE(client);
    }
    // Delivers the next n access units of the stream.
    void deliver(int n) {
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
    std::vector<int> overflowLogLevels() {
        std::lock_guard lock(logMutex);
        return overflowLevels;
    }

    // Every pixel of the logo's rectangle at (8, 642): the logo's opaque pixels exactly, the
    // background where the logo is transparent; the pixels just outside it show background.
    void expectLogoOver(const std::function<bool(uint32_t x, uint32_t y)>& isBackground) {
        const std::string file = embeddedLogoFile();
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&image, file.data(), file.size()));
        ASSERT_EQ(image.width, 159u);
        ASSERT_EQ(image.height, 70u);
        image.format = PNG_FORMAT_RGBA;
        std::vector<uint32_t> logo(size_t{159} * 70);
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, logo.data(), 0, nullptr));
        size_t mismatches = 0;
        size_t opaque = 0;
        for (uint32_t y = 0; y < 70; ++y) {
            for (uint32_t x = 0; x < 159; ++x) {
                const uint32_t alpha = logo[y * 159 + x] >> 24;
                if (alpha == 255) {
                    ++opaque;
                    mismatches += pixel(8 + x, 642 + y) == logo[y * 159 + x] ? 0 : 1;
                } else if (alpha == 0) { // smoothed edges in between blend logo and background
                    mismatches += isBackground(8 + x, 642 + y) ? 0 : 1;
                }
            }
        }
        EXPECT_EQ(mismatches, 0u);
        EXPECT_GT(opaque, 2000u);
        EXPECT_TRUE(isBackground(7, 680) && isBackground(8 + 159, 680));
        EXPECT_TRUE(isBackground(100, 641) && isBackground(100, 712));
    }

    TempConfig config;
    zeb_module_t* module = zeb_runner_module_create("drivon");
    zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);
    std::unique_ptr<DrivonClient> client;
    size_t next = 0;

private:
    static void onLog(int level, const char* message, void* self) {
        auto* test = static_cast<DrivonClientTest*>(self);
        std::lock_guard lock(test->logMutex);
        if (message == kOverflowLine) {
            test->overflowLevels.push_back(level);
        }
    }
    std::mutex logMutex;
    std::vector<int> overflowLevels; // guarded by logMutex
};

} // namespace

TEST_F(DrivonClientTest, TheThirtyFirstQueuedPictureClearsTheQueueWithADebugLine) {
    makeClient(module);
    client->setActive(true);
    deliver(30);
    EXPECT_EQ(client->queuedPictureCount(), 30u);
    EXPECT_TRUE(overflowLogLevels().empty());
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_EQ(overflowLogLevels(), std::vector<int>{LOG_DEBUG});
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 1u);
}

TEST_F(DrivonClientTest, InactiveOrHiddenInstancesDecodeButQueueNothing) {
    makeClient(module);
    EXPECT_EQ(client->currentState(), SourceState::Scanning);
    deliver(31); // a new instance is inactive
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    client->setActive(true);
    client->setHidden(true);
    deliver(5);
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_TRUE(overflowLogLevels().empty());
    // The parameter sets came in the first access unit, delivered while inactive: the next
    // picture decodes only because decoding went on all along.
    client->setHidden(false);
    deliver(1);
    EXPECT_EQ(client->queuedPictureCount(), 1u);
}

TEST_F(DrivonClientTest, ActivateDeactivateShowAndHideEachEmptyTheQueue) {
    makeClient(module);
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

TEST_F(DrivonClientTest, ScanningAndConnectingFillTheFrameWithTheLogoOnTop) {
    writeFile(config.logoPath(), embeddedLogoFile());
    makeClient(module);
    for (const auto& [state, colour] :
         {std::pair{SourceState::Scanning, kGrey}, std::pair{SourceState::Connecting, kBlue}}) {
        client->setStateForTesting(state);
        render();
        EXPECT_EQ(pixel(0, 0), colour);
        EXPECT_EQ(pixel(640, 360), colour);
        EXPECT_EQ(pixel(1279, 719), colour);
        expectLogoOver([&](uint32_t x, uint32_t y) { return pixel(x, y) == colour; });
    }
    const zeb_canvas_stats stats = zeb_canvas_get_stats(canvas);
    EXPECT_EQ(stats.solid_fills, 2u);
    EXPECT_EQ(stats.logo_draws, 2u);
    EXPECT_EQ(stats.texture_draws, 0u);
}

TEST_F(DrivonClientTest, StreamingDrawsOnePicturePerCallAndKeepsTheLastOne) {
    const StreamShape shape;
    writeFile(config.logoPath(), embeddedLogoFile());
    makeClient(module);
    client->setActive(true);
    client->setStateForTesting(SourceState::Streaming);
    deliver(2);
    ASSERT_EQ(client->queuedPictureCount(), 2u);
    render();
    EXPECT_EQ(client->queuedPictureCount(), 1u);
    EXPECT_TRUE(shows(320, 360, shape.left) && shows(600, 10, shape.left));
    EXPECT_TRUE(shows(960, 100, shape.right));
    expectLogoOver([&](uint32_t x, uint32_t y) { return shows(x, y, shape.left); });

    render();
    render(); // empty queue: the texture keeps the last picture
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_TRUE(shows(320, 360, shape.left) && shows(960, 360, shape.right));
    const zeb_canvas_stats stats = zeb_canvas_get_stats(canvas);
    EXPECT_EQ(stats.uploads, 2u);
    EXPECT_EQ(stats.texture_draws, 3u);
    EXPECT_EQ(stats.solid_fills, 0u);
    EXPECT_EQ(stats.logo_draws, 3u);

    // Back to scanning and streaming again: the last picture is still there.
    client->setStateForTesting(SourceState::Scanning);
    render();
    EXPECT_EQ(pixel(320, 360), kGrey);
    client->setStateForTesting(SourceState::Streaming);
    render();
    EXPECT_TRUE(shows(320, 360, shape.left));
}

TEST_F(DrivonClientTest, NoLogoIsDrawnWhenItIsMissingBrokenTooTallOrHasNoPath) {
    const std::string logo = embeddedLogoFile();
    struct Case {
        const char* name;
        std::function<void()> prepare;
        bool withPath;
    };
    const Case cases[] = {
        {"missing", [] {}, true},
        {"broken", [&] { writeFile(config.logoPath(), logo.substr(0, logo.size() / 2)); }, true},
        {"713 rows",
         [&] {
             writePng(config.logoPath(), 159, 713, {159 * 713, 0xFFFFFFFF});
         },
         true},
        {"no configuration path", [&] { writeFile(config.logoPath(), logo); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(config.logoPath());
        c.prepare();
        makeClient(c.withPath ? module : nullptr);
        render();
        EXPECT_EQ(zeb_canvas_get_stats(canvas).logo_draws, 0u);
        EXPECT_EQ(pixel(8, 700), kGrey);
        EXPECT_EQ(pixel(8, 0), kGrey);
    }
}

TEST_F(DrivonClientTest, ALogoOf712RowsReachesTheTopEdge) {
    constexpr uint32_t kRed = 0xFF0000FF;
    writePng(config.logoPath(), 20, 712, std::vector<uint32_t>(20 * 712, kRed));
    makeClient(module);
    render();
    EXPECT_EQ(pixel(8, 0), kRed);
    EXPECT_EQ(pixel(27, 711), kRed);
    EXPECT_EQ(pixel(8, 712), kGrey);
    EXPECT_EQ(pixel(28, 0), kGrey);
}
