#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/module/loaded_module.h"

namespace {

// The first field of every line that a command prints.
std::vector<std::string> outputFields(const std::string& command, size_t field) {
    std::vector<std::string> fields;
    FILE* listing = popen(command.c_str(), "r");
    char line[1024];
    while (listing && fgets(line, sizeof line, listing)) {
        std::istringstream words(line);
        std::string word;
        for (size_t i = 0; i <= field && words >> word; ++i) {
        }
        fields.push_back(word);
    }
    EXPECT_TRUE(listing && pclose(listing) == 0) << command;
    return fields;
}

// Names in the ELF file's dynamic symbol table, as binutils lists them: "address type name"
// for defined ones, "type name" for undefined ones.
std::set<std::string> definedDynamicSymbols(const std::string& path) {
    const auto names = outputFields("nm --dynamic --defined-only " + path, 2);
    return {names.begin(), names.end()};
}

size_t entriesIn(const char* folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

// A joined thread can linger in /proc for a moment after pthread_join returns.
bool threadCountReaches(size_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (entriesIn("/proc/self/task") != expected &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    return entriesIn("/proc/self/task") == expected;
}

} // namespace

TEST(Module, TheDynamicSymbolTableDefinesExactlyTheSixEntryPoints) {
    const std::set<std::string> expected = {
        "zeb_module_set_pointer", "zeb_module_ver",         "zeb_module_load",
        "zeb_module_name",        "zeb_module_description", "zeb_module_author",
    };
    EXPECT_EQ(definedDynamicSymbols(DRIVON_MODULE_PATH), expected);
}

// Only the stand-in host records clips; the module decodes and nothing more.
TEST(Module, LinksNeitherTheContainerLibraryNorTheEncoder) {
    const std::string path = DRIVON_MODULE_PATH;
    size_t needed = 0;
    for (const std::string& library : outputFields("objdump -p " + path + " | grep NEEDED", 1)) {
        ++needed;
        EXPECT_EQ(library.find("libavformat"), std::string::npos) << library;
        EXPECT_EQ(library.find("x264"), std::string::npos) << library;
    }
    EXPECT_GT(needed, 0u);
    size_t used = 0;
    for (const std::string& name : outputFields("nm --dynamic --undefined-only " + path, 1)) {
        used += name.rfind("av", 0) == 0;
        EXPECT_TRUE(name.rfind("avformat_", 0) != 0 && name.rfind("avio_", 0) != 0 &&
                    name.find("encoder") == std::string::npos && name != "avcodec_send_frame" &&
                    name != "avcodec_receive_packet")
            << name;
    }
    EXPECT_GT(used, 0u); // the decoding calls are there
}

TEST(Module, RegistersOneSelfDrawingInputSourceOfFixedSize) {
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    auto* ver = module.symbol<uint32_t()>("zeb_module_ver");
    ASSERT_NE(ver, nullptr);
    EXPECT_EQ(ver(), 0x1D010001u);
    for (const auto& [name, text] : {std::pair{"zeb_module_name", "Drivon"},
                                     {"zeb_module_description", "Drivon Live Streaming"},
                                     {"zeb_module_author", "Mendrel"}}) {
        auto* function = module.symbol<const char*()>(name);
        ASSERT_NE(function, nullptr);
        EXPECT_STREQ(function(), text);
    }
    const zeb_source_info& info = module.source();
    EXPECT_STREQ(info.id, "drivon");
    EXPECT_EQ(info.type, ZEB_SOURCE_TYPE_INPUT);
    EXPECT_EQ(info.output_flags, 9u);
    ASSERT_NE(info.get_name, nullptr);
    EXPECT_STREQ(info.get_name(nullptr), "Drivon");
    // The instance callbacks are all called below. After them: no settings, properties, audio,
    // interaction, media controls or colour spaces; version 0.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    EXPECT_TRUE(std::all_of(bytes + offsetof(zeb_source_info, get_defaults), bytes + sizeof info,
                            [](uint8_t b) { return b == 0; }));

    void* instance = info.create(nullptr, nullptr);
    ASSERT_NE(instance, nullptr);
    zeb_canvas_t* canvas = zeb_canvas_create(1280, 720);
    auto render = [&](gs_effect_t* hostEffect) {
        zeb_canvas_begin(canvas, 0);
        info.video_render(instance, hostEffect);
        zeb_canvas_end(canvas);
        const uint8_t* p = zeb_canvas_pixels(canvas);
        return std::vector<uint8_t>(p, p + size_t{1280} * 720 * 4);
    };
    info.activate(instance);
    info.show(instance);
    const std::vector<uint8_t> scanning = render(nullptr);
    EXPECT_EQ(zeb_canvas_pixel(canvas, 640, 360), 0xFF909090); // grey
    info.video_tick(instance, 0.016f);
    // Neither the tick nor the host's own effect change what the source draws.
    EXPECT_EQ(render(zeb_get_base_effect(ZEB_EFFECT_OPAQUE)), scanning);
    info.hide(instance);
    info.deactivate(instance);
    EXPECT_TRUE(info.get_width(instance) == 1280 && info.get_height(instance) == 720);
    info.destroy(instance);
    zeb_canvas_destroy(canvas);
}

TEST(Module, CreatingAndDestroyingLeavesNoThreadFileOrTextureBehind) {
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    const zeb_source_info& info = module.source();
    // One round first, so that one-time set-up (the logo file, the codec tables) is done.
    info.destroy(info.create(nullptr, nullptr));
    const size_t threads = entriesIn("/proc/self/task");
    const size_t files = entriesIn("/proc/self/fd");
    const size_t textures = zeb_runner_live_textures();
    for (int i = 0; i < 20; ++i) {
        void* instance = info.create(nullptr, nullptr);
        ASSERT_NE(instance, nullptr);
        info.destroy(instance);
    }
    EXPECT_TRUE(threadCountReaches(threads));
    EXPECT_EQ(entriesIn("/proc/self/fd"), files);
    EXPECT_EQ(zeb_runner_live_textures(), textures);
    // Several at once, so the counts are known to see what an instance holds: its device
    // thread and two textures.
    std::vector<void*> instances(8);
    for (void*& instance : instances) {
        instance = info.create(nullptr, nullptr);
        ASSERT_NE(instance, nullptr);
    }
    EXPECT_EQ(entriesIn("/proc/self/task"), threads + 8);
    EXPECT_EQ(zeb_runner_live_textures(), textures + 16);
    for (void* instance : instances) {
        info.destroy(instance);
    }
    EXPECT_TRUE(threadCountReaches(threads));
    EXPECT_EQ(zeb_runner_live_textures(), textures);
}
