#include "SettingsTestEnv.h"

#include <sys/stat.h>

using IniTest::readFile;
using IniTest::writeFile;

namespace {

// Disc keys as the ripper forms them: hexadecimal digits.
const std::string Disc = "2A0B9C0E";

class CDInfo : public SettingsTest::PrivateHome {
protected:
    std::string cdplayer() const { return Config + "/cdplayer.ini"; }
    void writeCdplayer(const std::string& text) {
        std::filesystem::create_directories(Config);
        writeFile(cdplayer(), text);
    }
    // Reads the disc with the caller's values "a", "b", "y", "g".
    bool read(const std::string& section = Disc) {
        Artist = "a";
        Album = "b";
        Year = "y";
        Genre = "g";
        Titles = {"stale"};
        return ReadCDInfo(section, Artist, Album, Year, Genre, Titles);
    }
    std::string Artist, Album, Year, Genre;
    std::vector<std::string> Titles;
};

TEST_F(CDInfo, FileLiesInTheConfigurationFolder) {
    EXPECT_EQ(CDInfoFilePath(), Config + "/cdplayer.ini");
}

TEST_F(CDInfo, TwelveEntriesForTwelveKeys) {
    std::string text = "[" + Disc + "]\nartist=The Band\ntitle=The Album\n";
    for (int i = 0; i < 10; ++i)
        text += std::to_string(i) + "=Song " + std::to_string(i) + "\n";
    writeCdplayer(text);
    EXPECT_TRUE(read());
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i)
        expected.push_back("Song " + std::to_string(i));
    // Twelve non-empty keys, so twelve entries: keys "10" and "11" are missing.
    expected.push_back("");
    expected.push_back("");
    EXPECT_EQ(Titles, expected);
    EXPECT_EQ(Artist, "The Band");
    EXPECT_EQ(Album, "The Album");
    EXPECT_EQ(Year, "");
    EXPECT_EQ(Genre, "Other");
}

