#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/module/loaded_module.h"

namespace {

size_t entriesIn(const char* folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

size_t threadCount() {
    return entriesIn("/proc/self/task");
}

// A joined thread can linger in /proc for a moment after pthread_join returns.
::testing::AssertionResult threadCountReaches(size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (threadCount() != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    if (threadCount() == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << threadCount() << " threads, not " << expected;
}

class ModuleSource : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module.ok()); }
    void TearDown() override { zeb_canvas_destroy(canvas); }

    void render(void* instance, gs_effect_t* hostEffect) {
        zeb_canvas_begin(canvas, 0);
        module.source().video_render(instance, hostEffect);
        zeb_canvas_end(canvas);
    }
    std::vector<uint8_t> pixels() const {
        const uint8_t* p = zeb_canvas_pixels(canvas);
        return std::vector<uint8_t>(p, p + size_t{1280} * 720 * 4);
    }

    TempConfig config;
    LoadedModule module;
    zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);
};

} // namespace

TEST_F(ModuleSource, ReportsTheFixedSizeAndIgnoresTickAndTheHostsEffect) {
    const zeb_source_info& info = module.source();
    void* instance = info.create(nullptr, nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(info.get_width(instance), 1280u);
    EXPECT_EQ(info.get_height(instance), 720u);
    info.activate(instance);
    info.show(instance);
    render(instance, nullptr);
    const std::vector<uint8_t> before = pixels();
    EXPECT_EQ(zeb_canvas_pixel(canvas, 640, 360), 0xFF909090); // scanning grey
    for (int i = 0; i < 10; ++i) {
        info.video_tick(instance, 0.016f);
    }
    // The host's own effect is not the one the source draws with.
    render(instance, zeb_get_base_effect(ZEB_EFFECT_OPAQUE));
    EXPECT_EQ(pixels(), before);
    const zeb_canvas_stats stats = zeb_canvas_get_stats(canvas);
    EXPECT_EQ(stats.solid_fills, 2u);
    EXPECT_EQ(stats.logo_draws, 2u);
    EXPECT_EQ(stats.uploads, 0u);
    info.hide(instance);
    info.deactivate(instance);
    EXPECT_EQ(info.get_width(instance), 1280u);
    EXPECT_EQ(info.get_height(instance), 720u);
    info.destroy(instance);
}

TEST_F(ModuleSource, CreatingAndDestroyingLeavesNoThreadFileOrTextureBehind) {
    const zeb_source_info& info = module.source();
    // One round first, so that one-time set-up (the logo file, the codec tables) is done.
    info.destroy(info.create(nullptr, nullptr));
    const size_t threads = threadCount();
    const size_t files = entriesIn("/proc/self/fd");
    const size_t textures = zeb_runner_live_textures();
    for (int i = 0; i < 100; ++i) {
        void* instance = info.create(nullptr, nullptr);
        ASSERT_NE(instance, nullptr);
        info.destroy(instance);
    }
    EXPECT_TRUE(threadCountReaches(threads));
    EXPECT_EQ(entriesIn("/proc/self/fd"), files);
    EXPECT_EQ(zeb_runner_live_textures(), textures);

    // Several at once, so the counts above are known to see what an instance holds: its
    // device thread and two textures.
    std::vector<void*> instances;
    for (int i = 0; i < 8; ++i) {
        instances.push_back(info.create(nullptr, nullptr));
        ASSERT_NE(instances.back(), nullptr);
    }
    EXPECT_EQ(threadCount(), threads + 8);
    EXPECT_EQ(zeb_runner_live_textures(), textures + 16);
    for (void* instance : instances) {
        info.destroy(instance);
    }
    EXPECT_TRUE(threadCountReaches(threads));
    EXPECT_EQ(zeb_runner_live_textures(), textures);
}
