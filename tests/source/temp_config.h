// A private configuration root for the stand-in host and the file helpers the source and module
// tests use in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "module/logo_image.h"
#include "zeb/zeb-runner.h"

// A fresh configuration root, removed again at the end.
class TempConfig {
public:
    TempConfig() {
        char pattern[] = "/tmp/drivon-test-XXXXXX";
        root = mkdtemp(pattern) ? pattern : throw std::runtime_error("mkdtemp failed");
        zeb_runner_set_config_root(root.c_str());
    }
    ~TempConfig() {
        zeb_runner_set_config_root(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    // The logo file in the configuration folder of a module named "drivon".
    std::string logoPath() const { return root + "/drivon/dv_logo.png"; }

    std::string root;
};

inline void writeFile(const std::string& path, std::string_view content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The logo built into the module, as the bytes of its file.
inline std::string embeddedLogoFile() {
    const auto bytes = embeddedLogo();
    return std::string(bytes.begin(), bytes.end());
}
