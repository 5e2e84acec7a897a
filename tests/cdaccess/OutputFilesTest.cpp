// Output names, the title rule and the partial files that tracks are written to.

#include "FileSizeLimit.h"
#include "TestDir.h"

#include "cdaccess/OutputFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
                    NameRow{"odd_characters_kept", "/m", "a?b*:c\\d", true, "/m/a?b*:c\\d.mp3"},
                    // A leading "." would hide the file: U+2024 (E2 80 A4) looks the same.
                    NameRow{"leading_dot", "/m", ".hidden", false, "/m/\xE2\x80\xA4hidden.wav"},
                    NameRow{"leading_dots_of_a_folder", "/m", "..a/...b", true,
                            "/m/\xE2\x80\xA4\xE2\x80\xA4"
                            "a/\xE2\x80\xA4\xE2\x80\xA4\xE2\x80\xA4"
                            "b.mp3"},
                    NameRow{"inner_dots_kept", "/m", "a..b.", false, "/m/a..b..wav"}),
    RowName);

struct LongNameRow {
    const char* name;
    std::string title;
    bool mp3;
    std::string file; // under /m/
    bool shortened;
};

class LongNames : public testing::TestWithParam<LongNameRow> {};

// A file name is at most 255 bytes: a longer title is cut at a character boundary and
// keeps its extension; each folder part is cut the same way.
TEST_P(LongNames, CutToAFileName) {
    const LongNameRow& r = GetParam();
    const TOutputName n = MakeOutputName("/m", r.title, r.mp3);
    EXPECT_EQ(n.Path, "/m/" + r.file);
    EXPECT_EQ(n.Shortened, r.shortened);
    EXPECT_EQ(OutputName("/m", r.title, r.mp3), n.Path);
}

// "\xC3\xA9" is one character of two bytes (U+00E9).
INSTANTIATE_TEST_SUITE_P(
    Rows, LongNames,
    testing::Values(LongNameRow{"fits_exactly", std::string(251, 'a'), false,
                                std::string(251, 'a') + ".wav", false},
                    LongNameRow{"one_byte_over", std::string(252, 'a'), true,
                                std::string(251, 'a') + ".mp3", true},
                    LongNameRow{"cut_before_a_split_character",
                                std::string(250, 'a') + "\xC3\xA9"
                                                        "b",
                                false, std::string(250, 'a') + ".wav", true},
                    LongNameRow{"character_that_just_fits",
                                std::string(249, 'a') + "\xC3\xA9"
                                                        "b",
                                false, std::string(249, 'a') + "\xC3\xA9.wav", true},
                    LongNameRow{"folder_part", std::string(300, 'f') + "/x", false,
                                std::string(255, 'f') + "/x.wav", true},
                    LongNameRow{"folder_part_fits", std::string(255, 'f') + "/x", false,
                                std::string(255, 'f') + "/x.wav", false}),
    RowName);

struct OutsideRow {
    const char* name;
    std::string title;
    std::string file; // the title as it names a file
};

class OutsideTitles : public testing::TestWithParam<OutsideRow> {};

// A "/" in a CD-TEXT or MusicBrainz title is part of the name, never a folder.
TEST_P(OutsideTitles, NameOneFile) {
    const OutsideRow& r = GetParam();
    EXPECT_EQ(TitleFromOutside(r.title), r.file);
    EXPECT_FALSE(IsInvalidTitle(TitleFromOutside(r.title)));
    EXPECT_EQ(fs::path(OutputName("/m", TitleFromOutside(r.title), true)).parent_path(), "/m");
}

// U+2215 is E2 88 95.
INSTANTIATE_TEST_SUITE_P(Rows, OutsideTitles,
                         testing::Values(OutsideRow{"slash", "AC/DC",
                                                    "AC\xE2\x88\x95"
                                                    "DC"},
                                         OutsideRow{"two_slashes", "Either/Or/",
                                                    "Either\xE2\x88\x95Or\xE2\x88\x95"},
                                         OutsideRow{"parent", "../x", "..\xE2\x88\x95x"},
                                         OutsideRow{"leading_slash", "/etc",
                                                    "\xE2\x88\x95"
                                                    "etc"},
                                         OutsideRow{"tab_inside", "a\tb", "a b"},
                                         OutsideRow{"escape_inside", "a\x1b[2Jb", "a [2Jb"},
                                         OutsideRow{"plain", "Song", "Song"}),
                         RowName);

