// Output names, the title rule and the partial files that tracks are written to.

#include "FileSizeLimit.h"
#include "TestDir.h"

#include "cdaccess/OutputFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace OutputFiles;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
    const auto b = ReadBytes(path);
    return {b.begin(), b.end()};
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Names in a folder that look like partial files.
std::vector<std::string> PartialFiles(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().filename().string().find(".partial-") != std::string::npos) {
            found.push_back(e.path().filename().string());
        }
    }
    return found;
}

template <typename F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

// ---------------------------------------------------------------------------
// The title rule

struct TitleRow {
    const char* name;
    std::string title;
};

class BadTitles : public testing::TestWithParam<TitleRow> {};

// Each of these would name a file outside the output folder, cut the name short, or
// name no file at all; the rule must refuse it however it is padded.
TEST_P(BadTitles, Refused) {
    EXPECT_TRUE(IsInvalidTitle(GetParam().title));
    const std::string name = OutputName("/m", GetParam().title, false);
    const std::string message = MessageOf([&] { CheckTitle(GetParam().title, name); });
    if (std::none_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; })) {
        EXPECT_EQ(message, "Invalid file name: " + name);
    } else {
        // Control characters are shown as \xHH: a NUL would cut the message short.
        EXPECT_THAT(message, testing::StartsWith("Invalid file name: /m/"));
        EXPECT_THAT(message, testing::EndsWith(".wav"));
        EXPECT_THAT(message, HasSubstr("\\x"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadTitles,
    testing::Values(
        TitleRow{"parent", "../escaped"}, TitleRow{"parent_deeper", "a/../../escaped"},
        TitleRow{"parent_last", "a/.."}, TitleRow{"dot", "./x"},
        TitleRow{"absolute", "/tmp/escaped"}, TitleRow{"blank_then_parent", " ../escaped"},
        TitleRow{"tab_then_parent", "\t../escaped"}, TitleRow{"parent_then_blank", "../x "},
        TitleRow{"control_then_absolute", "\x01/etc/x"},
        TitleRow{"blank_then_absolute", "  /etc/x"}, TitleRow{"tab_part", "a/\t/b"},
        TitleRow{"blank_part", "a/ /b"}, TitleRow{"padded_parent_part", "a/ .. /b"},
        TitleRow{"empty_part", "a//b"}, TitleRow{"trailing_slash", "Album/"},
        TitleRow{"nul_inside", std::string("../victim.conf\0x", 16)},
        TitleRow{"nul_plain", std::string("a\0b", 3)}, TitleRow{"escape_sequence", "a\x1b[2Jb"},
        TitleRow{"newline_inside", "a\nb"}, TitleRow{"delete_char", "a\x7f"}, TitleRow{"empty", ""},
        TitleRow{"blank", " \t "}),
    RowName);

class GoodTitles : public testing::TestWithParam<TitleRow> {};

TEST_P(GoodTitles, Accepted) {
    EXPECT_FALSE(IsInvalidTitle(GetParam().title));
    EXPECT_NO_THROW(CheckTitle(GetParam().title, "x"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GoodTitles,
    testing::Values(TitleRow{"plain", "Track01"}, TitleRow{"sub_folder", "Album/Song"},
                    TitleRow{"padded", " Song \t"}, TitleRow{"dots_in_name", "a..b"},
                    TitleRow{"three_dots", "..."}, TitleRow{"hidden", ".hidden"},
                    TitleRow{"utf8", "Caf\xc3\xa9"}, TitleRow{"windows_characters", "a\\b:c?"}),
    RowName);

struct NameRow {
    const char* name;
    const char* outDir;
    const char* title;
    bool mp3;
    const char* file;
};

class OutputNames : public testing::TestWithParam<NameRow> {};

TEST_P(OutputNames, AsTheGuiFormsThem) {
    const NameRow r = GetParam();
    EXPECT_EQ(OutputName(r.outDir, r.title, r.mp3), r.file);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutputNames,
    testing::Values(NameRow{"plain", "/m", "Track03", false, "/m/Track03.wav"},
                    NameRow{"trailing_slash", "/m/", "Track03", true, "/m/Track03.mp3"},
                    NameRow{"blanks_around", "  /m \t", " Song ", true, "/m/Song.mp3"},
                    NameRow{"sub_folder", "/m", "Album/Song", false, "/m/Album/Song.wav"},
                    NameRow{"odd_characters_kept", "/m", "a?b*:c\\d", true, "/m/a?b*:c\\d.mp3"}),
    RowName);

TEST(OutputNames, TrimControlRemovesCodesUpTo32Only) {
    EXPECT_EQ(TrimControl(std::string("\x01\x1f a b \x7f\n", 9)), "a b \x7f");
    EXPECT_EQ(TrimControl("   "), "");
    EXPECT_EQ(TrimControl("Caf\xc3\xa9"), "Caf\xc3\xa9");
}

TEST(OutputNames, BlankFolders) {
    EXPECT_TRUE(IsBlankFolder(""));
    EXPECT_TRUE(IsBlankFolder(" \t\n"));
    EXPECT_FALSE(IsBlankFolder(" /m "));
    EXPECT_FALSE(IsBlankFolder("/"));
}

struct EscapeRow {
    const char* name;
    std::string text;
    const char* shown;
};

class Escapes : public testing::TestWithParam<EscapeRow> {};

TEST_P(Escapes, ForTheTerminal) {
    EXPECT_EQ(EscapeControls(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, Escapes,
                         testing::Values(EscapeRow{"plain", "Song", "Song"},
                                         EscapeRow{"terminal_escape", "a\x1b[2Jb", "a\\x1B[2Jb"},
                                         EscapeRow{"tab_newline_return", "a\tb\nc\rd",
                                                   "a\\tb\\nc\\rd"},
                                         EscapeRow{"nul", std::string("a\0b", 3), "a\\x00b"},
                                         EscapeRow{"backslash", "a\\b", "a\\\\b"},
                                         EscapeRow{"delete", "a\x7f", "a\\x7F"},
                                         EscapeRow{"utf8_kept", "Caf\xc3\xa9", "Caf\xc3\xa9"}),
                         RowName);

// ---------------------------------------------------------------------------
// Partial files

enum class Before { Nothing, File, LinkToVictim, LinkToFolder, DanglingLink };

struct FateRow {
    const char* name;
    Before before;
    bool complete;
    const char* finalText; // what the final name holds afterwards ("" for nothing)
};

class PartialFates : public testing::TestWithParam<FateRow> {
protected:
    TestDir dir;
};

// "new" is written to the partial file; the final name held "old", a link to a victim
// file, a link to a folder, a link to nothing, or nothing.
TEST_P(PartialFates, FinalNameAfterTheTrack) {
    const FateRow row = GetParam();
    const std::string final = dir / "Track01.wav";
    WriteText(dir / "victim.txt", "victim");
    fs::create_directory(dir / "folder");
    std::string target;
    if (row.before == Before::File) {
        WriteText(final, "old");
    } else if (row.before == Before::LinkToVictim) {
        target = dir / "victim.txt";
    } else if (row.before == Before::LinkToFolder) {
        target = dir / "folder";
    } else if (row.before == Before::DanglingLink) {
        target = dir / "gone.wav";
    }
    if (!target.empty()) {
        ASSERT_EQ(::symlink(target.c_str(), final.c_str()), 0);
    }
    bool written = false;
    {
        TPartialFile file(final);
        EXPECT_EQ(file.PreviousExisted(), row.before != Before::Nothing);
        ASSERT_TRUE(file.Write("new", 3));
        // Nothing but the partial file is new while the track runs.
        EXPECT_EQ(PartialFiles(dir.path()).size(), 1u);
        written = file.Finish(row.complete);
    }
    EXPECT_EQ(ReadText(dir / "victim.txt"), "victim"); // never written through a link
    EXPECT_TRUE(fs::is_empty(dir / "folder"));         // nor into a linked folder
    EXPECT_FALSE(fs::exists(dir / "gone.wav"));        // nor made at a link's target
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
    EXPECT_EQ(written, std::string(row.finalText) == "new");
    struct stat st {};
    if (!target.empty() && !row.complete) {
        ASSERT_EQ(::lstat(final.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)); // the link stays a link, to the same target
        EXPECT_EQ(fs::read_symlink(final).string(), target);
        return;
    }
    ASSERT_EQ(::lstat(final.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadText(final), row.finalText);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PartialFates,
    testing::Values(FateRow{"complete_new", Before::Nothing, true, "new"},
                    FateRow{"complete_replaces_file", Before::File, true, "new"},
                    FateRow{"complete_replaces_link", Before::LinkToVictim, true, "new"},
                    FateRow{"early_keeps_previous", Before::File, false, "old"},
                    FateRow{"early_keeps_link", Before::LinkToVictim, false, "victim"},
                    FateRow{"complete_replaces_link_to_folder", Before::LinkToFolder, true, "new"},
                    FateRow{"early_keeps_link_to_folder", Before::LinkToFolder, false, ""},
                    FateRow{"complete_replaces_dangling_link", Before::DanglingLink, true, "new"},
                    FateRow{"early_keeps_dangling_link", Before::DanglingLink, false, ""},
                    FateRow{"early_without_previous_is_kept", Before::Nothing, false, "new"}),
    RowName);

TEST(PartialFile, NamedClearlyBesideTheFinalNameWithTheUsualMode) {
    TestDir dir;
    const mode_t mask = ::umask(022);
    TPartialFile file(dir / "Song.wav");
    ::umask(mask);
    const std::string temp = file.TempName();
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(dir.path()));
    EXPECT_THAT(fs::path(temp).filename().string(),
                testing::MatchesRegex("\\.Song\\.wav\\.partial-[A-Za-z0-9]{6}"));
    struct stat st {};
    ASSERT_EQ(::stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(fs::exists(dir / "Song.wav"));
}

TEST(PartialFile, TwoAtOnceForOneNameDoNotShareAFile) {
    TestDir dir;
    TPartialFile a(dir / "x.wav");
    TPartialFile b(dir / "x.wav");
    EXPECT_NE(a.TempName(), b.TempName());
    a.Write("disc one", 8);
    b.Write("disc two", 8);
    a.Finish(true);
    b.Finish(true);
    EXPECT_EQ(ReadText(dir / "x.wav"), "disc two"); // whole: the last rename wins
}

TEST(PartialFile, DroppedWithoutFinishLeavesNothing) {
    TestDir dir;
    WriteText(dir / "x.wav", "old");
    {
        TPartialFile file(dir / "x.wav");
        file.Write("new", 3);
    }
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
    EXPECT_EQ(ReadText(dir / "x.wav"), "old");
}

TEST(PartialFile, ALongNameStillGetsAPartialFile) {
    TestDir dir;
    const std::string final = dir / (std::string(251, 'a') + ".wav"); // 255 bytes: allowed
    TPartialFile file(final);
    EXPECT_EQ(fs::path(file.TempName()).filename().string().size(), 255u);
    file.Write("x", 1);
    file.Finish(true);
    EXPECT_EQ(ReadText(final), "x");
}

TEST(PartialFile, DeviceIsWrittenDirectly) {
    TPartialFile file("/dev/null");
    EXPECT_TRUE(file.Write("x", 1));
    EXPECT_TRUE(file.Finish(true));
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A pipe at the final name that nobody reads fails at once instead of hanging; one
// with a reader gets the bytes.
TEST(PartialFile, PipeWithoutReaderFailsAtOnce) {
    TestDir dir;
    const std::string fifo = dir / "Track01.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        TPartialFile file(fifo);
        ADD_FAILURE() << "opened a pipe without a reader";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file " + fifo + ": no program reads this pipe");
    }
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        TPartialFile file(fifo);
        EXPECT_TRUE(file.Write("pcm", 3));
        EXPECT_TRUE(file.Finish(true));
    }
    char got[4] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 3);
    EXPECT_STREQ(got, "pcm");
    ::close(reader);
}

struct CreateRow {
    const char* name;
    std::string file; // under the test folder
    const char* reason;
};

class UncreatableFiles : public testing::TestWithParam<CreateRow> {};

TEST_P(UncreatableFiles, GiveTheReason) {
    TestDir dir;
    fs::create_directory(dir / "folder.wav");
    WriteText(dir / "plain", "");
    const std::string name = dir / GetParam().file;
    EXPECT_EQ(MessageOf([&] { TPartialFile f(name); }),
              "Cannot create file " + name + ": " + GetParam().reason);
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UncreatableFiles,
    testing::Values(CreateRow{"is_a_folder", "folder.wav", "Is a directory"},
                    CreateRow{"name_too_long", std::string(300, 'n') + ".wav",
                              "File name too long"},
                    CreateRow{"missing_folder", "missing/x.wav", "No such file or directory"},
                    CreateRow{"file_as_folder", "plain/x.wav", "Not a directory"}),
    RowName);

TEST(PartialFile, FileSizeLimitFailsTheWriteWithItsReason) {
    TestDir dir;
    WriteText(dir / "x.wav", "old");
    TPartialFile file(dir / "x.wav");
    {
        FileSizeLimit limit(1000);
        const std::vector<char> data(4000, 'd');
        EXPECT_FALSE(file.Write(data.data(), data.size()));
    }
    EXPECT_EQ(ErrorText(file.Error()), "File too large");
    EXPECT_FALSE(file.Finish(false));
    EXPECT_EQ(ReadText(dir / "x.wav"), "old");
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

// A real full file system: a 64 KiB tmpfs, where the machine lets us mount one.
TEST(PartialFile, FullDiskFailsTheWriteAndKeepsThePreviousFile) {
    TestDir dir;
    const std::string mnt = dir / "small";
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << ErrorText(errno);
    }
    WriteText(mnt + "/x.wav", "old");
    {
        TPartialFile file(mnt + "/x.wav");
        const std::vector<char> data(256 * 1024, 'd');
        EXPECT_FALSE(file.Write(data.data(), data.size()));
        EXPECT_EQ(ErrorText(file.Error()), "No space left on device");
        EXPECT_FALSE(file.Finish(false));
    }
    EXPECT_EQ(ReadText(mnt + "/x.wav"), "old");
    EXPECT_TRUE(PartialFiles(mnt).empty());
    ::umount(mnt.c_str());
}
