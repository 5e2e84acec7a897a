#include "platform/Paths.h"

#include "platform/IniTestFiles.h"

#include <unistd.h>

using IniTest::TempFolder;
using IniTest::writeFile;

namespace {

// ---- the settings file beside the program ------------------------------------------

struct BesideCase {
    const char* name;
    const char* program;
    const char* settings;
};

class SettingsFileBeside : public testing::TestWithParam<BesideCase> {};

TEST_P(SettingsFileBeside, LowerCasesTheNameOnly) {
    EXPECT_EQ(Paths::settingsFileBeside(GetParam().program), GetParam().settings);
}

const BesideCase BesideCases[] = {
    {"upper_case_with_extension", "/opt/Apps/RIPPER.EXE", "/opt/Apps/ripper.ini"},
    {"upper_case_without_extension", "/opt/Apps/RIPPER", "/opt/Apps/ripper.ini"},
    {"installed_program", "/usr/bin/velmora-ripper", "/usr/bin/velmora-ripper.ini"},
    {"dots_in_folder_and_name", "/a/B.c/Prog.Name.bin", "/a/B.c/prog.name.ini"},
    {"hidden_file_name", "/x/.Hidden", "/x/.hidden.ini"},
    {"in_root", "/Ripper", "/ripper.ini"},
    {"no_folder", "Ripper.exe", "ripper.ini"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SettingsFileBeside, testing::ValuesIn(BesideCases),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- environment-dependent folders -------------------------------------------------

// Points HOME and XDG_CONFIG_HOME into a temporary folder and puts them back afterwards.
class UserFolders : public testing::Test {
protected:
    void SetUp() override {
        saveEnv("HOME", SavedHome);
        saveEnv("XDG_CONFIG_HOME", SavedConfig);
        saveEnv("VELMORA_SETTINGS", SavedSettings);
        Home = Folder.file("home");
        std::filesystem::create_directories(Home + "/.config");
        ::setenv("HOME", Home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::unsetenv("VELMORA_SETTINGS");
    }
    void TearDown() override {
        restoreEnv("HOME", SavedHome);
        restoreEnv("XDG_CONFIG_HOME", SavedConfig);
        restoreEnv("VELMORA_SETTINGS", SavedSettings);
        Paths::setSettingsFileOverride("");
    }
    static void saveEnv(const char* name, std::optional<std::string>& slot) {
        const char* v = std::getenv(name);
        slot = v ? std::optional<std::string>(v) : std::nullopt;
    }
    static void restoreEnv(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }
    void userDirs(const std::string& text) { writeFile(Home + "/.config/user-dirs.dirs", text); }

    TempFolder Folder;
    std::string Home;
    std::optional<std::string> SavedHome, SavedConfig, SavedSettings;
};

TEST_F(UserFolders, ConfigFolderFollowsXdgConfigHome) {
    EXPECT_EQ(Paths::configFolder(), Home + "/.config");
    ::setenv("XDG_CONFIG_HOME", "/etc/xdg-test/", 1);
    EXPECT_EQ(Paths::configFolder(), "/etc/xdg-test");
    // A relative value is not allowed by the base directory rules and is ignored.
    ::setenv("XDG_CONFIG_HOME", "relative/conf", 1);
    EXPECT_EQ(Paths::configFolder(), Home + "/.config");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(Paths::configFolder(), Home + "/.config");
}

TEST_F(UserFolders, HomeWithTrailingSlash) {
    ::setenv("HOME", (Home + "/").c_str(), 1);
    EXPECT_EQ(Paths::homeFolder(), Home);
    EXPECT_EQ(Paths::musicFolder(), Home + "/Music");
}

struct MusicCase {
    const char* name;
    const char* userDirs; // nullptr: no user-dirs.dirs
    const char* music;    // "~" stands for the home folder
};

class MusicFolder : public UserFolders, public testing::WithParamInterface<MusicCase> {};

TEST_P(MusicFolder, FromUserDirsOrHome) {
    if (GetParam().userDirs)
        userDirs(GetParam().userDirs);
    std::string expected = GetParam().music;
    if (expected.front() == '~')
        expected = Home + expected.substr(1);
    EXPECT_EQ(Paths::musicFolder(), expected);
}

const MusicCase MusicCases[] = {
    {"no_user_dirs_file", nullptr, "~/Music"},
    {"home_relative", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n",
     "~/Tunes"},
    {"absolute", "XDG_MUSIC_DIR=\"/srv/music/\"\n", "/srv/music"},
    {"commented_out", "# XDG_MUSIC_DIR=\"$HOME/Other\"\n", "~/Music"},
    {"switched_off", "XDG_MUSIC_DIR=\"$HOME/\"\n", "~/Music"},
    {"relative_is_ignored", "XDG_MUSIC_DIR=\"music\"\n", "~/Music"},
    {"escaped_quote", "XDG_MUSIC_DIR=\"$HOME/My \\\"Music\\\"\"\n", "~/My \"Music\""},
    {"blanks_around", "  XDG_MUSIC_DIR = \"$HOME/Audio\"\n", "~/Audio"},
    {"other_prefix_only", "XDG_MUSIC_DIRS=\"$HOME/No\"\n", "~/Music"},
    {"unterminated", "XDG_MUSIC_DIR=\"$HOME/Half", "~/Half"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MusicFolder, testing::ValuesIn(MusicCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(UserFolders, UserDirsFollowsXdgConfigHome) {
    const std::string conf = Folder.file("conf");
    std::filesystem::create_directories(conf);
    writeFile(conf + "/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/FromXdg\"\n");
    ::setenv("XDG_CONFIG_HOME", conf.c_str(), 1);
    EXPECT_EQ(Paths::musicFolder(), Home + "/FromXdg");
}

TEST_F(UserFolders, SettingsFileOverrides) {
    const std::string program = Paths::programPath();
    const std::string beside = Paths::settingsFileBeside(program);
    // As root the test binary's folder is writable, so the file lies beside it.
    if (Paths::folderWritable(Paths::folderOf(program)))
        EXPECT_EQ(Paths::settingsFilePath(), beside);
    else
        EXPECT_EQ(Paths::settingsFilePath(), Home + "/.config/velmora-ripper.ini");
    ::setenv("VELMORA_SETTINGS", "/tmp/from-env.ini", 1);
    EXPECT_EQ(Paths::settingsFilePath(), "/tmp/from-env.ini");
    Paths::setSettingsFileOverride("/tmp/from-setter.ini");
    EXPECT_EQ(Paths::settingsFilePath(), "/tmp/from-setter.ini");
    Paths::setSettingsFileOverride("");
    EXPECT_EQ(Paths::settingsFilePath(), "/tmp/from-env.ini");
}

TEST(ProgramPath, IsThisTestProgram) {
    const std::string program = Paths::programPath();
    EXPECT_EQ(program.substr(program.find_last_of('/') + 1), "platform_tests");
    EXPECT_TRUE(Paths::fileExists(program));
    EXPECT_EQ(program.front(), '/');
}

// ---- files and folders -------------------------------------------------------------

TEST(FilesAndFolders, ExistenceTellsFilesFromFolders) {
    TempFolder folder;
    writeFile(folder.file("f"), "x");
    EXPECT_TRUE(Paths::fileExists(folder.file("f")));
    EXPECT_FALSE(Paths::folderExists(folder.file("f")));
    EXPECT_TRUE(Paths::folderExists(folder.path()));
    EXPECT_FALSE(Paths::fileExists(folder.path()));
    EXPECT_FALSE(Paths::fileExists(folder.file("none")));
    EXPECT_FALSE(Paths::folderExists(folder.file("none")));
    EXPECT_FALSE(Paths::fileExists(""));
    EXPECT_FALSE(Paths::folderExists(""));
}

TEST(FilesAndFolders, CreateFoldersMakesEveryLevel) {
    TempFolder folder;
    const std::string deep = folder.file("a/b c/d\\e:f/");
    EXPECT_TRUE(Paths::createFolders(deep));
    EXPECT_TRUE(Paths::folderExists(folder.file("a/b c/d\\e:f")));
    EXPECT_TRUE(Paths::createFolders(deep)); // already there
    EXPECT_TRUE(Paths::folderWritable(deep));
}

TEST(FilesAndFolders, CreateFoldersFailsBelowAFile) {
    TempFolder folder;
    writeFile(folder.file("file"), "x");
    EXPECT_FALSE(Paths::createFolders(folder.file("file")));
    EXPECT_FALSE(Paths::createFolders(folder.file("file/sub/deeper")));
    EXPECT_FALSE(Paths::createFolders(""));
    EXPECT_FALSE(Paths::folderWritable(folder.file("file")));
    EXPECT_FALSE(Paths::folderWritable(folder.file("none")));
}

// An installed program's folder is writable for root, but a package owns it: the
// settings go to the configuration folder instead.
TEST(FilesAndFolders, SettingsNeverBesideAnInstalledProgram) {
    TempFolder folder;
    EXPECT_TRUE(Paths::settingsBesideProgram(folder.file("")));
    for (const char* system : {"/usr/bin", "/usr/local/bin", "/usr", "/bin", "/sbin", "/opt/x"})
        EXPECT_FALSE(Paths::settingsBesideProgram(system)) << system;
    EXPECT_FALSE(Paths::settingsBesideProgram(folder.file("none")));
}

TEST(FilesAndFolders, FolderOf) {
    EXPECT_EQ(Paths::folderOf("/a/b/c"), "/a/b");
    EXPECT_EQ(Paths::folderOf("/c"), "/");
    EXPECT_EQ(Paths::folderOf("c"), ".");
}

} // namespace
