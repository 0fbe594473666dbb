#include <cstring>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(RegistryTest, OnlyA400ByteRecordWithANewIdentifierIsTakenAndItIsCopied) {
    zeb_runner_clear_sources();
    char id[] = "drivon";
    zeb_source_info info{};
    LogCapture log;
    zeb_register_source_s(&info, sizeof(info)); // no identifier
    zeb_register_source_s(nullptr, sizeof(info));
    info.id = id;
    info.output_flags = 1;
    zeb_register_source_s(&info, 392);
    zeb_register_source_s(&info, 408);
    EXPECT_EQ(zeb_runner_source_count(), 0u);
    EXPECT_EQ(log.lines.size(), 4u);

    zeb_register_source_s(&info, 400);
    info.output_flags = 2;
    zeb_register_source_s(&info, 400); // the identifier is taken
    // The module's own record and strings may change or go away after registration.
    memcpy(id, "xxxxxx", 6);
    const zeb_source_info* found = zeb_runner_find_source("drivon");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->id, "drivon");
    EXPECT_EQ(found->output_flags, 1u);
    EXPECT_EQ(zeb_runner_source_count(), 1u);
    EXPECT_EQ(log.lines.size(), 5u);
    for (const auto& line : log.lines) {
        EXPECT_EQ(line.level, LOG_ERROR) << line.message;
    }
    zeb_runner_clear_sources();
}

} // namespace