struct SafeRow {
    const char* name;
    std::string text;
    std::size_t max;
    std::string file;
};

class SafeNames : public testing::TestWithParam<SafeRow> {};

TEST_P(SafeNames, OneVisibleFileName) {
    const SafeRow& r = GetParam();
    const std::string n = SafeFileName(r.text, r.max, "rip");
    EXPECT_EQ(n, r.file);
    EXPECT_LE(n.size(), r.max);
    EXPECT_EQ(n.find('/'), std::string::npos);
    EXPECT_EQ(EscapeControls(n), n);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SafeNames,
    testing::Values(SafeRow{"plain", "Album", 244, "Album"},
                    SafeRow{"nul_and_parents", std::string("a\0b/../../c", 11), 244, "ab-..-..-c"},
                    SafeRow{"terminal_title_sequence",
                            "\x1b]0;owned\x07"
                            "Album",
                            244, "]0;ownedAlbum"},
                    SafeRow{"c1_control",
                            "a\xC2\x9b"
                            "31mb",
                            244, "a31mb"},
                    SafeRow{"leading_dot", ".Album", 244,
                            "\xE2\x80\xA4"
                            "Album"},
                    SafeRow{"blank", " \t\n", 244, "rip"}, SafeRow{"empty", "", 244, "rip"},
                    SafeRow{"only_controls", "\x01\x02", 244, "rip"},
                    SafeRow{"long", std::string(300, 'x'), 244, std::string(244, 'x')},
                    SafeRow{"long_utf8", std::string(243, 'x') + "\xC3\xA9", 244,
                            std::string(243, 'x')}),
    RowName);

TEST(OutputNames, LongTextIsCutOnceForTheTerminal) {
    const std::string title(3'000'000, 't');
    const std::string shown = ShortForTerminal(title);
    EXPECT_EQ(shown, std::string(300, 't') + "... (3000000 bytes)");
    EXPECT_EQ(ShortForTerminal("a\x1b"
                               "b"),
              "a\\x1Bb");
    EXPECT_EQ(ShortForTerminal(std::string(300, 'x')), std::string(300, 'x'));
}

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
                                         EscapeRow{"utf8_kept", "Caf\xc3\xa9", "Caf\xc3\xa9"},
                                         // U+009B, the one-character CSI, in UTF-8.
                                         EscapeRow{"c1_csi",
                                                   "a\xc2\x9b"
                                                   "2Jb",
                                                   "a\\u009B2Jb"},
                                         EscapeRow{"c1_edge_kept", "\xc2\xa0", "\xc2\xa0"}),
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
    EXPECT_TRUE(a.Finish(true));
    // The name was free when b began: a's file, which appeared meanwhile, stays.
    EXPECT_EQ(MessageOf([&] { b.Finish(true); }), "Cannot create file " + (dir / "x.wav") + ": " +
                                                      (dir / "x.wav") +
                                                      " already exists (--overwrite replaces it)");
    EXPECT_EQ(ReadText(dir / "x.wav"), "disc one");
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

namespace {
// What renameat2 does in this test program: 0 is the system call; EINVAL fails it as a
// file system without RENAME_NOREPLACE does, ENOSYS as a kernel without the call.
std::atomic<int> RenameAt2Fails{0};
} // namespace

// Stands in for the C library's renameat2 (the partial file's rename that never
// replaces), so that a row can take the link() way that such systems need.
extern "C" int renameat2(int oldDir, const char* oldPath, int newDir, const char* newPath,
                         unsigned int flags) noexcept {
    if (const int error = RenameAt2Fails.load(); error != 0) {
        errno = error;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_renameat2, oldDir, oldPath, newDir, newPath, flags));
}

enum class Meanwhile { Nothing, FileAppears, FileReplaced };

struct ReplaceRow {
    const char* name;
    bool before;         // "old" was under the name when the partial file was made
    Meanwhile meanwhile; // what another program did while the track ran
    TReplace replace;
    bool complete;
    const char* finalText;  // the final name's content afterwards
    bool fails;             // Finish throws "already exists"
    int renameAt2Fails = 0; // renameat2 fails with this error number (0: it works)
};

class PartialReplace : public testing::TestWithParam<ReplaceRow> {};

