#include <gtest/gtest.h>

#include "module/logo_image.h"
#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/source_test_host.h"

namespace {

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 720;
constexpr uint32_t kGrey = 0xFF909090; // canvas pixels are 0xAABBGGRR
constexpr uint32_t kBlue = 0xFFFF0000;
constexpr uint32_t kClear = 0xFF00FF00; // what the canvas starts each render with

uint32_t packed(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool near(uint32_t pixel, Rgb want) {
    auto close = [](uint32_t v, uint8_t w) { return std::abs(int(v & 0xFF) - int{w}) <= 10; };
    return close(pixel, want.r) && close(pixel >> 8, want.g) && close(pixel >> 16, want.b) &&
           (pixel >> 24) == 0xFF;
}

class DrivonClientRender : public ::testing::Test {
protected:
    void SetUp() override {
        canvas = zeb_canvas_create(kWidth, kHeight);
        ASSERT_NE(canvas, nullptr);
    }
    void TearDown() override { zeb_canvas_destroy(canvas); }

    void makeClient() {
        client = DrivonClient::create(nullptr, nullptr, config.module());
        ASSERT_TRUE(client);
    }

    void render() {
        zeb_canvas_begin(canvas, kClear);
        client->render();
        zeb_canvas_end(canvas);
    }

    uint32_t pixel(uint32_t x, uint32_t y) const { return zeb_canvas_pixel(canvas, x, y); }

    // Every pixel of the logo's rectangle at (8, 642): the logo's opaque pixels exactly, the
    // background where the logo is transparent; the pixels just outside it show background.
    template <typename IsBackground>
    void expectLogoOver(IsBackground isBackground) {
        const RgbaImage logo = decodePng(embeddedLogo());
        ASSERT_EQ(logo.width, 159u);
        ASSERT_EQ(logo.height, 70u);
        size_t mismatches = 0;
        size_t opaque = 0;
        for (uint32_t y = 0; y < logo.height; ++y) {
            for (uint32_t x = 0; x < logo.width; ++x) {
                const uint8_t* p = &logo.pixels[(size_t{y} * logo.width + x) * 4];
                const uint32_t drawn = pixel(8 + x, 642 + y);
                if (p[3] != 0 && p[3] != 255) {
                    continue; // smoothed edge: a blend of logo and background
                }
                const bool ok = p[3] == 255 ? drawn == packed(p) : isBackground(drawn);
                mismatches += ok ? 0 : 1;
                opaque += p[3] == 255 ? 1 : 0;
            }
        }
        EXPECT_EQ(mismatches, 0u);
        EXPECT_GT(opaque, 2000u);
        EXPECT_TRUE(isBackground(pixel(7, 680)));
        EXPECT_TRUE(isBackground(pixel(8 + 159, 680)));
        EXPECT_TRUE(isBackground(pixel(100, 641)));
        EXPECT_TRUE(isBackground(pixel(100, 712)));
    }

    TempConfig config;
    zeb_canvas_t* canvas = nullptr;
    std::unique_ptr<DrivonClient> client;
};

} // namespace

TEST_F(DrivonClientRender, ScanningFillsGreyWithTheLogoOnTop) {
    config.writeLogo(embeddedLogo());
    makeClient();
    render();
    EXPECT_EQ(pixel(0, 0), kGrey);
    EXPECT_EQ(pixel(640, 360), kGrey);
    EXPECT_EQ(pixel(1279, 719), kGrey);
    expectLogoOver([](uint32_t p) { return p == kGrey; });
    const zeb_canvas_stats stats = zeb_canvas_get_stats(canvas);
    EXPECT_EQ(stats.solid_fills, 1u);
    EXPECT_EQ(stats.logo_draws, 1u);
    EXPECT_EQ(stats.texture_draws, 0u);
}

TEST_F(DrivonClientRender, ConnectingFillsBlueWithTheLogoOnTop) {
    config.writeLogo(embeddedLogo());
    makeClient();
    client->setStateForTesting(SourceState::Connecting);
    render();
    EXPECT_EQ(pixel(0, 0), kBlue);
    EXPECT_EQ(pixel(1279, 719), kBlue);
    expectLogoOver([](uint32_t p) { return p == kBlue; });
}

TEST_F(DrivonClientRender, StreamingDrawsOnePicturePerCallAndKeepsTheLastOne) {
    config.writeLogo(embeddedLogo());
    makeClient();
    StreamShape first;
    first.frames = 2;
    auto units = encodeH264(first);
    ASSERT_EQ(units.size(), 2u);
    client->setActive(true);
    client->setStateForTesting(SourceState::Streaming);
    for (const auto& unit : units) {
        client->onVideoFrame(0, 0, unit);
    }
    ASSERT_EQ(client->queuedPictureCount(), 2u);

    render();
    EXPECT_EQ(client->queuedPictureCount(), 1u);
    EXPECT_TRUE(near(pixel(320, 360), first.left));
    EXPECT_TRUE(near(pixel(960, 100), first.right));
    EXPECT_TRUE(near(pixel(600, 10), first.left));
    expectLogoOver([&](uint32_t p) { return near(p, first.left); });

    render();
    render(); // empty queue: the texture keeps the last picture
    EXPECT_EQ(client->queuedPictureCount(), 0u);
    EXPECT_TRUE(near(pixel(320, 360), first.left));
    EXPECT_TRUE(near(pixel(960, 360), first.right));
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
    EXPECT_TRUE(near(pixel(320, 360), first.left));
}

TEST_F(DrivonClientRender, NoLogoIsDrawnWhenItIsMissingBrokenOrTooTall) {
    struct Case {
        const char* name;
        std::vector<uint8_t> file; // empty: no file at all
    };
    RgbaImage tall{159, 713, std::vector<uint8_t>(size_t{159} * 713 * 4, 255)};
    std::vector<uint8_t> broken(embeddedLogo().begin(), embeddedLogo().end());
    broken.resize(broken.size() / 2);
    const Case cases[] = {{"missing", {}}, {"broken", broken}, {"713 rows", encodePng(tall)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(config.logoPath().c_str());
        if (!c.file.empty()) {
            config.writeLogo(c.file);
        }
        makeClient();
        render();
        EXPECT_EQ(zeb_canvas_get_stats(canvas).logo_draws, 0u);
        EXPECT_EQ(pixel(8, 700), kGrey);
        EXPECT_EQ(pixel(8, 0), kGrey);
        client.reset();
    }
}

TEST_F(DrivonClientRender, ALogoOf712RowsReachesTheTopEdge) {
    RgbaImage tall{20, 712, std::vector<uint8_t>(size_t{20} * 712 * 4, 0)};
    for (size_t i = 0; i < tall.pixels.size(); i += 4) {
        tall.pixels[i] = 255; // red
        tall.pixels[i + 3] = 255;
    }
    config.writeLogo(encodePng(tall));
    makeClient();
    render();
    EXPECT_EQ(pixel(8, 0), 0xFF0000FFu);
    EXPECT_EQ(pixel(27, 711), 0xFF0000FFu);
    EXPECT_EQ(pixel(8, 712), kGrey);
    EXPECT_EQ(pixel(28, 0), kGrey);
}

TEST_F(DrivonClientRender, WithoutAConfigurationPathTheSourceRunsWithoutLogo) {
    client = DrivonClient::create(nullptr, nullptr, nullptr); // the host gives no path
    ASSERT_TRUE(client);
    render();
    EXPECT_EQ(zeb_canvas_get_stats(canvas).logo_draws, 0u);
    EXPECT_EQ(pixel(8, 700), kGrey);
}
