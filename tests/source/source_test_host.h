// Stand-in host set-up shared by the source tests: a private configuration folder, captured log
// lines and PNG helpers.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "zeb/zeb-runner.h"

// A fresh configuration root (removed again at the end) and a module handle named "drivon".
class TempConfig {
public:
    TempConfig();
    ~TempConfig();
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    zeb_module_t* module() const { return handle; }
    // "<root>/drivon", made on demand.
    std::string moduleFolder() const;
    std::string logoPath() const { return moduleFolder() + "/dv_logo.png"; }
    void writeLogo(std::span<const uint8_t> bytes) const;

private:
    std::string root;
    zeb_module_t* handle;
};

struct LogLine {
    int level;
    std::string text;
};

// Collects blog lines while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const;
    size_t count(const std::string& text) const;

private:
    static void handle(int level, const char* message, void* param);
    mutable std::mutex mutex;
    std::vector<LogLine> captured; // guarded by mutex
};

struct RgbaImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};
RgbaImage decodePng(std::span<const uint8_t> png);
std::vector<uint8_t> encodePng(const RgbaImage& image);
