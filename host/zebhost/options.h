// zebhost's command line.
#pragma once

#include <string>

struct Options {
    std::string modulePath;
    std::string configDir;   // empty: the library's default root
    std::string snapshotDir; // empty: no snapshots
    int sources = 1;
    double seconds = 10.0;
    double fps = 30.0;
    bool inactive = false;
    bool hidden = false;
};

const char* usageText();
// False with a reason for anything but a well-formed command line.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
