#include "platform/ProfileIni.h"

#include "platform/IniTestFiles.h"

#include <cerrno>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

using IniTest::readFile;
using IniTest::TempFolder;
using IniTest::writeFile;

namespace {

// ---- the integer rule --------------------------------------------------------------

struct IntegerCase {
    const char* name;
    const char* text;
    bool valid;
    int32_t value;
};

class IntegerRule : public testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerRule, ParsesOrRefuses) {
    const IntegerCase& c = GetParam();
    int32_t result = 12345;
    EXPECT_EQ(ProfileIni::parseInteger(c.text, result), c.valid) << c.text;
    if (c.valid) {
        EXPECT_EQ(result, c.value) << c.text;
    }
}

const IntegerCase IntegerCases[] = {
    {"hex_lower", "0x5622", true, 22050}, // 0x5622 = 5*4096 + 6*256 + 2*16 + 2
    {"hex_upper_prefix", "0X5622", true, 22050},
    {"hex_mixed_digits", "0xaBc", true, 2748},
    {"hex_zero", "0x0", true, 0},
    {"hex_all_bits_wrap", "0xFFFFFFFF", true, -1},
    {"hex_sign_bit_wrap", "0x80000000", true, INT32_MIN},
    {"hex_nine_digits", "0x100000000", false, 0},
    {"hex_prefix_alone", "0x", false, 0},
    {"hex_prefix_uppercase_alone", "0X", false, 0},
    {"hex_bad_digit", "0x1g", false, 0},
    {"hex_with_sign", "-0x10", false, 0},
    {"hex_blank_inside", "0x 1", false, 0},
    {"decimal", "44100", true, 44100},
    {"leading_zeros", "007", true, 7},
    {"negative", "-5", true, -5},
    {"plus_sign", "+7", true, 7},
    {"max", "2147483647", true, INT32_MAX},
    {"min", "-2147483648", true, INT32_MIN},
    {"above_max", "2147483648", false, 0},
    {"below_min", "-2147483649", false, 0},
    {"huge", "99999999999999999999999999", false, 0},
    {"empty", "", false, 0},
    {"sign_alone", "-", false, 0},
    {"letters", "abc", false, 0},
    {"trailing_letters", "12a", false, 0},
    {"inner_blank", "1 2", false, 0},
    {"decimal_point", "1.5", false, 0},
    {"zero_x_prefix_twice", "00x5", false, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, IntegerRule, testing::ValuesIn(IntegerCases),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- text decoding -----------------------------------------------------------------

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string utf8;
};

class Decoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, GivesUtf8) {
    EXPECT_EQ(ProfileIni::decodeText(GetParam().bytes), GetParam().utf8);
}

