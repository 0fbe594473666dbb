#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// Sets or unsets an environment variable for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string takePath(char* path) {
    std::string copy = path ? path : "(null)";
    bfree(path);
    return copy;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class ConfigPathTest : public ::testing::Test {
protected:
    void TearDown() override {
        zeb_runner_set_config_root(nullptr);
        zeb_runner_module_destroy(module);
    }
    zeb_module_t* module = zeb_runner_module_create("drivon");
};

TEST_F(ConfigPathTest, FolderAndFileUnderTheConfiguredRoot) {
    zeb_runner_set_config_root("/srv/conf/");
    EXPECT_EQ(takePath(zeb_module_get_config_path(module, nullptr)), "/srv/conf/drivon/");
    EXPECT_EQ(takePath(zeb_module_get_config_path(module, "dv_logo.png")),
              "/srv/conf/drivon/dv_logo.png");
    EXPECT_EQ(zeb_module_get_config_path(nullptr, "dv_logo.png"), nullptr);
}

TEST_F(ConfigPathTest, DefaultRootFollowsXdgThenHome) {
    ScopedEnv home("HOME", "/home/tester");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(takePath(zeb_module_get_config_path(module, "a")), "/xdg/zebhost/drivon/a");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(takePath(zeb_module_get_config_path(module, "a")),
                  "/home/tester/.config/zebhost/drivon/a");
    }
}

TEST(FilesTest, MkdirsMakesParentsAndReportsExisting) {
    TempDir dir;
    const std::string deep = dir / "a/b/c";
    EXPECT_EQ(os_mkdirs(deep.c_str()), MKDIR_SUCCESS);
    EXPECT_TRUE(isDirectory(deep));
    EXPECT_EQ(os_mkdirs(deep.c_str()), MKDIR_EXISTS);
    EXPECT_EQ(os_mkdirs((deep + "/").c_str()), MKDIR_EXISTS);

    writeFile(dir / "file", "x");
    EXPECT_EQ(os_mkdirs((dir / "file/sub").c_str()), MKDIR_ERROR);
    EXPECT_EQ(os_mkdirs((dir / "file").c_str()), MKDIR_ERROR);
}

TEST(FilesTest, SizeOfAnOpenFileKeepsItsPosition) {
    TempDir dir;
    writeFile(dir / "logo", std::string(9018, 'x'));
    FILE* file = os_fopen((dir / "logo").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fseek(file, 10, SEEK_SET), 0);
    EXPECT_EQ(os_fgetsize(file), 9018);
    EXPECT_EQ(ftell(file), 10);
    fclose(file);
    EXPECT_EQ(os_fopen((dir / "missing").c_str(), "rb"), nullptr);
}

TEST(SafeWriterTest, TargetChangesOnlyWhenTheWriterIsFreed) {
    TempDir dir;
    const std::string target = dir / "dv_logo.png";
    writeFile(target, "old");
    serializer s;
    ASSERT_TRUE(file_output_serializer_init_safe(&s, target.c_str(), "tmp"));
    ASSERT_NE(s.write, nullptr);
    EXPECT_EQ(s.write(s.data, "new content", 11), 11u);
    EXPECT_EQ(s.get_pos(s.data), 11);
    // Still the old file; the new one only in the temporary.
    EXPECT_EQ(readFile(target), "old");
    EXPECT_TRUE(fileExists(target + ".tmp"));

    file_output_serializer_free(&s);
    EXPECT_EQ(readFile(target), "new content");
    EXPECT_FALSE(fileExists(target + ".tmp"));
}

TEST(SafeWriterTest, FailedOpenLeavesNothing) {
    TempDir dir;
    const std::string target = dir / "missing-folder/dv_logo.png";
    serializer s;
    s.write = nullptr;
    EXPECT_FALSE(file_output_serializer_init_safe(&s, target.c_str(), "tmp"));
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.write, nullptr);
    file_output_serializer_free(&s); // harmless on a writer that never opened
    EXPECT_FALSE(fileExists(dir / "missing-folder"));
}

} // namespace
