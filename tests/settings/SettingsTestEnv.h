#pragma once

// A private home for the settings tests: HOME, XDG_CONFIG_HOME and the settings file
// all point into a temporary folder, so that nothing beside the test program or in the
// real home folder is touched.

#include "platform/IniTestFiles.h"
#include "platform/Paths.h"
#include "settings/globals.h"

#include <optional>

namespace SettingsTest {

class PrivateHome : public testing::Test {
protected:
    void SetUp() override {
        save("HOME", SavedHome);
        save("XDG_CONFIG_HOME", SavedConfig);
        Home = Folder.file("home");
        Config = Folder.file("config");
        std::filesystem::create_directories(Home);
        ::setenv("HOME", Home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", Config.c_str(), 1);
        SettingsFile = Folder.file("velmora-ripper.ini");
        Paths::setSettingsFileOverride(SettingsFile);
        SetDefaultSettings();
    }
    void TearDown() override {
        Paths::setSettingsFileOverride("");
        restore("HOME", SavedHome);
        restore("XDG_CONFIG_HOME", SavedConfig);
    }
    static void save(const char* name, std::optional<std::string>& slot) {
        const char* v = std::getenv(name);
        slot = v ? std::optional<std::string>(v) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }

    IniTest::TempFolder Folder;
    std::string Home, Config, SettingsFile;
    std::optional<std::string> SavedHome, SavedConfig;
};

} // namespace SettingsTest
