// zebhost's command line contract, run as a subprocess with the fake module.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

// Polls a condition every 10 ms for up to a minute.
template <typename Condition>
bool waitFor(Condition done) {
    for (int i = 0; i < 6000; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// One zebhost process; stdout and stderr go to files in its own folder.
class Zebhost {
public:
    explicit Zebhost(std::vector<std::string> args, const Env& env = {}) {
        std::vector<char*> argv{const_cast<char*>(ZEBHOST_PATH)};
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const std::string out = dir_ / "stdout", err = dir_ / "stderr";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Zebhost() {
        if (status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // The exit status, or -1 if it did not end within the bound.
    int wait() {
        int status = 0;
        if (waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_;
    }
    void signal(int sig) const { kill(pid_, sig); }
    std::string out() const { return readFile(dir_ / "stdout"); }
    std::string err() const { return readFile(dir_ / "stderr"); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

TEST(ZebhostTest, UnusableArgumentsOrModulesEndWithStatus2AndNoSummary) {
    TempDir dir;
    writeFile(dir / "junk.so", "not a shared object");
    const std::string fake = FAKE_MODULE_PATH, usage = "usage: zebhost --module FILE";
    const struct {
        std::vector<std::string> args;
        std::string error;
        Env env;
    } cases[] = {
        {{}, usage},
        {{"--module"}, usage},
        {{"--module", fake, "--sources", "x"}, usage},
        {{"--module", fake, "--fps", "0"}, usage},
        {{"--module", fake, "--bogus"}, usage},
        {{"--module", fake, "--seconds", "-1"}, usage},
        {{"--module", fake, "--snapshots", dir / "junk.so/snaps"}, "cannot create the snapshot"},
        {{"--module", dir / "missing.so"}, "missing.so"},
        {{"--module", dir / "junk.so"}, "cannot load module"},
        {{"--module", ZEB_LIBRARY_PATH}, "zeb_module_load"}, // a shared object but no module
        {{"--module", fake, "--config-dir", dir.path()},
         "no source type \"drivon\"",
         {{"FAKE_MODULE_TYPE", "other"}}},
    };
    for (const auto& c : cases) {
        Zebhost zebhost(c.args, c.env);
        EXPECT_EQ(zebhost.wait(), 2) << c.error;
        EXPECT_NE(zebhost.err().find(c.error), std::string::npos) << zebhost.err();
        EXPECT_EQ(zebhost.out(), "");
    }
}

TEST(ZebhostTest, TwoSourcesGetTheHostCallsInOrderAndReportOneJsonLineEach) {
    TempDir config; // the default configuration root, from XDG_CONFIG_HOME
    Zebhost zebhost(
        {"--module", FAKE_MODULE_PATH, "--sources", "2", "--seconds", "0.5", "--fps", "10"},
        {{"XDG_CONFIG_HOME", config.path()}});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_EQ(zebhost.out(),
              "{\"source\":0,\"renders\":5,\"uploads\":3,\"solid_fills\":5,\"logo_draws\":0}\n"
              "{\"source\":1,\"renders\":5,\"uploads\":3,\"solid_fills\":5,\"logo_draws\":0}\n");
    const auto lines = splitLines(zebhost.err());
    for (const std::string n : {"0", "1"}) {
        auto from = lines.begin();
        for (const std::string& call :
             {"[300] [fake] create " + n + " config " + config.path() + "/zebhost/fake_module/",
              "[300] [fake] activate " + n, "[300] [fake] show " + n,
              "[400] [fake] first render " + n + " default effect yes", "[300] [fake] hide " + n,
              "[300] [fake] deactivate " + n, "[300] [fake] destroy " + n + " after 5 renders"}) {
            from = std::find(from, lines.end(), call);
            EXPECT_NE(from, lines.end()) << call << ": missing or out of order in\n"
                                         << zebhost.err();
        }
    }
}

TEST(ZebhostTest, FailedCreateInactiveHiddenAndSnapshotOptionsShapeTheRun) {
    TempDir config;
    const std::string snaps = config / "new/snaps";
    // The first create fails: that source is skipped, the second one runs on its own.
    Zebhost zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", config.path(), "--sources", "2",
                     "--seconds", "2", "--fps", "5", "--snapshots", snaps, "--inactive",
                     "--hidden"},
                    {{"FAKE_MODULE_FAIL_CREATE", "0"}});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_EQ(zebhost.out(),
              "{\"source\":1,\"renders\":10,\"uploads\":5,\"solid_fills\":10,\"logo_draws\":0}\n");
    const std::string err = zebhost.err();
    EXPECT_NE(err.find("source 0"), std::string::npos) << err;
    EXPECT_NE(err.find("[fake] create 1 config " + config.path() + "/fake_module/"),
              std::string::npos);
    EXPECT_NE(err.find("[300] [fake] destroy 1 after 10 renders"), std::string::npos) << err;
    for (const char* call : {"activate", "deactivate", "show", "hide"}) {
        EXPECT_EQ(err.find(std::string("[fake] ") + call), std::string::npos) << call;
    }

    // A snapshot every second and one at the end.
    std::set<std::string> made;
    for (const auto& entry : std::filesystem::directory_iterator(snaps)) {
        made.insert(entry.path().filename());
    }
    EXPECT_EQ(made, (std::set<std::string>{"source1-1.png", "source1-2.png", "source1.png"}));
    gs_image_file_t image;
    gs_image_file_init(&image, (snaps + "/source1.png").c_str());
    ASSERT_TRUE(image.loaded);
    ASSERT_EQ(image.cx, 1280u);
    ASSERT_EQ(image.cy, 720u);
    const uint8_t* corner = image.texture_data + (size_t{1280} * 720 - 1) * 4;
    EXPECT_EQ(rgba(corner[0], corner[1], corner[2], corner[3]), rgba(255, 0, 0, 255));
    gs_image_file_free(&image);
}

TEST(ZebhostTest, TerminationEndsTheRunWithCleanUpAndSummary) {
    TempDir home; // without XDG_CONFIG_HOME the configuration root is under HOME
    Zebhost zebhost({"--module", FAKE_MODULE_PATH, "--seconds", "600", "--fps", "10"},
                    {{"XDG_CONFIG_HOME", ""}, {"HOME", home.path()}});
    ASSERT_TRUE(waitFor([&] {
        return zebhost.err().find("[fake] first render 0") != std::string::npos;
    })) << zebhost.err();
    zebhost.signal(SIGTERM);
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_NE(zebhost.err().find("[fake] create 0 config " + home.path() +
                                 "/.config/zebhost/fake_module/\n"),
              std::string::npos);
    EXPECT_NE(zebhost.err().find("[fake] destroy 0"), std::string::npos);
    EXPECT_TRUE(std::regex_match(zebhost.out(),
                                 std::regex("\\{\"source\":0,\"renders\":[0-9]+,\"uploads\":[0-9]+,"
                                            "\"solid_fills\":[0-9]+,\"logo_draws\":0\\}\n")))
        << zebhost.out();
}

} // namespace
