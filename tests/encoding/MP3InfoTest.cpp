// TMP3Info on real files in a temporary folder; tags are checked byte by byte.
#include "encoding/MP3Info.h"

#include "FileSizeLimit.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Test names of table rows.
template <class Row> std::string CaseName(const testing::TestParamInfo<Row>& row) {
    return row.param.name;
}

// A tag record: "TAG", the four texts padded with `pad`, year, comment, genre byte.
std::string TagRecord(const std::string& title, char pad = ' ', unsigned char genre = 12,
                      const std::string& artist = "", const std::string& year = "") {
    std::string record(128, pad);
    record.replace(0, 3, "TAG");
    record.replace(3, title.size(), title);
    record.replace(33, artist.size(), artist);
    record.replace(93, year.size(), year);
    record[127] = static_cast<char>(genre);
    return record;
}

// MPEG audio stand-in: what precedes the tag is never looked at.
std::string Audio(size_t size = 1000) {
    return std::string(size, '\xAA');
}

class MP3InfoTest : public testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string LastRecord(const std::string& path) {
        const std::string bytes = Read(path);
        return bytes.size() < 128 ? "" : bytes.substr(bytes.size() - 128);
    }

    TempFolder folder_{"mp3info"};
    fs::path dir_{folder_.path()};
    TMP3Info info_;
};

TEST_F(MP3InfoTest, NewComponentHasGenreOtherAndNothingElse) {
    EXPECT_EQ(info_.GenreID(), 12);
    EXPECT_EQ(info_.Genre(), "Other");
    EXPECT_FALSE(info_.Valid());
    EXPECT_FALSE(info_.Saved());
    EXPECT_EQ(info_.Error(), "");
    EXPECT_EQ(info_.Title() + info_.Artist() + info_.Album() + info_.Year() + info_.Comment() +
                  info_.Filename(),
              "");
}

TEST_F(MP3InfoTest, UntaggedFileGetsATagAppendedThatReadsBack) {
    const std::string path = Write("a.mp3", Audio());
    info_.SetFilename(path);
    EXPECT_FALSE(info_.Valid());
    EXPECT_EQ(info_.Error(), "Wrong file format or no ID3 Tag !");
    info_.SetTitle("Song");
    info_.Save();
    EXPECT_TRUE(info_.Saved());
    const std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), 1128u);
    EXPECT_EQ(bytes.substr(0, 1000), Audio());
    EXPECT_EQ(bytes.substr(1000, 3), "TAG");
    info_.SetFilename(path);
    EXPECT_TRUE(info_.Valid());
    EXPECT_EQ(info_.Title(), "Song");
}

TEST_F(MP3InfoTest, TaggedFileIsRewrittenInPlace) {
    const std::string path = Write("a.mp3", Audio() + TagRecord("Old title"));
    info_.SetFilename(path);
    ASSERT_TRUE(info_.Valid());
    info_.SetTitle("New");
    info_.Save();
    EXPECT_TRUE(info_.Saved());
    EXPECT_EQ(fs::file_size(path), 1128u);
    EXPECT_EQ(LastRecord(path).substr(3, 30), "New" + std::string(27, ' '));
}

// The system saves each file once; a second Save after an append must not stack tags.
TEST_F(MP3InfoTest, SecondSaveOverwritesTheTagItAppended) {
    const std::string path = Write("a.mp3", Audio());
    info_.SetFilename(path);
    info_.SetTitle("First");
    info_.Save();
    info_.SetTitle("Second");
    info_.Save();
    EXPECT_TRUE(info_.Saved());
    EXPECT_FALSE(info_.Valid());
    EXPECT_EQ(fs::file_size(path), 1128u);
    EXPECT_EQ(LastRecord(path).substr(3, 6), "Second");
}

// A file changed behind the component's back keeps its audio: the tag is appended.
TEST_F(MP3InfoTest, SaveNeverOverwritesAudio) {
    const std::string path = Write("a.mp3", Audio() + TagRecord("Old"));
    info_.SetFilename(path);
    ASSERT_TRUE(info_.Valid());
    Write("a.mp3", Audio(2000));
    info_.SetTitle("New");
    info_.Save();
    EXPECT_TRUE(info_.Saved());
    const std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), 2128u);
    EXPECT_EQ(bytes.substr(0, 2000), Audio(2000));
    EXPECT_EQ(bytes.substr(2000, 6), "TAGNew");
}