TEST_P(PartialReplace, OnlyWhatMayBeReplacedIs) {
    const ReplaceRow& r = GetParam();
    TestDir dir;
    const std::string final = dir / "Track01.wav";
    if (r.before) {
        WriteText(final, "old");
    }
    TPartialFile file(final, TPartialOptions{r.replace, false});
    ASSERT_TRUE(file.Write("new", 3));
    if (r.meanwhile == Meanwhile::FileAppears) {
        WriteText(final, "other");
    } else if (r.meanwhile == Meanwhile::FileReplaced) {
        WriteText(dir / "other", "other");
        ASSERT_EQ(::rename((dir / "other").c_str(), final.c_str()), 0);
    }
    RenameAt2Fails = r.renameAt2Fails;
    const std::string message = MessageOf([&] { file.Finish(r.complete); });
    RenameAt2Fails = 0;
    EXPECT_EQ(message, r.fails ? "Cannot create file " + final + ": " + final +
                                     " already exists (--overwrite replaces it)"
                               : "(no error)");
    EXPECT_EQ(ReadText(final), r.finalText);
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PartialReplace,
    testing::Values(ReplaceRow{"free_name", false, Meanwhile::Nothing, TReplace::WhatWasThere, true,
                               "new", false},
                    ReplaceRow{"name_appears", false, Meanwhile::FileAppears,
                               TReplace::WhatWasThere, true, "other", true},
                    ReplaceRow{"name_appears_early_end", false, Meanwhile::FileAppears,
                               TReplace::WhatWasThere, false, "other", false},
                    ReplaceRow{"name_appears_overwrite", false, Meanwhile::FileAppears,
                               TReplace::Anything, true, "new", false},
                    ReplaceRow{"chosen_replacement", true, Meanwhile::Nothing,
                               TReplace::WhatWasThere, true, "new", false},
                    ReplaceRow{"chosen_replacement_replaced_meanwhile", true,
                               Meanwhile::FileReplaced, TReplace::WhatWasThere, true, "new", false},
                    ReplaceRow{"nothing_free", false, Meanwhile::Nothing, TReplace::Nothing, true,
                               "new", false},
                    ReplaceRow{"nothing_taken", true, Meanwhile::Nothing, TReplace::Nothing, true,
                               "old", true},
                    // Without RENAME_NOREPLACE: link() then unlink() of the partial file.
                    ReplaceRow{"free_name_by_link", false, Meanwhile::Nothing,
                               TReplace::WhatWasThere, true, "new", false, EINVAL},
                    ReplaceRow{"name_appears_by_link", false, Meanwhile::FileAppears,
                               TReplace::WhatWasThere, true, "other", true, ENOSYS},
                    ReplaceRow{"name_appears_early_end_by_link", false, Meanwhile::FileAppears,
                               TReplace::WhatWasThere, false, "other", false, EINVAL},
                    ReplaceRow{"nothing_taken_by_link", true, Meanwhile::Nothing, TReplace::Nothing,
                               true, "old", true, ENOSYS},
                    ReplaceRow{"chosen_replacement_needs_no_link", true, Meanwhile::Nothing,
                               TReplace::WhatWasThere, true, "new", false, EINVAL}),
    RowName);

TEST(PartialFile, EncoderThreadsGetTheirOwnFiles) {
    TestDir dir;
    constexpr int Threads = 8;
    constexpr int Each = 50;
    std::vector<std::vector<std::string>> names(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < Each; ++i) {
                TPartialFile f(dir / ("t" + std::to_string(t) + "-" + std::to_string(i)));
                names[static_cast<std::size_t>(t)].push_back(f.TempName());
                f.Finish(true);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::set<std::string> all;
    for (const auto& list : names) {
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(Threads * Each));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
              Threads * Each);
}

// A title of many parts makes folders until the path is too long; a track that fails
// takes its folders with it, but never one that holds something.
TEST(PartialFile, FoldersOfAFailedTrackAreRemoved) {
    TestDir dir;
    std::string deep = dir / "keep";
    fs::create_directory(deep);
    WriteText(deep + "/other.wav", "other");
    for (int i = 0; i < 2100; ++i) {
        deep += "/p";
    }
    const std::string name = deep + "/x.wav";
    EXPECT_EQ(MessageOf([&] {
                  TPartialFile f(name, TPartialOptions{TReplace::WhatWasThere, true});
              }),
              "Cannot create file " + name + ": File name too long");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "keep"), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadText(dir / "keep/other.wav"), "other");
}

