#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "tests/module/loaded_module.h"

namespace {

void createOnce(LoadedModule& module) {
    ASSERT_TRUE(module.ok());
    void* instance = module.source().create(nullptr, nullptr);
    ASSERT_NE(instance, nullptr);
    module.source().destroy(instance);
}

} // namespace

// Only the size of a file already there counts, not its content.
TEST(LogoInstall, TheFirstCreateWritesTheLogoUnlessAFileOfItsSizeIsThere) {
    const std::string logo = embeddedLogoFile();
    const std::string sameSize(logo.size(), 'x');
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, logo}, // no folder yet
        {sameSize, sameSize},
        {std::string(logo.size() - 1, 'x'), logo},
        {std::string(logo.size() + 1, 'x'), logo},
    };
    for (const auto& [before, after] : cases) {
        SCOPED_TRACE(before ? before->size() : 0);
        LoadedModule module;
        const std::string path = module.config.logoPath();
        EXPECT_FALSE(std::filesystem::exists(path)) << "installed at load, not at the first create";
        if (before) {
            writeFile(path, *before);
        }
        createOnce(module);
        EXPECT_EQ(readFile(path), after);
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
}

TEST(LogoInstall, TwoFirstCreatesAtOnceInstallOneLogoAndLaterCreatesLeaveTheFileAlone) {
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    const std::string path = module.config.logoPath();
    void* instances[2] = {nullptr, nullptr};
    std::thread other([&] { instances[0] = module.source().create(nullptr, nullptr); });
    instances[1] = module.source().create(nullptr, nullptr);
    other.join();
    EXPECT_EQ(readFile(path), embeddedLogoFile());
    for (void* instance : instances) {
        EXPECT_NE(instance, nullptr);
        if (instance) {
            module.source().destroy(instance);
        }
    }
    std::filesystem::remove(path);
    createOnce(module);
    EXPECT_FALSE(std::filesystem::exists(path));
    writeFile(path, "short");
    createOnce(module);
    EXPECT_EQ(readFile(path), "short");
}

TEST(LogoInstall, WithoutAConfigurationPathTheSourceStillWorks) {
    LoadedModule module(false);
    createOnce(module);
    EXPECT_TRUE(std::filesystem::is_empty(module.config.root));
}