TEST_F(MP3InfoTest, SavedTagLayoutIsSpacePaddedWithoutTerminators) {
    const std::string path = Write("a.mp3", Audio());
    info_.SetFilename(path);
    info_.SetTitle("Abcd");
    info_.SetArtist("Band");
    info_.SetAlbum("Record");
    info_.SetYear("1999");
    info_.SetComment("Note");
    info_.SetGenreID(84);
    info_.Save();
    std::string expected(128, ' ');
    expected.replace(0, 3, "TAG");
    expected.replace(3, 4, "Abcd");
    expected.replace(33, 4, "Band");
    expected.replace(63, 6, "Record");
    expected.replace(93, 4, "1999");
    expected.replace(97, 4, "Note");
    expected[127] = 84;
    EXPECT_EQ(LastRecord(path), expected);
}

struct LimitCase {
    const char* name;
    std::function<void(TMP3Info&, const std::string&)> set;
    std::function<std::string(const TMP3Info&)> get;
    std::string input;
    std::string kept;
};

class MP3InfoLimitTest : public MP3InfoTest, public testing::WithParamInterface<LimitCase> {};

// Limits count characters: "é" and "€" are one character each, two and three bytes.
TEST_P(MP3InfoLimitTest, SetterKeepsTheFirstCharacters) {
    int changes = 0;
    info_.onChange = [&](TMP3Info* sender) {
        EXPECT_EQ(sender, &info_);
        ++changes;
    };
    GetParam().set(info_, GetParam().input);
    EXPECT_EQ(GetParam().get(info_), GetParam().kept);
    EXPECT_EQ(changes, 1);
}

