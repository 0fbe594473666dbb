#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(LogTest, EachCallIsOneStderrLineWithOneTrailingLineFeedDroppedAHandlerGetsItAsFormatted) {
    const std::string longText(5000, 'y'); // beyond any fixed formatting buffer
    testing::internal::CaptureStderr();
    blog(LOG_DEBUG, "[drivon] connect: %d\n", 1);
    blog(LOG_WARNING, "[drivon] %s", "no line feed");
    blog(LOG_INFO, "two\n\n");
    blog(LOG_ERROR, "%s", "");
    {
        LogCapture log;
        blog(LOG_WARNING, "[drivon] captured %d\n", 2);
        EXPECT_EQ(log.lines.size(), 1u);
        for (const auto& [level, message] : log.lines) {
            EXPECT_EQ(level, LOG_WARNING);
            EXPECT_EQ(message, "[drivon] captured 2\n");
        }
    }
    blog(LOG_INFO, "%s|%d\n", longText.c_str(), 7);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[400] [drivon] connect: 1\n"
                                                      "[200] [drivon] no line feed\n"
                                                      "[300] two\n\n"
                                                      "[100] \n"
                                                      "[300] " +
                                                          longText + "|7\n");
}

TEST(LogTest, LinesOfSeveralThreadsNeverInterleave) {
    constexpr int kThreads = 4, kLines = 300;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                blog(LOG_INFO, "thread %d line %d %s\n", t, i, std::string(200, 'z').c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto lines = splitLines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex shape("\\[300\\] thread [0-3] line [0-9]+ z{200}");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
}

} // namespace
