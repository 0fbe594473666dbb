// The registration record's instance callbacks. The module's code is linked into this test
// instead of loaded with dlopen, so that the instance behind the opaque pointer the host gets
// can be looked into: each callback must reach the instance as its name says.
#include <gtest/gtest.h>

#include "source/drivon_client.h"
#include "tests/source/h264_fixture.h"
#include "tests/source/temp_config.h"
#include "zeb/zeb-runner.h"

// The module's exports, as the host calls them.
extern "C" void zeb_module_set_pointer(zeb_module_t* module) noexcept;
extern "C" bool zeb_module_load(void) noexcept;

namespace {

// After each host call one more access unit arrives; its picture is queued only while the
// source is active and shown. Every call empties the queue, so at most that one is there.
TEST(SourceCallbacks, ActivateDeactivateShowAndHideReachTheInstanceAsTheirNamesSay) {
    TempConfig config;
    zeb_module_t* handle = zeb_runner_module_create("drivon");
    zeb_module_set_pointer(handle);
    ASSERT_TRUE(zeb_module_load());
    const zeb_source_info* info = zeb_runner_find_source("drivon");
    ASSERT_NE(info, nullptr);
    const auto stream = encodeH264(StreamShape{.frames = 6});
    ASSERT_EQ(stream.size(), 6u);

    void* data = info->create(nullptr, nullptr);
    ASSERT_NE(data, nullptr);
    auto* instance = static_cast<DrivonClient*>(data);
    const struct {
        const char* call;
        void (*callback)(void*);
        size_t queued;
    } steps[] = {
        {"create", nullptr, 0}, // a new source is inactive
        {"activate", info->activate, 1},
        {"hide", info->hide, 0},
        {"show", info->show, 1},
        {"deactivate", info->deactivate, 0},
        {"activate again", info->activate, 1},
    };
    int32_t next = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.call);
        if (step.callback) {
            step.callback(data);
        }
        instance->onVideoFrame(next, 0, stream[static_cast<size_t>(next)]);
        ++next;
        EXPECT_EQ(instance->queuedPictureCount(), step.queued);
    }
    info->destroy(data);
    zeb_runner_clear_sources();
    zeb_runner_module_destroy(handle);
}

} // namespace