TEST(PartialFile, FoldersOfADiscardedOrRefusedTrackAreRemoved) {
    TestDir dir;
    {
        TPartialFile f(dir / "a/b/x.wav", TPartialOptions{TReplace::WhatWasThere, true});
        EXPECT_TRUE(fs::is_directory(dir / "a/b"));
        f.Discard();
    }
    EXPECT_FALSE(fs::exists(dir / "a"));
    fs::create_directory(dir / "c");
    {
        TPartialFile f(dir / "c/d/x.wav", TPartialOptions{TReplace::WhatWasThere, true});
        TPartialFile g(dir / "c/d/x.wav", TPartialOptions{TReplace::WhatWasThere, true});
        f.Write("f", 1);
        EXPECT_TRUE(f.Finish(true));
        EXPECT_THAT(MessageOf([&] { g.Finish(true); }), HasSubstr("already exists"));
    }
    EXPECT_EQ(ReadText(dir / "c/d/x.wav"), "f"); // the folder holds f's file: it stays
    {
        TPartialFile f(dir / "e/x.wav", TPartialOptions{TReplace::WhatWasThere, true});
        f.Write("f", 1);
        EXPECT_TRUE(f.Finish(true));
    }
    EXPECT_EQ(ReadText(dir / "e/x.wav"), "f");
}