const DecodeCase DecodeCases[] = {
    {"ascii", "Track 1", "Track 1"},
    {"valid_utf8_kept", "Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xC3\xA9 \xE2\x82\xAC"},
    {"latin1_letter", "Caf\xE9", "Caf\xC3\xA9"},
    {"euro_sign", "\x80", "\xE2\x82\xAC"},
    {"curly_quotes", "\x93hi\x94", "\xE2\x80\x9Chi\xE2\x80\x9D"},
    {"unassigned_byte", "\x81", "\xC2\x81"},
    {"cut_sequence", "ab\xC3", "ab\xC3\x83"},
    {"overlong_slash", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
    {"surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
    {"mixed_valid_and_invalid", "\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Decoding, testing::ValuesIn(DecodeCases),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- reading -----------------------------------------------------------------------

class ProfileRead : public testing::Test {
protected:
    std::string file(const std::string& bytes) {
        writeFile(Folder.file("a.ini"), bytes);
        return Folder.file("a.ini");
    }
    TempFolder Folder;
};

TEST_F(ProfileRead, MissingFileGivesDefaults) {
    const std::string path = Folder.file("none.ini");
    EXPECT_EQ(ProfileIni::readString(path, "S", "k", "def"), "def");
    EXPECT_EQ(ProfileIni::readInteger(path, "S", "k", 7), 7);
    EXPECT_TRUE(ProfileIni::readSection(path, "S").empty());
    EXPECT_FALSE(ProfileIni::sectionExists(path, "S"));
}

TEST_F(ProfileRead, NamesMatchWithoutCase) {
    const std::string path = file("[sYsTeM]\noutdir=/music\nOPENWHENDONE=0\n");
    EXPECT_EQ(ProfileIni::readString(path, "System", "OutDir", "x"), "/music");
    EXPECT_EQ(ProfileIni::readInteger(path, "SYSTEM", "OpenWhenDone", 1), 0);
    EXPECT_TRUE(ProfileIni::sectionExists(path, "system"));
}

TEST_F(ProfileRead, BlanksAroundNamesAndValuesAreNotPartOfThem) {
    const std::string path = file("  [ S ]  \n  key  =  some value  \nn = 0x10 \nb =   \n");
    EXPECT_EQ(ProfileIni::readString(path, "S", "key", "x"), "some value");
    EXPECT_EQ(ProfileIni::readInteger(path, "S", "n", 0), 16);
    EXPECT_EQ(ProfileIni::readString(path, "S", "b", "x"), "");
    EXPECT_EQ(ProfileIni::readInteger(path, "S", "b", 9), 9);
}

TEST_F(ProfileRead, ValuesStopAt2047Characters) {
    const std::string longAscii(100000, 'a');
    std::string longAccented;
    for (int i = 0; i < 3000; ++i)
        longAccented += "\xC3\xA9"; // é, two bytes in UTF-8
    const std::string path = file("[S]\nascii=" + longAscii + "\nutf8=" + longAccented + "\n");
    EXPECT_EQ(ProfileIni::readString(path, "S", "ascii", ""), std::string(2047, 'a'));
    // 2047 characters, not bytes: the cut never splits a character.
    EXPECT_EQ(ProfileIni::readString(path, "S", "utf8", ""), longAccented.substr(0, 2 * 2047));
    EXPECT_EQ(ProfileIni::readSection(path, "S")[0].second.size(), 2047u);
}

TEST_F(ProfileRead, CrlfLfAndByteOrderMark) {
    const std::string path = file("\xEF\xBB\xBF[S]\r\nk=crlf\r\n[T]\nk=lf\n");
    EXPECT_EQ(ProfileIni::readString(path, "S", "k", ""), "crlf");
    EXPECT_EQ(ProfileIni::readString(path, "T", "k", ""), "lf");
}

TEST_F(ProfileRead, Windows1252ValuesBecomeUtf8) {
    const std::string path = file("[S]\nk=Caf\xE9\nu=Caf\xC3\xA9\n");
    EXPECT_EQ(ProfileIni::readString(path, "S", "k", ""), "Caf\xC3\xA9");
    EXPECT_EQ(ProfileIni::readString(path, "S", "u", ""), "Caf\xC3\xA9");
}

TEST_F(ProfileRead, KeysBeforeTheFirstSectionAreNoEntries) {
    const std::string path = file("k=outside\n[S]\nj=inside\n");
    EXPECT_EQ(ProfileIni::readString(path, "S", "k", "def"), "def");
    EXPECT_EQ(ProfileIni::readString(path, "", "k", "def"), "def");
    EXPECT_EQ(ProfileIni::readString(path, "S", "j", ""), "inside");
}

TEST_F(ProfileRead, FirstSectionAndFirstKeyWin) {
    const std::string path = file("[S]\nk=first\nk=second\n[T]\nx=1\n[s]\nk=third\nz=4\n");
    EXPECT_EQ(ProfileIni::readString(path, "S", "k", ""), "first");
    EXPECT_EQ(ProfileIni::readString(path, "S", "z", "def"), "def");
    const ProfileIni::Entries expected = {{"k", "first"}, {"k", "second"}};
    EXPECT_EQ(ProfileIni::readSection(path, "S"), expected);
}

TEST_F(ProfileRead, SectionListsEntriesInFileOrder) {
    const std::string path =
        file("[S]\n; a comment\n# another\nno equals sign\nb=2\n\na=1\nempty=\n=nokey\n[T]\nc=3\n");
    const ProfileIni::Entries expected = {{"b", "2"}, {"a", "1"}, {"empty", ""}};
    EXPECT_EQ(ProfileIni::readSection(path, "S"), expected);
}

TEST_F(ProfileRead, SectionExistsOnlyWithAnEntry) {
    const std::string path = file("[Empty]\n; nothing\n[Blank]\nk=\n[Full]\nk=v\n");
    EXPECT_FALSE(ProfileIni::sectionExists(path, "Empty"));
    EXPECT_TRUE(ProfileIni::sectionExists(path, "Blank"));
    EXPECT_TRUE(ProfileIni::sectionExists(path, "full"));
    EXPECT_FALSE(ProfileIni::sectionExists(path, "Missing"));
}

TEST_F(ProfileRead, HeaderWithoutClosingBracketIsNoSection) {
    const std::string path = file("[S]\na=1\n[Broken\nb=2\n");
    EXPECT_FALSE(ProfileIni::sectionExists(path, "Broken"));
    EXPECT_EQ(ProfileIni::readString(path, "S", "b", ""), "2");
}

TEST_F(ProfileRead, BinaryGarbageDoesNotStopTheReader) {
    std::string garbage;
    uint32_t x = 12345;
    for (int i = 0; i < 70000; ++i) {
        x = x * 1103515245u + 12345u; // a fixed pseudo-random byte stream
        garbage += static_cast<char>(x >> 24);
    }
    const std::string path = file(garbage + "\n[S]\nk=v\n" + garbage);
    EXPECT_EQ(ProfileIni::readString(path, "S", "k", ""), "v");
    EXPECT_EQ(ProfileIni::readInteger(path, "S", "missing", 3), 3);
}

TEST_F(ProfileRead, FolderInsteadOfFileReadsAsMissing) {
    EXPECT_EQ(ProfileIni::readString(Folder.path(), "S", "k", "def"), "def");
}

// ---- writing -----------------------------------------------------------------------

class ProfileWrite : public testing::Test {
protected:
    std::string path() const { return Folder.file("w.ini"); }
    TempFolder Folder;
};

TEST_F(ProfileWrite, CreatesFileAndSection) {
    ProfileIni::writeString(path(), "System", "OutDir", "/home/u/Music");
    ProfileIni::writeString(path(), "MP3", "Mode", "1");
    ProfileIni::writeString(path(), "System", "OpenWhenDone", "1");
    EXPECT_EQ(readFile(path()),
              "[System]\nOutDir=/home/u/Music\nOpenWhenDone=1\n\n[MP3]\nMode=1\n");
}

TEST_F(ProfileWrite, ReplacesAValueWhateverTheCaseOfItsKey) {
    writeFile(path(), "[system]\noutdir=/old\nOther=x\n");
    ProfileIni::writeString(path(), "System", "OutDir", "/new");
    EXPECT_EQ(readFile(path()), "[system]\nOutDir=/new\nOther=x\n");
}

TEST_F(ProfileWrite, KeepsEveryOtherLine) {
    const std::string before = "\xEF\xBB\xBF; settings\r\n"
                               "stray=before sections\r\n"
                               "[A]\r\n"
                               "one=1\r\n"
                               "junk line\r\n"
                               "two=2\r\n"
                               "; trailing comment of A\r\n"
                               "\r\n"
                               "[B]\r\n"
                               "x=y\r\n";
    writeFile(path(), before);
    ProfileIni::writeString(path(), "A", "two", "zwei");
    ProfileIni::writeString(path(), "A", "three", "3");
    ProfileIni::writeString(path(), "C", "new", "n");
    EXPECT_EQ(readFile(path()), "\xEF\xBB\xBF; settings\r\n"
                                "stray=before sections\r\n"
                                "[A]\r\n"
                                "one=1\r\n"
                                "junk line\r\n"
                                "two=zwei\r\n"
                                "three=3\r\n"
                                "; trailing comment of A\r\n"
                                "\r\n"
                                "[B]\r\n"
                                "x=y\r\n"
                                "\r\n"
                                "[C]\r\n"
                                "new=n\r\n");
}

TEST_F(ProfileWrite, WritesIntoTheFirstOfRepeatedSectionsAndKeys) {
    writeFile(path(), "[S]\nk=1\nk=2\n[S]\nk=3\n");
    ProfileIni::writeString(path(), "S", "k", "new");
    ProfileIni::writeString(path(), "s", "j", "added");
    EXPECT_EQ(readFile(path()), "[S]\nk=new\nk=2\nj=added\n[S]\nk=3\n");
    EXPECT_EQ(ProfileIni::readString(path(), "S", "k", ""), "new");
}

TEST_F(ProfileWrite, FileWithoutFinalLineEnd) {
    writeFile(path(), "[S]\na=1");
    ProfileIni::writeString(path(), "S", "b", "2");
    ProfileIni::writeString(path(), "T", "c", "3");
    EXPECT_EQ(readFile(path()), "[S]\na=1\nb=2\n\n[T]\nc=3\n");
}

TEST_F(ProfileWrite, EmptySectionGetsItsFirstKeyAfterTheHeader) {
    writeFile(path(), "[S]\n\n[T]\nx=1\n");
    ProfileIni::writeString(path(), "S", "k", "v");
    EXPECT_EQ(readFile(path()), "[S]\nk=v\n\n[T]\nx=1\n");
}

TEST_F(ProfileWrite, EmptyValueStaysAKey) {
    ProfileIni::writeString(path(), "S", "k", "");
    EXPECT_EQ(readFile(path()), "[S]\nk=\n");
    EXPECT_TRUE(ProfileIni::sectionExists(path(), "S"));
}

TEST_F(ProfileWrite, LineBreaksInAValueCannotAddKeys) {
    ProfileIni::writeString(path(), "S", "title", "one\n[Evil]\nk=v\r\nend");
    EXPECT_EQ(readFile(path()), "[S]\ntitle=one [Evil] k=v  end\n");
    EXPECT_FALSE(ProfileIni::sectionExists(path(), "Evil"));
}

TEST_F(ProfileWrite, Utf8ValuesRoundTrip) {
    const std::string value = "Sigur R\xC3\xB3s \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC";
    ProfileIni::writeString(path(), "S", "k", value);
    EXPECT_EQ(ProfileIni::readString(path(), "S", "k", ""), value);
}

TEST_F(ProfileWrite, InvalidNamesAreRefused) {
    EXPECT_THROW(ProfileIni::writeString(path(), "S", "a=b", "v"), std::invalid_argument);
    EXPECT_THROW(ProfileIni::writeString(path(), "S]", "k", "v"), std::invalid_argument);
    EXPECT_THROW(ProfileIni::writeString(path(), "S", "", "v"), std::invalid_argument);
    EXPECT_FALSE(IniTest::folderNames(Folder.path()).size() > 0);
}

TEST_F(ProfileWrite, BatchEqualsOneByOne) {
    const std::string start = "; head\n[B]\nx=0\n";
    const std::vector<ProfileIni::Assignment> keys = {
        {"A", "1", "one"}, {"B", "x", "ex"}, {"a", "2", "two"}, {"B", "y", ""}};
    writeFile(path(), start);
    ProfileIni::writeStrings(path(), keys);
    const std::string batch = readFile(path());
    writeFile(path(), start);
    for (const auto& k : keys)
        ProfileIni::writeString(path(), k.section, k.key, k.value);
    EXPECT_EQ(batch, readFile(path()));
    EXPECT_EQ(batch, "; head\n[B]\nx=ex\ny=\n\n[A]\n1=one\n2=two\n");
}

TEST_F(ProfileWrite, GarbageAndLongLinesAreKept) {
    std::string garbage = "\x01\x02\xFF\xFE";
    garbage += std::string("\0\0", 2);
    const std::string longLine(100000, 'z');
    const std::string before = garbage + "\n[S]\n" + longLine + "\nk=old\n";
    writeFile(path(), before);
    ProfileIni::writeString(path(), "S", "k", "new");
    EXPECT_EQ(readFile(path()), garbage + "\n[S]\n" + longLine + "\nk=new\n");
}

TEST_F(ProfileWrite, KeepsTheFileMode) {
    writeFile(path(), "[S]\nk=1\n");
    ::chmod(path().c_str(), 0640);
    ProfileIni::writeString(path(), "S", "k", "2");
    EXPECT_EQ(IniTest::modeOf(path()), 0640);
}

TEST_F(ProfileWrite, WritesThroughASymbolicLink) {
    const std::string target = Folder.file("real.ini");
    writeFile(target, "[S]\nk=1\n");
    ASSERT_EQ(::symlink(target.c_str(), path().c_str()), 0);
    ProfileIni::writeString(path(), "S", "k", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(path()));
    EXPECT_EQ(readFile(target), "[S]\nk=2\n");
}

// A refused write names the file, leaves it as it was and leaves no temporary file.
TEST_F(ProfileWrite, ReadOnlyFileIsLeftUntouched) {
    const std::string before = "[S]\nk=old\n";
    writeFile(path(), before);
    ::chmod(path().c_str(), 0444);
    try {
        ProfileIni::writeStrings(path(), {{"S", "k", "new"}, {"T", "x", "1"}});
        FAIL() << "no error";
    } catch (const ProfileIni::EProfileWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path());
        EXPECT_EQ(e.path(), path());
    }
    EXPECT_EQ(readFile(path()), before);
    EXPECT_EQ(IniTest::folderNames(Folder.path()), std::vector<std::string>{"w.ini"});
}

struct UnwritableCase {
    const char* name;
    std::string (*make)(const TempFolder&); // returns the file path to write
};

class UnwritablePlace : public testing::TestWithParam<UnwritableCase> {};

TEST_P(UnwritablePlace, RaisesTheWriteError) {
    TempFolder folder;
    const std::string file = GetParam().make(folder);
    EXPECT_THROW(
        {
            try {
                ProfileIni::writeString(file, "S", "k", "v");
            } catch (const ProfileIni::EProfileWriteError& e) {
                EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
                throw;
            }
        },
        ProfileIni::EProfileWriteError);
}

const UnwritableCase UnwritableCases[] = {
    {"missing_folder", [](const TempFolder& f) { return f.file("no/such/folder/a.ini"); }},
    {"file_is_a_folder",
     [](const TempFolder& f) {
         std::filesystem::create_directory(f.file("dir.ini"));
         return f.file("dir.ini");
     }},
    {"folder_is_a_file",
     [](const TempFolder& f) {
         writeFile(f.file("plain"), "x");
         return f.file("plain/a.ini");
     }},
    {"device_file", [](const TempFolder&) { return std::string("/dev/null"); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, UnwritablePlace, testing::ValuesIn(UnwritableCases),
                         [](const auto& row) { return std::string(row.param.name); });

// The file is replaced, never rewritten in place: a reader that opened the old file
// keeps reading the old bytes, and the path names a new inode afterwards.
TEST_F(ProfileWrite, ReplacesTheFileInsteadOfRewritingIt) {
    const std::string before = "[S]\nk=old\n";
    writeFile(path(), before);
    struct stat old {};
    ASSERT_EQ(::stat(path().c_str(), &old), 0);
    std::ifstream reader(path(), std::ios::binary);
    ProfileIni::writeString(path(), "S", "k", "new");
    struct stat now {};
    ASSERT_EQ(::stat(path().c_str(), &now), 0);
    EXPECT_NE(now.st_ino, old.st_ino);
    std::ostringstream seen;
    seen << reader.rdbuf();
    EXPECT_EQ(seen.str(), before);
    EXPECT_EQ(readFile(path()), "[S]\nk=new\n");
}

// A write call that stores at most Budget bytes and then fails as a full disk would.
std::size_t Budget = 0;
ssize_t writeUntilFull(int fd, const void* data, std::size_t size) {
    if (Budget == 0) {
        errno = ENOSPC;
        return -1;
    }
    const ssize_t n = ::write(fd, data, std::min(size, Budget));
    if (n > 0)
        Budget -= static_cast<std::size_t>(n);
    return n;
}

struct FullDiskCase {
    const char* name;
    std::size_t budget; // bytes written before the disk is full
};

void PrintTo(const FullDiskCase& row, std::ostream* os) {
    *os << row.name;
}

class FullDisk : public testing::TestWithParam<FullDiskCase> {
protected:
    void TearDown() override { ProfileIni::setWriteCall(nullptr); }
    TempFolder Folder;
};

// Runs as root too: the failure comes from the injected write call, not from
// permission bits. The old file stays byte for byte, with its mode and without a
// temporary file beside it.
TEST_P(FullDisk, LeavesTheOldFileByteForByte) {
    const std::string file = Folder.file("w.ini");
    const std::string before = "; kept\r\n[System]\r\nOutDir=/music\r\n[MP3]\r\nMode=3\r\n";
    writeFile(file, before);
    ::chmod(file.c_str(), 0640);
    Budget = GetParam().budget;
    ProfileIni::setWriteCall(&writeUntilFull);
    EXPECT_THROW(ProfileIni::writeStrings(file, {{"MP3", "Mode", "0"}, {"MP3", "CRC", "1"}}),
                 ProfileIni::EProfileWriteError);
    ProfileIni::setWriteCall(nullptr);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(IniTest::modeOf(file), 0640);
    EXPECT_EQ(IniTest::folderNames(Folder.path()), std::vector<std::string>{"w.ini"});
}

const FullDiskCase FullDiskCases[] = {
    {"nothing_written", 0},
    {"one_byte_written", 1},
    {"half_the_file_written", 30},
};

INSTANTIATE_TEST_SUITE_P(Cases, FullDisk, testing::ValuesIn(FullDiskCases),
                         [](const auto& row) { return std::string(row.param.name); });

// Root may write anywhere, so this case only means something for other users.
TEST_F(ProfileWrite, ReadOnlyFolderForOrdinaryUsers) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    const std::string sub = Folder.file("ro");
    std::filesystem::create_directory(sub);
    writeFile(sub + "/a.ini", "[S]\nk=1\n");
    ::chmod(sub.c_str(), 0555);
    EXPECT_THROW(ProfileIni::writeString(sub + "/a.ini", "S", "k", "2"),
                 ProfileIni::EProfileWriteError);
    EXPECT_EQ(readFile(sub + "/a.ini"), "[S]\nk=1\n");
}

TEST_F(ProfileWrite, WrittenFileIsPlainIni) {
    ProfileIni::writeStrings(path(), {{"System", "OutDir", "/m"},
                                      {"MP3", "Mode", "0"},
                                      {"9A0B3C0D", "0", "Intro"},
                                      {"9A0B3C0D", "artist", ""}});
    const auto sections = IniTest::strictRead(readFile(path()));
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections.at("9A0B3C0D").at(1), (std::pair<std::string, std::string>("artist", "")));
    const std::string dump = IniTest::configParserDump(path());
    if (dump.empty())
        GTEST_SKIP() << "python3 is missing";
    EXPECT_EQ(dump, "System|OutDir=/m\nMP3|Mode=0\n9A0B3C0D|0=Intro\n9A0B3C0D|artist=\n");
}

} // namespace
