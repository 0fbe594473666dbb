// zebhost's command line contract, run as a subprocess with the fake module.
#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "zebhost_process.h"

namespace {

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
        {{"--module", fake, "--record", ""}, usage},
        {{"--module", fake, "--record", dir / "no/clip.mp4"}, "cannot record to"},
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
        EXPECT_EQ(zebhost.err().find("[fake] create"), std::string::npos) << zebhost.err();
    }
}

TEST(ZebhostTest, HelpPrintsTheUsageOnStdoutAndRunsNothing) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"--module", FAKE_MODULE_PATH, "--help", "--x"}}) {
        Zebhost zebhost(args);
        EXPECT_EQ(zebhost.wait(), 0);
        EXPECT_EQ(zebhost.out().rfind("usage: zebhost --module FILE", 0), 0u) << zebhost.out();
        EXPECT_EQ(zebhost.err(), "");
    }
}

TEST(ZebhostTest, TwoSourcesGetTheHostCallsInOrderAndReportOneJsonLineEach) {
    TempDir config; // the default configuration root, from XDG_CONFIG_HOME
    Zebhost zebhost(
        {"--module", FAKE_MODULE_PATH, "--sources", "2", "--seconds", "0.5", "--fps", "10"},
        {{"XDG_CONFIG_HOME", config.path()}});
    ASSERT_EQ(zebhost.wait(), 0) << zebhost.err();
    EXPECT_EQ(zebhost.out(),
              "{\"source\":0,\"created\":true,\"renders\":5,\"uploads\":3,\"solid_fills\":5,"
              "\"logo_draws\":0}\n"
              "{\"source\":1,\"created\":true,\"renders\":5,\"uploads\":3,\"solid_fills\":5,"
              "\"logo_draws\":0}\n");
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
    // The first create fails: that source is skipped but still reported, the second one runs on
    // its own, and the status tells that not every source ran.
    Zebhost zebhost({"--module", FAKE_MODULE_PATH, "--config-dir", config.path(), "--sources", "2",
                     "--seconds", "2", "--fps", "5", "--snapshots", snaps, "--inactive",
                     "--hidden"},
                    {{"FAKE_MODULE_FAIL_CREATE", "0"}});
    ASSERT_EQ(zebhost.wait(), 3) << zebhost.err();
    EXPECT_EQ(zebhost.out(), "{\"source\":0,\"created\":false,\"renders\":0,\"uploads\":0,"
                             "\"solid_fills\":0,\"logo_draws\":0}\n"
                             "{\"source\":1,\"created\":true,\"renders\":10,\"uploads\":5,"
                             "\"solid_fills\":10,\"logo_draws\":0}\n");
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
    EXPECT_EQ(rgba(corner[0], corner[1], corner[2], corner[3]), rgba(0, 255, 0, 255));
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
                                 std::regex("\\{\"source\":0,\"created\":true,\"renders\":[0-9]+,"
                                            "\"uploads\":[0-9]+,"
                                            "\"solid_fills\":[0-9]+,\"logo_draws\":0\\}\n")))
        << zebhost.out();
}

// Without --fps and --seconds a run renders 30 frames a second for 10 seconds. The length is
// found without waiting it out: a run of N frames ends once N / fps seconds are over, and N is
// the length times the rate, rounded. At 0.0499 fps ten seconds round to no frame at all, so
// the run ends at once; at 0.0501 fps to one frame, drawn at once (the run is then stopped).
TEST(ZebhostTest, DefaultsAreThirtyFramesASecondForTenSeconds) {
    TempDir config;
    const auto run = [&](std::vector<std::string> timing, bool stopAfterFirstRender) {
        std::vector<std::string> args{"--module", FAKE_MODULE_PATH, "--config-dir", config.path()};
        args.insert(args.end(), timing.begin(), timing.end());
        Zebhost zebhost(args);
        if (stopAfterFirstRender) {
            // A run that draws nothing ends at once, with its destroy line.
            EXPECT_TRUE(waitFor([&] {
                const std::string err = zebhost.err();
                return err.find("[fake] first render 0") != std::string::npos ||
                       err.find("[fake] destroy 0") != std::string::npos;
            })) << zebhost.err();
            zebhost.signal(SIGTERM);
        }
        EXPECT_EQ(zebhost.wait(), 0) << zebhost.err();
        const std::string out = zebhost.out();
        std::smatch renders;
        EXPECT_TRUE(std::regex_search(out, renders, std::regex("\"renders\":([0-9]+)"))) << out;
        return renders.size() > 1 ? std::stoi(renders[1].str()) : -1;
    };
    EXPECT_EQ(run({"--seconds", "0.2"}, false), 6);
    EXPECT_EQ(run({"--fps", "0.0499"}, false), 0);
    EXPECT_EQ(run({"--fps", "0.0501"}, true), 1);
}

} // namespace
