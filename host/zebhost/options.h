// zebhost's command line.
#pragma once

#include <string>

struct Options {
    std::string modulePath;
    std::string configDir;   // empty: the library's default root
    std::string snapshotDir; // empty: no snapshots
    std::string recordPath;  // empty: no clip
    int sources = 1;
    double seconds = 10.0;
    double fps = 30.0;
    bool inactive = false;
    bool hidden = false;
    bool help = false; // --help: print the usage and do nothing else
};

// Exit statuses.
enum ExitStatus : int {
    kExitDone = 0,
    kExitUnusable = 2,     // bad command line, module or folder: nothing ran, no summary
    kExitCreateFailed = 3, // a source could not be created; the others ran
    kExitRecordFailed = 4, // the run went through but the clip could not be written
};

const char* usageText();
// False with a reason for anything but a well-formed command line. With --help the rest of
// the line is not looked at.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);
