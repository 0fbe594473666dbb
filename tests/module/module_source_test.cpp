#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/module/loaded_module.h"

namespace {

constexpr uint32_t kGrey = 0xFF909090;

size_t entriesIn(const char* folder) {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder);
         it != std::filesystem::directory_iterator(); ++it) {
        ++n;
    }
    return n;
}
size_t threadCount() {
    return entriesIn("/proc/self/task");
}

// A joined thread can linger in /proc for a moment after pthread_join returns.
bool threadCountReaches(size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (threadCount() != expected) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}
size_t openFileCount() {
    return entriesIn("/proc/self/fd");
}

class ModuleSource : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.ok());
        canvas = zeb_canvas_create(1280, 720);
    }
    void TearDown() override { zeb_canvas_destroy(canvas); }

    void render(void* instance, gs_effect_t* hostEffect = nullptr) {
        zeb_canvas_begin(canvas, 0);
        module.source().video_render(instance, hostEffect);
        zeb_canvas_end(canvas);
    }
    std::vector<uint8_t> pixels() const {
        const uint8_t* p = zeb_canvas_pixels(canvas);
        return std::vector<uint8_t>(p, p + size_t{1280} * 720 * 4);
    }

    TempConfigRoot root;
    LoadedModule module;
    zeb_canvas_t* canvas = nullptr;
};

} // namespace

TEST_F(ModuleSource, RegistersOneInputSourceThatDrawsItself) {
    const zeb_source_info& info = module.source();
    EXPECT_STREQ(info.id, "drivon");
    EXPECT_EQ(info.type, ZEB_SOURCE_TYPE_INPUT);
    EXPECT_EQ(info.output_flags, 9u);
    ASSERT_NE(info.get_name, nullptr);
    EXPECT_STREQ(info.get_name(nullptr), "Drivon");
    for (const void* callback :
         {(const void*)info.create, (const void*)info.destroy, (const void*)info.get_width,
          (const void*)info.get_height, (const void*)info.activate, (const void*)info.deactivate,
          (const void*)info.show, (const void*)info.hide, (const void*)info.video_tick,
          (const void*)info.video_render}) {
        EXPECT_NE(callback, nullptr);
    }
    // No settings, properties, audio, interaction, media controls or colour spaces.
    EXPECT_EQ(info.get_defaults, nullptr);
    EXPECT_EQ(info.get_properties, nullptr);
    EXPECT_EQ(info.update, nullptr);
    EXPECT_EQ(info.filter_video, nullptr);
    EXPECT_EQ(info.audio_render, nullptr);
    EXPECT_EQ(info.mouse_click, nullptr);
    EXPECT_EQ(info.key_click, nullptr);
    EXPECT_EQ(info.media_play_pause, nullptr);
    EXPECT_EQ(info.media_get_state, nullptr);
    EXPECT_EQ(info.video_get_color_space, nullptr);
    EXPECT_EQ(info.type_data, nullptr);
    EXPECT_EQ(info.free_type_data, nullptr);
    EXPECT_EQ(info.version, 0u);
}

TEST_F(ModuleSource, ReportsTheFixedSizeAndIgnoresTickAndTheHostsEffect) {
    const zeb_source_info& info = module.source();
    void* instance = info.create(nullptr, nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(info.get_width(instance), 1280u);
    EXPECT_EQ(info.get_height(instance), 720u);

    info.activate(instance);
    info.show(instance);
    render(instance);
    const std::vector<uint8_t> before = pixels();
    EXPECT_EQ(zeb_canvas_pixel(canvas, 640, 360), kGrey);
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
    const size_t files = openFileCount();
    const size_t textures = zeb_runner_live_textures();

    for (int i = 0; i < 100; ++i) {
        void* instance = info.create(nullptr, nullptr);
        ASSERT_NE(instance, nullptr);
        info.destroy(instance);
    }
    EXPECT_TRUE(threadCountReaches(threads)) << threadCount() << " threads, not " << threads;
    EXPECT_EQ(openFileCount(), files);
    EXPECT_EQ(zeb_runner_live_textures(), textures);

    // Several at once: each has its device thread and two textures while it lives.
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
    EXPECT_TRUE(threadCountReaches(threads)) << threadCount() << " threads, not " << threads;
    EXPECT_EQ(zeb_runner_live_textures(), textures);
}