TEST_F(CDInfo, EmptyValuesAreNotCounted) {
    writeCdplayer("[" + Disc + "]\n0=\n1=Second\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Titles, std::vector<std::string>{""});
}

TEST_F(CDInfo, RepeatedKeyCountsOnce) {
    writeCdplayer("[" + Disc + "]\n0=First\n0=Again\n1=Second\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Titles, (std::vector<std::string>{"First", "Second"}));
}

TEST_F(CDInfo, MissingSectionGivesFallbacks) {
    writeCdplayer("[OtherDisc]\nartist=x\n0=y\n");
    EXPECT_TRUE(ReadCDInfo(Disc, Artist, Album, Year, Genre, Titles));
    Artist = Album = Genre = "";
    Year = "1999";
    Titles = {"old"};
    EXPECT_TRUE(ReadCDInfo(Disc, Artist, Album, Year, Genre, Titles));
    EXPECT_TRUE(Titles.empty());
    EXPECT_EQ(Album, "No Title");
    EXPECT_EQ(Artist, "No Artist");
    EXPECT_EQ(Genre, "Other");
    EXPECT_EQ(Year, "1999");
}

TEST_F(CDInfo, MissingSectionKeepsTheCallersValues) {
    EXPECT_TRUE(read()); // no file at all
    EXPECT_TRUE(Titles.empty());
    EXPECT_EQ(Artist, "a");
    EXPECT_EQ(Album, "b");
    EXPECT_EQ(Year, "y");
    EXPECT_EQ(Genre, "g");
}

TEST_F(CDInfo, SectionWithoutKeysCountsAsMissing) {
    writeCdplayer("[" + Disc + "]\n; nothing here\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Artist, "a");
    EXPECT_TRUE(Titles.empty());
}

TEST_F(CDInfo, BlankValuesFallBack) {
    writeCdplayer("[" + Disc + "]\ntitle=   \nartist=\t\ngenre=Rock\nyear= \n0=x\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Album, "No Title");
    EXPECT_EQ(Artist, "No Artist");
    EXPECT_EQ(Genre, "Rock");
    EXPECT_EQ(Year, ""); // present but empty: no fallback for the year
}

TEST_F(CDInfo, NamesMatchWithoutCase) {
    writeCdplayer("[" + std::string("2a0b9c0e") + "]\nArtist=A\nTITLE=T\nYeAr=2001\nGENRE=Jazz\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Artist, "A");
    EXPECT_EQ(Album, "T");
    EXPECT_EQ(Year, "2001");
    EXPECT_EQ(Genre, "Jazz");
    EXPECT_EQ(Titles, std::vector<std::string>(4, ""));
}

TEST_F(CDInfo, WriteEmptyValuesAndThreeTitles) {
    const std::vector<std::string> titles = {"One", "Two", "Three"};
    EXPECT_TRUE(WriteCDInfo(Disc, "", "", "", "", &titles));
    EXPECT_EQ(readFile(cdplayer()),
              "[" + Disc + "]\nartist=\nalbum=\nyear=\ngenre=\n0=One\n1=Two\n2=Three\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Titles, titles);
    EXPECT_EQ(Album, "No Title");
    EXPECT_EQ(Artist, "No Artist");
    EXPECT_EQ(Genre, "Other");
    EXPECT_EQ(Year, "");
}

TEST_F(CDInfo, WriteWithoutListWritesFourKeys) {
    EXPECT_TRUE(WriteCDInfo(Disc, "Artist", "Album", "1987", "Pop", nullptr));
    EXPECT_EQ(readFile(cdplayer()),
              "[" + Disc + "]\nartist=Artist\nalbum=Album\nyear=1987\ngenre=Pop\n");
}

// The writer stores the album title under "album" and the reader reads it back; a file
// that another program wrote with "title" is read too, "album" first.
TEST_F(CDInfo, AlbumIsWrittenAndReadTitleIsReadToo) {
    EXPECT_TRUE(WriteCDInfo(Disc, "Artist", "Written Album", "", "", nullptr));
    EXPECT_TRUE(read());
    EXPECT_EQ(Album, "Written Album");
    EXPECT_EQ(Artist, "Artist");
    writeCdplayer("[" + Disc + "]\ntitle=Old Title\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Album, "Old Title");
    EXPECT_TRUE(WriteCDInfo(Disc, "Artist", "New Album", "", "", nullptr));
    EXPECT_TRUE(read());
    EXPECT_EQ(Album, "New Album");
    EXPECT_NE(readFile(cdplayer()).find("title=Old Title\n"), std::string::npos);
    EXPECT_NE(readFile(cdplayer()).find("album=New Album\n"), std::string::npos);
    writeCdplayer("[" + Disc + "]\nalbum=\ntitle=Old Title\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Album, "Old Title"); // an empty "album" does not hide "title"
}

TEST_F(CDInfo, ShorterListKeepsEarlierLaterTitles) {
    const std::vector<std::string> five = {"1", "2", "3", "4", "5"};
    const std::vector<std::string> three = {"a", "b", "c"};
    EXPECT_TRUE(WriteCDInfo(Disc, "x", "y", "z", "w", &five));
    EXPECT_TRUE(WriteCDInfo(Disc, "x", "y", "z", "w", &three));
    EXPECT_TRUE(read());
    // Nine non-empty keys: four album keys and five titles, of which "3" and "4" stayed.
    EXPECT_EQ(Titles, (std::vector<std::string>{"a", "b", "c", "4", "5", "", "", "", ""}));
}

TEST_F(CDInfo, OtherDiscsAndLinesStay) {
    const std::string before = "; kept\n[OtherDisc]\n0=Keep me\n";
    writeCdplayer(before);
    const std::vector<std::string> titles = {"T"};
    EXPECT_TRUE(WriteCDInfo(Disc, "A", "B", "C", "D", &titles));
    EXPECT_EQ(readFile(cdplayer()),
              before + "\n[" + Disc + "]\nartist=A\nalbum=B\nyear=C\ngenre=D\n0=T\n");
}

TEST_F(CDInfo, WrittenFileIsPlainIni) {
    const std::vector<std::string> titles = {"Caf\xC3\xA9", "50% off", "a=b"};
    EXPECT_TRUE(WriteCDInfo(Disc, "Sigur R\xC3\xB3s", "Album", "2002", "Post-rock", &titles));
    const auto sections = IniTest::strictRead(readFile(cdplayer()));
    ASSERT_EQ(sections.count(Disc), 1u);
    EXPECT_EQ(sections.at(Disc).size(), 7u);
    const std::string dump = IniTest::configParserDump(cdplayer());
    if (dump.empty())
        GTEST_SKIP() << "python3 is missing";
    EXPECT_EQ(dump, Disc + "|artist=Sigur R\xC3\xB3s\n" + Disc + "|album=Album\n" + Disc +
                        "|year=2002\n" + Disc + "|genre=Post-rock\n" + Disc + "|0=Caf\xC3\xA9\n" +
                        Disc + "|1=50% off\n" + Disc + "|2=a=b\n");
}

TEST_F(CDInfo, TitleWithEqualsSignRoundTrips) {
    const std::vector<std::string> titles = {"x=y", "  padded  "};
    EXPECT_TRUE(WriteCDInfo(Disc, "", "", "", "", &titles));
    EXPECT_TRUE(read());
    // Surrounding blanks are not part of a profile value.
    EXPECT_EQ(Titles, (std::vector<std::string>{"x=y", "padded"}));
}

TEST_F(CDInfo, Windows1252TitlesAreRead) {
    writeCdplayer("[" + Disc + "]\n0=Bj\xF6rk\n1=\x93Quoted\x94\n");
    EXPECT_TRUE(read());
    EXPECT_EQ(Titles, (std::vector<std::string>{"Bj\xC3\xB6rk", "\xE2\x80\x9CQuoted\xE2\x80\x9D"}));
}

TEST_F(CDInfo, ReadOnlyFileRefusesAndKeepsEverything) {
    const std::string before = "[" + Disc + "]\nartist=Old\n0=Old title\n";
    writeCdplayer(before);
    ::chmod(cdplayer().c_str(), 0444);
    const std::vector<std::string> titles = {"New title"};
    EXPECT_FALSE(WriteCDInfo(Disc, "New", "", "", "", &titles));
    EXPECT_EQ(readFile(cdplayer()), before);
    EXPECT_TRUE(read());
    EXPECT_EQ(Artist, "Old");
    // Two non-empty keys ("artist" and "0"), so two entries.
    EXPECT_EQ(Titles, (std::vector<std::string>{"Old title", ""}));
}

TEST_F(CDInfo, UnwritableConfigurationFolderRefuses) {
    writeFile(Folder.file("notafolder"), "x");
    ::setenv("XDG_CONFIG_HOME", Folder.file("notafolder").c_str(), 1);
    EXPECT_FALSE(WriteCDInfo(Disc, "A", "B", "C", "D", nullptr));
    EXPECT_TRUE(read()); // reading a file that cannot exist is no failure
    EXPECT_TRUE(Titles.empty());
}

TEST_F(CDInfo, CreatesTheConfigurationFolder) {
    ASSERT_FALSE(Paths::folderExists(Config));
    EXPECT_TRUE(WriteCDInfo(Disc, "A", "B", "C", "D", nullptr));
    EXPECT_TRUE(Paths::fileExists(Config + "/cdplayer.ini"));
}

struct BadDiscFileCase {
    const char* name;
    std::string text;
    std::vector<std::string> titles;
    std::string artist;
};

class BadDiscFile : public CDInfo, public testing::WithParamInterface<BadDiscFileCase> {};

TEST_P(BadDiscFile, ReadsWhatIsUsableAndWriteKeepsTheRest) {
    const BadDiscFileCase& c = GetParam();
    writeCdplayer(c.text);
    EXPECT_TRUE(read());
    EXPECT_EQ(Titles, c.titles);
    EXPECT_EQ(Artist, c.artist);
    const std::vector<std::string> titles = {"New"};
    EXPECT_TRUE(WriteCDInfo(Disc, "W", "", "", "", &titles));
    const std::string after = readFile(cdplayer());
    // Every line of the old file that is not one of the five keys written is kept.
    std::size_t start = 0;
    while (start < c.text.size()) {
        auto end = c.text.find('\n', start);
        if (end == std::string::npos)
            end = c.text.size();
        const std::string line = c.text.substr(start, end - start);
        const bool owned = line.rfind("0=", 0) == 0 || line.rfind("artist=", 0) == 0;
        if (!owned) {
            EXPECT_NE(after.find(line), std::string::npos) << "lost: " << line.substr(0, 40);
        }
        start = end + 1;
    }
    EXPECT_TRUE(read());
    EXPECT_EQ(Titles.at(0), "New");
    EXPECT_EQ(Artist, "W");
}

const std::string LongTitle(100000, 't');

const BadDiscFileCase BadDiscFileCases[] = {
    {"hundred_thousand_char_title",
     "[" + Disc + "]\n0=" + LongTitle + "\n1=" + LongTitle + "\n",
     {LongTitle.substr(0, 2047), LongTitle.substr(0, 2047)},
     "No Artist"},
    {"lines_without_equals", "[" + Disc + "]\nnoise\n0=A\nmore noise\n", {"A"}, "No Artist"},
    {"keys_before_first_section",
     "0=Outside\nartist=Nobody\n[" + Disc + "]\n1=B\n",
     {""},
     "No Artist"},
    {"duplicate_sections",
     "[" + Disc + "]\n0=First\n[" + Disc + "]\n0=Second\n1=x\n",
     {"First"},
     "No Artist"},
    {"byte_order_mark_crlf",
     "\xEF\xBB\xBF[" + Disc + "]\r\nartist=Crlf\r\n0=A\r\n",
     {"A", ""},
     "Crlf"},
    {"control_bytes", "[" + Disc + "]\n\x01\x02\x7F=\xFF\xFE\n0=ok\n", {"ok", ""}, "No Artist"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BadDiscFile, testing::ValuesIn(BadDiscFileCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
