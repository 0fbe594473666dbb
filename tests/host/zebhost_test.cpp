// zebhost's command line contract, run as a subprocess with the fake module.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace std::chrono_literals;

struct Env {
    std::string name;
    std::string value;
};

// One zebhost process; stdout and stderr go to files in its own folder.
class ZebhostProcess {
public:
    ZebhostProcess(std::vector<std::string> args, const std::vector<Env>& env = {}) {
        args.insert(args.begin(), ZEBHOST_PATH);
        const std::string out = dir_ / "stdout", err = dir_ / "stderr";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            for (const Env& e : env) {
                setenv(e.name.c_str(), e.value.c_str(), 1);
            }
            std::vector<char*> argv;
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~ZebhostProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ZebhostProcess(const ZebhostProcess&) = delete;
    ZebhostProcess& operator=(const ZebhostProcess&) = delete;

    // The exit status, or -1 if it did not end within the bound.
    int wait(std::chrono::seconds bound = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    // Polls stderr until it holds text; false when the bound passes first.
    bool waitForStderr(const std::string& text, std::chrono::seconds bound = 30s) const {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (err().find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    void signal(int sig) const { kill(pid_, sig); }
    std::string out() const { return readFile(dir_ / "stdout"); }
    std::string err() const { return readFile(dir_ / "stderr"); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

// Index of the first stderr line equal to text, or -1.
int lineIndex(const std::vector<std::string>& lines, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEST(ZebhostTest, BadArgumentsPrintTheUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{},
          {"--module"},
          {"--module", FAKE_MODULE_PATH, "--sources", "x"},
          {"--module", FAKE_MODULE_PATH, "--fps", "0"},
          {"--module", FAKE_MODULE_PATH, "--bogus"},
          {"--module", FAKE_MODULE_PATH, "--seconds", "-1"}}) {
        ZebhostProcess zebhost(args);
        EXPECT_EQ(zebhost.wait(), 2);
        EXPECT_NE(zebhost.err().find("usage: zebhost --module FILE"), std::string::npos);
        EXPECT_EQ(zebhost.out(), "");
    }
}

TEST(ZebhostTest, ModuleThatCannotBeUsedEndsWithStatus2) {
    TempDir dir;
    writeFile(dir / "junk.so", "not a shared object");
    {
        ZebhostProcess zebhost({"--module", dir / "missing.so"});
        EXPECT_EQ(zebhost.wait(), 2);
        EXPECT_NE(zebhost.err().find("missing.so"), std::string::npos);
    }
    {
        ZebhostProcess zebhost({"--module", dir / "junk.so"});
        EXPECT_EQ(zebhost.wait(), 2);
        EXPECT_NE(zebhost.err().find("cannot load module"), std::string::npos);
    }
    {
        // A perfectly good shared object that is no module.
        ZebhostProcess zebhost({"--module", ZEB_LIBRARY_PATH});
        EXPECT_EQ(zebhost.wait(), 2);
        EXPECT_NE(zebhost.err().find("zeb_module_load"), std::string::npos) << zebhost.err();
    }
    {
        ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path()},
                               {{"FAKE_MODULE_TYPE", "other"}});
        EXPECT_EQ(zebhost.wait(), 2);
        EXPECT_NE(zebhost.err().find("no source type \"drivon\""), std::string::npos);
        EXPECT_EQ(zebhost.out(), "");
    }
}

TEST(ZebhostTest, TwoSourcesRenderAndReportOneJsonLineEach) {
    TempDir dir;
    ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--sources",
                            "2", "--seconds", "0.5", "--fps", "10"});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_EQ(zebhost.out(),
              "{\"source\":0,\"renders\":5,\"uploads\":3,\"solid_fills\":5,\"logo_draws\":0}\n"
              "{\"source\":1,\"renders\":5,\"uploads\":3,\"solid_fills\":5,\"logo_draws\":0}\n");

    const auto lines = splitLines(zebhost.err());
    const std::regex logLine("\\[[0-9]+\\] .*");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, logLine)) << line;
    }
    const std::string config = dir.path() + "/fake_module/";
    for (const std::string n : {"0", "1"}) {
        const int create = lineIndex(lines, "[300] [fake] create " + n + " config " + config);
        const int activate = lineIndex(lines, "[300] [fake] activate " + n);
        const int show = lineIndex(lines, "[300] [fake] show " + n);
        const int render =
            lineIndex(lines, "[400] [fake] first render " + n + " default effect yes");
        const int hide = lineIndex(lines, "[300] [fake] hide " + n);
        const int deactivate = lineIndex(lines, "[300] [fake] deactivate " + n);
        const int destroy = lineIndex(lines, "[300] [fake] destroy " + n + " after 5 renders");
        EXPECT_GE(create, 0) << zebhost.err();
        EXPECT_LT(create, activate);
        EXPECT_LT(activate, show);
        EXPECT_LT(show, render);
        EXPECT_LT(render, hide);
        EXPECT_LT(hide, deactivate);
        EXPECT_LT(deactivate, destroy);
    }
}

