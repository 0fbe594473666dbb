#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    char pattern[] = "/tmp/zebhost-test-XXXXXX";
    if (!mkdtemp(pattern)) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

LogCapture::LogCapture() {
    zeb_runner_set_log_handler(&LogCapture::handle, this);
}

LogCapture::~LogCapture() {
    zeb_runner_set_log_handler(nullptr, nullptr);
}

std::vector<LogCapture::Line> LogCapture::lines() const {
    // The handler runs under the library's log lock; reads happen after the logging calls.
    return lines_;
}

void LogCapture::handle(int level, const char* message, void* param) {
    static_cast<LogCapture*>(param)->lines_.push_back({level, message});
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
