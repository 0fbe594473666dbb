#include <cstring>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

void* createNothing(zeb_data_t*, zeb_source_t*) {
    return nullptr;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { zeb_runner_clear_sources(); }
    void TearDown() override { zeb_runner_clear_sources(); }
};

TEST_F(RegistryTest, RecordOfAnotherSizeIsRefusedWithAnError) {
    ASSERT_EQ(sizeof(zeb_source_info), 400u);
    zeb_source_info info{};
    info.id = "drivon";
    LogCapture log;
    zeb_register_source_s(&info, 392);
    zeb_register_source_s(&info, 408);
    EXPECT_EQ(zeb_runner_source_count(), 0u);
    EXPECT_EQ(zeb_runner_find_source("drivon"), nullptr);
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0].level, LOG_ERROR);

    zeb_register_source_s(&info, 400);
    EXPECT_NE(zeb_runner_find_source("drivon"), nullptr);
}

TEST_F(RegistryTest, RecordAndIdentifierAreCopied) {
    char id[] = "drivon";
    zeb_source_info info{};
    info.id = id;
    info.output_flags = 9;
    info.create = createNothing;
    zeb_register_source_s(&info, sizeof(info));
    // The module's own record and strings may change or go away after registration.
    info.output_flags = 0;
    memcpy(id, "xxxxxx", 6);

    const zeb_source_info* found = zeb_runner_find_source("drivon");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->id, "drivon");
    EXPECT_EQ(found->output_flags, 9u);
    EXPECT_EQ(found->create, &createNothing);
    EXPECT_EQ(zeb_runner_find_source("xxxxxx"), nullptr);
}

TEST_F(RegistryTest, SecondTypeWithTheSameIdentifierIsRefused) {
    zeb_source_info first{};
    first.id = "drivon";
    first.output_flags = 1;
    zeb_source_info second = first;
    second.output_flags = 2;
    zeb_register_source_s(&first, sizeof(first));
    LogCapture log;
    zeb_register_source_s(&second, sizeof(second));
    EXPECT_EQ(zeb_runner_source_count(), 1u);
    EXPECT_EQ(zeb_runner_find_source("drivon")->output_flags, 1u);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].level, LOG_ERROR);
}

TEST_F(RegistryTest, RecordWithoutIdentifierIsRefused) {
    zeb_source_info info{};
    LogCapture log;
    zeb_register_source_s(&info, sizeof(info));
    zeb_register_source_s(nullptr, sizeof(info));
    EXPECT_EQ(zeb_runner_source_count(), 0u);
    EXPECT_EQ(log.lines().size(), 2u);
}

} // namespace