TEST(ZebhostTest, InactiveAndHiddenSourcesAreNeverActivatedOrShown) {
    TempDir dir;
    ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--seconds",
                            "0.2", "--fps", "10", "--inactive", "--hidden"});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    const std::string err = zebhost.err();
    for (const char* call : {"activate", "deactivate", "show", "hide"}) {
        EXPECT_EQ(err.find(std::string("[fake] ") + call), std::string::npos) << call;
    }
    EXPECT_NE(err.find("[300] [fake] destroy 0 after 2 renders"), std::string::npos) << err;
}

TEST(ZebhostTest, LogoInTheConfigFolderIsDrawn) {
    TempDir dir;
    ASSERT_EQ(os_mkdirs((dir / "fake_module").c_str()), MKDIR_SUCCESS);
    zeb_canvas_t* logo = zeb_canvas_create(4, 4);
    ASSERT_TRUE(zeb_canvas_write_png(logo, (dir / "fake_module/logo.png").c_str()));
    zeb_canvas_destroy(logo);
    ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--seconds",
                            "0.3", "--fps", "10"});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_EQ(zebhost.out(),
              "{\"source\":0,\"renders\":3,\"uploads\":2,\"solid_fills\":3,\"logo_draws\":3}\n");
}

TEST(ZebhostTest, SourceWhoseCreateFailsIsSkipped) {
    TempDir dir;
    ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--sources",
                            "2", "--seconds", "0.1", "--fps", "10"},
                           {{"FAKE_MODULE_FAIL_CREATE", "0"}});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_EQ(zebhost.out(),
              "{\"source\":1,\"renders\":1,\"uploads\":1,\"solid_fills\":1,\"logo_draws\":0}\n");
    EXPECT_NE(zebhost.err().find("source 0"), std::string::npos);
}

TEST(ZebhostTest, SnapshotsEverySecondAndAtExit) {
    TempDir dir;
    const std::string snapshots = dir / "new/snaps";
    ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--seconds",
                            "2", "--fps", "5", "--snapshots", snapshots});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_TRUE(fileExists(snapshots + "/source0-1.png"));
    EXPECT_TRUE(fileExists(snapshots + "/source0-2.png"));
    EXPECT_FALSE(fileExists(snapshots + "/source0-3.png"));
    EXPECT_FALSE(fileExists(snapshots + "/source0-0.png"));

    gs_image_file_t image;
    gs_image_file_init(&image, (snapshots + "/source0.png").c_str());
    ASSERT_TRUE(image.loaded);
    ASSERT_EQ(image.cx, 1280u);
    ASSERT_EQ(image.cy, 720u);
    const uint8_t* corner = image.texture_data + (size_t{719} * 1280 + 1279) * 4;
    EXPECT_EQ(corner[0], 255);
    EXPECT_EQ(corner[1], 0);
    EXPECT_EQ(corner[2], 0);
    EXPECT_EQ(corner[3], 255);
    gs_image_file_free(&image);
}

TEST(ZebhostTest, TerminationEndsTheRunWithCleanUpAndSummary) {
    TempDir dir;
    ZebhostProcess zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", dir.path(), "--seconds",
                            "600", "--fps", "10"});
    ASSERT_TRUE(zebhost.waitForStderr("[fake] first render 0")) << zebhost.err();
    zebhost.signal(SIGTERM);
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_NE(zebhost.err().find("[fake] destroy 0"), std::string::npos);
    EXPECT_TRUE(std::regex_match(zebhost.out(),
                                 std::regex("\\{\"source\":0,\"renders\":[0-9]+,\"uploads\":[0-9]+,"
                                            "\"solid_fills\":[0-9]+,\"logo_draws\":0\\}\n")))
        << zebhost.out();
}

} // namespace
