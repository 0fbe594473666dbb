#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Path = std::unique_ptr<char, void (*)(void*)>;

TEST(FilesTest, ConfigPathIsAFolderPerModuleUnderTheRoot) {
    zeb_module_t* module = zeb_runner_module_create("drivon");
    zeb_runner_set_config_root("/srv/conf/");
    const Path folder(zeb_module_get_config_path(module, nullptr), bfree);
    const Path file(zeb_module_get_config_path(module, "dv_logo.png"), bfree);
    EXPECT_STREQ(folder.get(), "/srv/conf/drivon/");
    EXPECT_STREQ(file.get(), "/srv/conf/drivon/dv_logo.png");
    EXPECT_EQ(zeb_module_get_config_path(nullptr, "dv_logo.png"), nullptr);

    zeb_runner_set_config_root(nullptr); // the default root comes from the environment: see zebhost
    zeb_runner_module_destroy(module);
}

// The calls of the logo installation, in its order: make the folder, size the file already
// there, put the new one in place through the safe writer.
TEST(FilesTest, FolderFileSizeAndSafeWriterCalls) {
    TempDir dir;
    const std::string folder = dir / "a/b/c", target = folder + "/dv_logo.png", old(9018, 'x');
    EXPECT_EQ(os_mkdirs(folder.c_str()), MKDIR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(os_mkdirs(folder.c_str()), MKDIR_EXISTS);
    EXPECT_EQ(os_mkdirs((folder + "/").c_str()), MKDIR_EXISTS);
    writeFile(target, old);
    EXPECT_EQ(os_mkdirs(target.c_str()), MKDIR_ERROR);
    EXPECT_EQ(os_mkdirs((target + "/sub").c_str()), MKDIR_ERROR);

    FILE* file = os_fopen(target.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fseek(file, 10, SEEK_SET), 0);
    EXPECT_EQ(os_fgetsize(file), 9018);
    EXPECT_EQ(ftell(file), 10);
    fclose(file);
    EXPECT_EQ(os_fopen((dir / "missing").c_str(), "rb"), nullptr);

    serializer s;
    ASSERT_TRUE(file_output_serializer_init_safe(&s, target.c_str(), "tmp"));
    EXPECT_EQ(s.write(s.data, "new content", 11), 11u);
    EXPECT_EQ(readFile(target), old);
    EXPECT_TRUE(std::filesystem::exists(target + ".tmp"));
    file_output_serializer_free(&s);
    EXPECT_EQ(readFile(target), "new content");
    EXPECT_FALSE(std::filesystem::exists(target + ".tmp"));

    memset(&s, 0xAB, sizeof(s)); // a failed open must not leave stale pointers behind
    EXPECT_FALSE(file_output_serializer_init_safe(&s, (dir / "no/dv_logo.png").c_str(), "tmp"));
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.write, nullptr);
    file_output_serializer_free(&s); // harmless on a writer that never opened
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

// Files of this process may not grow past `bytes` while it lives; a write beyond fails with
// EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, saved.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved{};
    sighandler_t previousHandler = SIG_DFL;
};

// A write that fails, whether at once (too much for the buffer) or only when the buffer is
// flushed at the end, must leave the old file in place and no temporary file behind.
TEST(FilesTest, SafeWriterKeepsTheOldFileWhenAWriteFails) {
    TempDir dir;
    const std::string target = dir / "dv_logo.png", old = "the old logo";
    const struct {
        const char* name;
        size_t bytes;
        rlim_t limit;
    } cases[] = {
        {"refused by write", 20000, 1000}, // beyond any stdio buffer: written through at once
        {"refused by flush", 100, 10},     // buffered until the writer is freed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(target, old);
        LogCapture log;
        {
            FileSizeLimit limit(c.limit);
            serializer s;
            ASSERT_TRUE(file_output_serializer_init_safe(&s, target.c_str(), "tmp"));
            const std::string content(c.bytes, 'n');
            s.write(s.data, content.data(), content.size());
            file_output_serializer_free(&s);
        }
        EXPECT_EQ(readFile(target), old);
        EXPECT_FALSE(std::filesystem::exists(target + ".tmp"));
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].level, LOG_WARNING);
    }
}

} // namespace