std::string Repeat(const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

const std::string k35 = "abcdefghijklmnopqrstuvwxyz012345678";

INSTANTIATE_TEST_SUITE_P(
    Limits, MP3InfoLimitTest,
    testing::Values(
        LimitCase{"Title35", &TMP3Info::SetTitle, &TMP3Info::Title, k35, k35.substr(0, 30)},
        LimitCase{"Artist35", &TMP3Info::SetArtist, &TMP3Info::Artist, k35, k35.substr(0, 30)},
        LimitCase{"Album35", &TMP3Info::SetAlbum, &TMP3Info::Album, k35, k35.substr(0, 30)},
        LimitCase{"Comment35", &TMP3Info::SetComment, &TMP3Info::Comment, k35, k35.substr(0, 30)},
        LimitCase{"Year5", &TMP3Info::SetYear, &TMP3Info::Year, "19999", "1999"},
        LimitCase{"YearShort", &TMP3Info::SetYear, &TMP3Info::Year, "99", "99"},
        LimitCase{"TitleAccents", &TMP3Info::SetTitle, &TMP3Info::Title, Repeat("é", 33),
                  Repeat("é", 30)},
        LimitCase{"YearEuro", &TMP3Info::SetYear, &TMP3Info::Year, Repeat("€", 5), Repeat("€", 4)},
        LimitCase{"SameValueStillFires", &TMP3Info::SetTitle, &TMP3Info::Title, "", ""}),
    CaseName<LimitCase>);

struct ReadCase {
    const char* name;
    std::string record;
    std::string title, artist, year;
    int genreID;
    std::string genre;
};

class MP3InfoReadTest : public MP3InfoTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(MP3InfoReadTest, TagReadsAs) {
    const std::string path = Write("a.mp3", Audio() + GetParam().record);
    int changes = 0;
    int fileChanges = 0;
    info_.onChange = [&](TMP3Info*) { ++changes; };
    info_.onChangeFile = [&](TMP3Info*) { ++fileChanges; };
    info_.SetFilename(path);
    EXPECT_TRUE(info_.Valid());
    EXPECT_EQ(info_.Title(), GetParam().title);
    EXPECT_EQ(info_.Artist(), GetParam().artist);
    EXPECT_EQ(info_.Year(), GetParam().year);
    EXPECT_EQ(info_.GenreID(), GetParam().genreID);
    EXPECT_EQ(info_.Genre(), GetParam().genre);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(fileChanges, 1);
}

std::string ZeroPaddedTitle() {
    std::string record = TagRecord("Zero", '\0', 30);
    // Artist and year bytes after the zero are ignored: the text ends at the first zero.
    record.replace(33, 4, "Band");
    record.replace(93, 4, "1999");
    return record;
}

std::string Cp1252Title() {
    // "Café €5" in Windows-1252: é is 0xE9, € is 0x80.
    return TagRecord(std::string("Caf\xE9 \x80") + "5");
}

INSTANTIATE_TEST_SUITE_P(
    Tags, MP3InfoReadTest,
    testing::Values(ReadCase{"Plain", TagRecord("Song", ' ', 12, "Band", "2001"), "Song", "Band",
                             "2001", 12, "Other"},
                    ReadCase{"LeadingSpacesKept", TagRecord("  Song  "), "  Song", "", "", 12,
                             "Other"},
                    ReadCase{"ZeroPadded", ZeroPaddedTitle(), "Zero", "", "", 30, "Fusion"},
                    ReadCase{"Genre0", TagRecord("x", ' ', 0), "x", "", "", 0, "Blues"},
                    ReadCase{"Genre83", TagRecord("x", ' ', 83), "x", "", "", 83, "Swing"},
                    ReadCase{"Genre84", TagRecord("x", ' ', 84), "x", "", "", 84, "Bebob"},
                    ReadCase{"Genre114", TagRecord("x", ' ', 114), "x", "", "", 114, "Folklore"},
                    ReadCase{"Genre115", TagRecord("x", ' ', 115), "x", "", "", 12, "Other"},
                    ReadCase{"Genre255", TagRecord("x", ' ', 255), "x", "", "", 12, "Other"},
                    ReadCase{"Windows1252", Cp1252Title(), "Café €5", "", "", 12, "Other"}),
    CaseName<ReadCase>);

struct NoTagCase {
    const char* name;
    std::string last;
};

class MP3InfoNoTagTest : public MP3InfoTest, public testing::WithParamInterface<NoTagCase> {};

TEST_P(MP3InfoNoTagTest, NotATagClearsTheTexts) {
    info_.SetTitle("Keep?");
    info_.SetGenreID(3);
    int errors = 0;
    info_.onError = [&](TMP3Info* sender) {
        EXPECT_EQ(sender->Error(), "Wrong file format or no ID3 Tag !");
        ++errors;
    };
    info_.SetFilename(Write("a.mp3", Audio() + GetParam().last));
    EXPECT_FALSE(info_.Valid());
    EXPECT_EQ(info_.Title(), "");
    EXPECT_EQ(info_.GenreID(), 12);
    EXPECT_EQ(info_.Genre(), "Other");
    EXPECT_EQ(errors, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MP3InfoNoTagTest,
    testing::Values(NoTagCase{"LowerCaseIdentifier", "tag" + TagRecord("Song").substr(3)},
                    NoTagCase{"Audio", Audio(128)},
                    NoTagCase{"ZeroAtStart", std::string(128, '\0')},
                    NoTagCase{"ExactlyATagLongButWrong", "TAX" + TagRecord("Song").substr(3)}),
    CaseName<NoTagCase>);

TEST_F(MP3InfoTest, GenreIDPastTheTableBecomesOther) {
    int changes = 0;
    info_.onChange = [&](TMP3Info*) { ++changes; };
    info_.SetGenreID(200);
    EXPECT_EQ(info_.GenreID(), 12);
    EXPECT_EQ(info_.Genre(), "Other");
    info_.SetGenreID(114);
    EXPECT_EQ(info_.Genre(), "Folklore");
    EXPECT_EQ(changes, 2);
    ASSERT_EQ(info_.Genres().size(), 115u);
    EXPECT_EQ(info_.Genres()[46], "Instrumental Pop");
    EXPECT_EQ(info_.Genres()[78], "Rock & Roll");
}

TEST_F(MP3InfoTest, CharactersRoundTripThroughWindows1252) {
    const std::string path = Write("a.mp3", Audio());
    info_.SetFilename(path);
    info_.SetTitle("Café");
    info_.SetArtist("€ Œuvre “quoted”");
    // Outside Windows-1252: CJK, an emoji, and a byte that is not UTF-8.
    info_.SetAlbum("日本 \xF0\x9F\x8E\xB5 x\xFF");
    info_.Save();
    const std::string record = LastRecord(path);
    EXPECT_EQ(record.substr(3, 5), "Caf\xE9 ");
    EXPECT_EQ(record.substr(33, 17), "\x80 \x8Cuvre \x93quoted\x94 ");
    EXPECT_EQ(record.substr(63, 7), "?? ? x?");
    info_.SetFilename(path);
    EXPECT_EQ(info_.Title(), "Café");
    EXPECT_EQ(info_.Artist(), "€ Œuvre “quoted”");
    EXPECT_EQ(info_.Album(), "?? ? x?");
}

TEST_F(MP3InfoTest, ReadOnlyFileIsMadeWritableAndTagged) {
    const std::string path = Write("a.mp3", Audio());
    info_.SetFilename(path);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    info_.SetTitle("Locked");
    info_.Save();
    EXPECT_TRUE(info_.Saved());
    EXPECT_EQ(LastRecord(path).substr(0, 9), "TAGLocked");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    // Only the owner's write bit was added.
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(MP3InfoTest, RemoveCutsTheTagOnceThenReportsUntagged) {
    const std::string path = Write("a.mp3", Audio() + TagRecord("Song"));
    info_.SetFilename(path);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    info_.RemoveID3();
    EXPECT_EQ(fs::file_size(path), 1000u);
    EXPECT_FALSE(info_.Valid());
    EXPECT_EQ(info_.Error(), "");
    info_.RemoveID3();
    EXPECT_EQ(info_.Error(), "File is already untagged !");
    EXPECT_EQ(fs::file_size(path), 1000u);
}

// A file changed behind the component's back keeps its audio.
TEST_F(MP3InfoTest, RemoveNeverCutsAudio) {
    const std::string path = Write("a.mp3", Audio() + TagRecord("Song"));
    info_.SetFilename(path);
    Write("a.mp3", Audio(2000));
    info_.RemoveID3();
    EXPECT_EQ(fs::file_size(path), 2000u);
    EXPECT_EQ(info_.Error(), "File is already untagged !");
}

TEST_F(MP3InfoTest, MissingFileMessages) {
    const std::string path = Write("a.mp3", Audio() + TagRecord("Song", ' ', 12, "Band", "1984"));
    info_.SetFilename(path);
    std::vector<std::string> errors;
    info_.onError = [&](TMP3Info* sender) { errors.push_back(sender->Error()); };
    info_.SetFilename((dir_ / "missing.mp3").string());
    EXPECT_FALSE(info_.Valid());
    EXPECT_EQ(info_.Title(), "Song");
    EXPECT_EQ(info_.Artist(), "Band");
    EXPECT_EQ(info_.Year(), "1984");
    info_.Save();
    EXPECT_FALSE(info_.Saved());
    info_.RemoveID3();
    // A folder is no file either.
    info_.SetFilename(dir_.string());
    EXPECT_EQ(errors, (std::vector<std::string>{"File doesn`t exist !",
                                                "File doesn`t exist or is not valid !",
                                                "File doesn`t exist !", "File doesn`t exist !"}));
}

class MP3InfoShortFileTest : public MP3InfoTest, public testing::WithParamInterface<size_t> {};

// Too short to hold a tag: reading raises an input/output error and the file is not taken
// as tagged, so Save appends and leaves the bytes before the tag alone.
TEST_P(MP3InfoShortFileTest, ReadRaisesAndSaveAppends) {
    const std::string content = Audio(GetParam());
    const std::string path = Write("short.mp3", content);
    info_.SetTitle("Short");
    EXPECT_THROW(info_.SetFilename(path), fs::filesystem_error);
    EXPECT_FALSE(info_.Valid());
    info_.Save();
    EXPECT_TRUE(info_.Saved());
    const std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), GetParam() + 128);
    EXPECT_EQ(bytes.substr(0, GetParam()), content);
    info_.SetFilename(path);
    EXPECT_TRUE(info_.Valid());
    EXPECT_EQ(info_.Title(), "Short");
}

INSTANTIATE_TEST_SUITE_P(Sizes, MP3InfoShortFileTest, testing::Values(0, 1, 3, 64, 127));

// Writing fails (no space): Saved is false and no message is set.
TEST_F(MP3InfoTest, WriteFailureClearsSavedOnly) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    EXPECT_THROW(info_.SetFilename("/dev/full"), fs::filesystem_error);
    info_.Save();
    EXPECT_FALSE(info_.Saved());
    EXPECT_EQ(info_.Error(), "");
}

} // namespace

// A tag that does not fit under a file-size limit: the file keeps its audio and nothing
// else (no "TA" left at its end), Saved is false, and the system's reason is kept.
TEST_F(MP3InfoTest, TagCutShortIsRemovedAgain) {
    const std::string path = Write("limited.mp3", Audio(1000));
    info_.SetFilename(path);
    info_.SetTitle("Title");
    {
        FileSizeLimit limit(1002); // room for "TA" only
        info_.Save();
    }
    EXPECT_FALSE(info_.Saved());
    EXPECT_EQ(info_.SystemError(), EFBIG);
    EXPECT_EQ(Read(path), Audio(1000));
    info_.Save(); // without the limit the tag goes on
    EXPECT_TRUE(info_.Saved());
    EXPECT_EQ(info_.SystemError(), 0);
    EXPECT_EQ(Read(path), Audio(1000) + TagRecord("Title"));
}
