#include <fcntl.h>
#include <regex>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// Sends the process's stderr to a file while it lives.
class StderrToFile {
public:
    explicit StderrToFile(const std::string& path) {
        fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StderrToFile() {
        fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    StderrToFile(const StderrToFile&) = delete;
    StderrToFile& operator=(const StderrToFile&) = delete;

private:
    int saved_ = -1;
};

TEST(LogTest, EachCallIsOneLineWithItsLevelAndOneTrailingLineFeedDropped) {
    TempDir dir;
    {
        StderrToFile redirect(dir / "err");
        blog(LOG_DEBUG, "[drivon] connect: %d\n", 1);
        blog(LOG_WARNING, "[drivon] %s", "no line feed");
        blog(LOG_INFO, "two\n\n");
        blog(LOG_ERROR, "%s", "");
    }
    EXPECT_EQ(readFile(dir / "err"), "[400] [drivon] connect: 1\n"
                                     "[200] [drivon] no line feed\n"
                                     "[300] two\n\n"
                                     "[100] \n");
}

TEST(LogTest, LongMessagesAreNotCut) {
    LogCapture log;
    const std::string longText(5000, 'y');
    blog(LOG_INFO, "%s|%d\n", longText.c_str(), 7);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].message, longText + "|7\n");
}

TEST(LogTest, HandlerReplacesStderrUntilReset) {
    TempDir dir;
    {
        StderrToFile redirect(dir / "err");
        {
            LogCapture log;
            blog(LOG_INFO, "[drivon] captured\n");
            ASSERT_EQ(log.lines().size(), 1u);
            EXPECT_EQ(log.lines()[0].level, LOG_INFO);
            EXPECT_EQ(log.lines()[0].message, "[drivon] captured\n");
        }
        blog(LOG_INFO, "after");
    }
    EXPECT_EQ(readFile(dir / "err"), "[300] after\n");
}

TEST(LogTest, LinesOfSeveralThreadsNeverInterleave) {
    TempDir dir;
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    {
        StderrToFile redirect(dir / "err");
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
    }
    const auto lines = splitLines(readFile(dir / "err"));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex shape("\\[300\\] thread [0-3] line [0-9]+ z{200}");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
}

} // namespace
