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
           "               [--snapshots DIR] [--record FILE.mp4] [--inactive] [--hidden]\n"
           "       zebhost --help\n"
           "\n"
           "Loads the module, creates N \"drivon\" sources (default 1), renders each into a\n"
           "1280x720 canvas on one graphics thread at F frames a second (default 30) for S\n"
           "seconds (default 10), then prints one JSON line per source on stdout. The module's\n"
           "log lines go to stderr, with a line for each source's first uploaded picture.\n"
           "\n"
           "  --module FILE       the module to load\n"
           "  --config-dir DIR    root of the modules' configuration folders\n"
           "                      (default $XDG_CONFIG_HOME/zebhost or ~/.config/zebhost)\n"
           "  --sources N         sources to create, 1 to 64\n"
           "  --seconds S         how long to render\n"
           "  --fps F             render rate\n"
           "  --snapshots DIR     PNG of every source each second and at the end\n"
           "  --record FILE.mp4   H.264 clip of every frame source 0 rendered\n"
           "  --inactive          never activate the sources\n"
           "  --hidden            never show the sources\n"
           "  --help              this text\n"
           "\n"
           "Exit status: 0 done; 2 unusable arguments, module or folder (nothing ran);\n"
           "3 a source could not be created (the others ran); 4 the clip could not be written.\n";
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            options.help = true;
            return true;
        }
        if (arg == "--inactive") {
            options.inactive = true;
            continue;
        }
        if (arg == "--hidden") {
            options.hidden = true;
            continue;
        }
        const bool takesValue = arg == "--module" || arg == "--config-dir" || arg == "--sources" ||
                                arg == "--seconds" || arg == "--fps" || arg == "--snapshots" ||
                                arg == "--record";
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
        } else if (arg == "--record") {
            options.recordPath = value;
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