// Under a folder that cannot be written the reason is mkdir's, not "No such file".
TEST(PartialFile, ReadOnlyParentGivesItsReason) {
    TestDir dir;
    const std::string ro = dir / "ro";
    fs::create_directory(ro);
    std::string reason = "Permission denied";
    if (::geteuid() == 0) {
        // Permissions do not stop root: a read-only file system does.
        if (::mount("tmpfs", ro.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << ErrorText(errno);
        }
        reason = "Read-only file system";
    } else {
        fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const std::string name = ro + "/Album/x.wav";
    EXPECT_EQ(MessageOf([&] {
                  TPartialFile f(name, TPartialOptions{TReplace::WhatWasThere, true});
              }),
              "Cannot create file " + name + ": " + reason);
    if (::geteuid() == 0) {
        ::umount(ro.c_str());
    } else {
        fs::permissions(ro, fs::perms::owner_all);
    }
}

struct WholeRow {
    const char* name;
    bool before;
    TReplace replace;
    bool written;
    int error;
    const char* text; // the name's content afterwards
};

class WholeFiles : public testing::TestWithParam<WholeRow> {};

TEST_P(WholeFiles, WrittenLikeATrack) {
    const WholeRow& r = GetParam();
    TestDir dir;
    if (r.before) {
        WriteText(dir / "report.json", "old");
    }
    int error = -1;
    EXPECT_EQ(WriteWholeFile(dir / "report.json", "{}\n", r.replace, error), r.written);
    EXPECT_EQ(error, r.error);
    EXPECT_EQ(ReadText(dir / "report.json"), r.text);
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WholeFiles,
    testing::Values(WholeRow{"new", false, TReplace::Nothing, true, 0, "{}\n"},
                    WholeRow{"taken", true, TReplace::Nothing, false, EEXIST, "old"},
                    WholeRow{"replaced", true, TReplace::Anything, true, 0, "{}\n"},
                    WholeRow{"chosen", true, TReplace::WhatWasThere, true, 0, "{}\n"}),
    RowName);

TEST(WholeFile, FullDiskLeavesNoShortFile) {
    TestDir dir;
    const std::string mnt = dir / "small";
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << ErrorText(errno);
    }
    WriteText(mnt + "/old.log", "old");
    int error = 0;
    EXPECT_FALSE(
        WriteWholeFile(mnt + "/new.log", std::string(256 * 1024, 'l'), TReplace::Nothing, error));
    EXPECT_EQ(ErrorText(error), "No space left on device");
    EXPECT_FALSE(fs::exists(mnt + "/new.log"));
    EXPECT_FALSE(
        WriteWholeFile(mnt + "/old.log", std::string(256 * 1024, 'l'), TReplace::Anything, error));
    EXPECT_EQ(ReadText(mnt + "/old.log"), "old");
    EXPECT_TRUE(PartialFiles(mnt).empty());
    ::umount(mnt.c_str());
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
    // A device that can be written at a place takes a file whose start is written again.
    TPartialOptions again;
    again.StartWrittenAgainBy = "a FLAC file";
    TPartialFile flac("/dev/null", again);
    EXPECT_TRUE(flac.Direct());
    EXPECT_TRUE(flac.Write("fLaC", 4));
    EXPECT_TRUE(flac.WriteAt(0, "f", 1));
    EXPECT_TRUE(flac.Finish(true));
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
    // A file whose start is written again cannot go into it: refused, nothing written.
    TPartialOptions again;
    again.StartWrittenAgainBy = "a FLAC file";
    try {
        TPartialFile file(fifo, again);
        ADD_FAILURE() << "opened a pipe for a file written again at its start";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file " + fifo + ": " + fifo +
                      " is a pipe or a terminal, which cannot take a FLAC file: its start is "
                      "written again when the track ends (a WAV file can go into one)");
        EXPECT_EQ(e.Code, ESPIPE);
    }
    EXPECT_EQ(::read(reader, got, sizeof got), 0); // no writer left, nothing came
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
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

// AppendFrom copies the rest of a file after what was written: from a regular file by
// the kernel's copy, from a pipe (which the kernel cannot copy from) through the process;
// a limit on the file's size fails it with the reason, as a full disk would.
struct AppendRow {
    const char* name;
    bool pipe;
    std::size_t bytes; // in the source
    std::size_t skip;  // of them read before AppendFrom
    rlim_t limit;      // 0: none
};

class AppendFromTest : public testing::TestWithParam<AppendRow> {};

TEST_P(AppendFromTest, TheRestOfTheSourceAfterWhatWasWritten) {
    const AppendRow& row = GetParam();
    TestDir dir;
    std::string source(row.bytes, '\0');
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<char>(i * 7 + i / 4096);
    }
    int fd = -1;
    int pipeEnds[2] = {-1, -1};
    std::thread feeder;
    if (row.pipe) {
        ASSERT_EQ(::pipe(pipeEnds), 0);
        fd = pipeEnds[0];
        feeder = std::thread([&] {
            for (std::size_t at = 0; at < source.size();) {
                const ssize_t n = ::write(pipeEnds[1], source.data() + at, source.size() - at);
                if (n <= 0) {
                    break;
                }
                at += static_cast<std::size_t>(n);
            }
            ::close(pipeEnds[1]);
        });
    } else {
        WriteText(dir / "source.bin", source);
        fd = ::open((dir / "source.bin").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
    }
    std::string skipped(row.skip, '\0');
    for (std::size_t at = 0; at < row.skip;) {
        const ssize_t n = ::read(fd, skipped.data() + at, row.skip - at);
        ASSERT_GT(n, 0);
        at += static_cast<std::size_t>(n);
    }
    bool appended = false;
    std::string reason;
    {
        TPartialFile file(dir / "x.flac");
        ASSERT_TRUE(file.Write("head", 4));
        {
            std::optional<FileSizeLimit> limit;
            if (row.limit > 0) {
                limit.emplace(row.limit);
            }
            appended = file.AppendFrom(fd);
        }
        reason = file.Error() != 0 ? ErrorText(file.Error()) : "";
        if (appended) {
            EXPECT_TRUE(file.Finish(true));
        } else {
            file.Discard();
        }
    }
    if (feeder.joinable()) {
        std::vector<char> drain(1 << 16);
        while (::read(fd, drain.data(), drain.size()) > 0) {
        }
        feeder.join();
    }
    ::close(fd);
    EXPECT_EQ(skipped, source.substr(0, row.skip));
    if (row.limit > 0) {
        EXPECT_FALSE(appended);
        EXPECT_EQ(reason, "File too large");
        EXPECT_FALSE(fs::exists(dir / "x.flac"));
    } else {
        EXPECT_TRUE(appended);
        EXPECT_EQ(reason, "");
        EXPECT_EQ(ReadText(dir / "x.flac"), "head" + source.substr(row.skip));
    }
    EXPECT_TRUE(PartialFiles(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AppendFromTest,
    testing::Values(AppendRow{"file_whole", false, 3 << 20, 0, 0},
                    AppendRow{"file_after_its_header", false, 3 << 20, 4831, 0},
                    AppendRow{"file_read_to_its_end", false, 4096, 4096, 0},
                    AppendRow{"file_empty", false, 0, 0, 0},
                    AppendRow{"pipe_whole", true, 3 << 20, 0, 0},
                    AppendRow{"pipe_after_its_header", true, 1 << 20, 100, 0},
                    AppendRow{"file_over_the_size_limit", false, 1 << 20, 0, 1 << 16},
                    AppendRow{"pipe_over_the_size_limit", true, 1 << 20, 0, 1 << 16}),
    RowName);

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
