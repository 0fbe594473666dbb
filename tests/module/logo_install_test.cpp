#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "module/logo_image.h"
#include "tests/module/loaded_module.h"

namespace {

std::string embedded() {
    const auto bytes = embeddedLogo();
    return std::string(bytes.begin(), bytes.end());
}

// Loads the module afresh (its logo-installed flag starts false), makes and destroys one
// instance.
void createOnce(LoadedModule& module) {
    ASSERT_TRUE(module.ok());
    void* instance = module.source().create(nullptr, nullptr);
    ASSERT_NE(instance, nullptr);
    module.source().destroy(instance);
}

} // namespace

TEST(LogoInstall, TheFirstCreateInstallsTheLogoIntoAMissingFolder) {
    TempConfigRoot root;
    LoadedModule module;
    EXPECT_FALSE(fileExists(root.logoPath())) << "installed at load, not at the first create";
    createOnce(module);
    EXPECT_EQ(readFile(root.logoPath()), embedded());
    EXPECT_FALSE(fileExists(root.logoPath() + ".tmp"));
}

TEST(LogoInstall, AFileOfTheEmbeddedSizeIsTakenAsInstalled) {
    TempConfigRoot root;
    const std::string other(embeddedLogo().size(), 'x');
    writeFile(root.logoPath(), other);
    LoadedModule module;
    createOnce(module);
    EXPECT_EQ(readFile(root.logoPath()), other);
}

TEST(LogoInstall, AFileOneByteShorterOrLongerIsReplaced) {
    for (const size_t size : {embeddedLogo().size() - 1, embeddedLogo().size() + 1}) {
        SCOPED_TRACE(size);
        TempConfigRoot root;
        writeFile(root.logoPath(), std::string(size, 'x'));
        LoadedModule module;
        createOnce(module);
        EXPECT_EQ(readFile(root.logoPath()), embedded());
    }
}

TEST(LogoInstall, LaterCreatesDoNotTouchTheFileAgain) {
    TempConfigRoot root;
    LoadedModule module;
    createOnce(module);
    ASSERT_TRUE(fileExists(root.logoPath()));
    std::filesystem::remove(root.logoPath());
    createOnce(module);
    EXPECT_FALSE(fileExists(root.logoPath()));
    writeFile(root.logoPath(), "short");
    createOnce(module);
    EXPECT_EQ(readFile(root.logoPath()), "short");
}

TEST(LogoInstall, TwoFirstCreatesAtOnceBothSucceedWithOneLogo) {
    TempConfigRoot root;
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    void* instances[2] = {nullptr, nullptr};
    std::thread first([&] { instances[0] = module.source().create(nullptr, nullptr); });
    std::thread second([&] { instances[1] = module.source().create(nullptr, nullptr); });
    first.join();
    second.join();
    EXPECT_NE(instances[0], nullptr);
    EXPECT_NE(instances[1], nullptr);
    EXPECT_EQ(readFile(root.logoPath()), embedded());
    for (void* instance : instances) {
        if (instance) {
            module.source().destroy(instance);
        }
    }
}

TEST(LogoInstall, WithoutAConfigurationPathTheSourceStillWorks) {
    TempConfigRoot root;
    LoadedModule module(LoadedModule::Handle::None);
    createOnce(module);
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
}
