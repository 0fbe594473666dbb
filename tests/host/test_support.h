// Helpers shared by the host tests.
#pragma once

#include <string>
#include <vector>

#include "zeb/zeb-runner.h"

// A fresh directory under /tmp, removed with its content at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Collects log lines through the library's handler while it lives.
class LogCapture {
public:
    struct Line {
        int level;
        std::string message;
    };
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;

private:
    static void handle(int level, const char* message, void* param);
    std::vector<Line> lines_;
};

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::vector<std::string> splitLines(const std::string& text);
