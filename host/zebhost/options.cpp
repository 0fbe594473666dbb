#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool parseInt(const char* text, int low, int high, int& out) {
    errno = 0;
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool parseDouble(const char* text, double low, double high, double& out) {
    errno = 0;
    char* end = nullptr;
    const double value = strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < low ||
        value > high) {
        return false;
    }
    out = value;
    return true;
}

} // namespace

const char* usageText() {
    return "usage: zebhost --module FILE [--config-dir DIR] [--sources N] [--seconds S] "
           "[--fps F]\n"
           "               [--snapshots DIR] [--inactive] [--hidden]\n";
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--inactive") {
            options.inactive = true;
            continue;
        }
        if (arg == "--hidden") {
            options.hidden = true;
            continue;
        }
        const bool takesValue = arg == "--module" || arg == "--config-dir" || arg == "--sources" ||
                                arg == "--seconds" || arg == "--fps" || arg == "--snapshots";
        if (!takesValue) {
            error = "unknown argument '" + arg + "'";
            return false;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--module") {
            options.modulePath = value;
            ok = *value != '\0';
        } else if (arg == "--config-dir") {
            options.configDir = value;
            ok = *value != '\0';
        } else if (arg == "--snapshots") {
            options.snapshotDir = value;
            ok = *value != '\0';
        } else if (arg == "--sources") {
            ok = parseInt(value, 1, 64, options.sources);
        } else if (arg == "--seconds") {
            ok = parseDouble(value, 0.0, 86400.0, options.seconds);
        } else {
            ok = parseDouble(value, 0.001, 1000.0, options.fps);
        }
        if (!ok) {
            error = "bad value '" + std::string(value) + "' for " + arg;
            return false;
        }
    }
    if (options.modulePath.empty()) {
        error = "--module is required";
        return false;
    }
    return true;
}
