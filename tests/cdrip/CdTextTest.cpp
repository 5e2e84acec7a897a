// CD-TEXT of generated images: what mkdisc writes into the cue sheet comes back from
// the library field by field, as UTF-8.
#include "CdripFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace cdriptest {
namespace {

struct CdTextCase {
    const char* name;
    std::string title, performer;
    std::vector<std::string> trackTitles, trackPerformers;
};

void PrintTo(const CdTextCase& row, std::ostream* os) {
    *os << row.name;
}

std::string field(int32_t track, int32_t which, int32_t size = 512) {
    std::vector<char> buffer(size_t(size), 'x');
    EXPECT_EQ(CR_GetCdText(track, which, buffer.data(), size), CR_STATUS_OK);
    return std::string(buffer.data());
}

class CdTextImageTest : public CdripTest, public testing::WithParamInterface<CdTextCase> {};

TEST_P(CdTextImageTest, FieldsComeBackAsWritten) {
    const CdTextCase& row = GetParam();
    discgen::DiscSpec plan = discgen::simpleDisc(9, 3, 80, 40);
    plan.title = row.title;
    plan.performer = row.performer;
    plan.trackTitles = row.trackTitles;
    plan.trackPerformers = row.trackPerformers;
    const std::string base = dir_ + "/cdtext-" + row.name;
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(base, plan, &error)) << error;
    startLibrary({base + ".cue"}, nullptr);
    selectDisc(base + ".cue");
    ASSERT_EQ(CR_ReadCdText(), CR_STATUS_OK);
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE), row.title);
    EXPECT_EQ(field(0, CR_CDTEXT_PERFORMER), row.performer);
    for (int32_t t = 1; t <= 4; ++t) {
        const size_t i = size_t(t - 1);
        EXPECT_EQ(field(t, CR_CDTEXT_TITLE), i < row.trackTitles.size() ? row.trackTitles[i] : "")
            << "track " << t;
        EXPECT_EQ(field(t, CR_CDTEXT_PERFORMER),
                  i < row.trackPerformers.size() ? row.trackPerformers[i] : "")
            << "track " << t;
    }
    EXPECT_EQ(field(5, CR_CDTEXT_TITLE), ""); // no fifth track
}

INSTANTIATE_TEST_SUITE_P(
    Discs, CdTextImageTest,
    testing::Values(
        CdTextCase{"None", "", "", {}, {}}, CdTextCase{"AlbumOnly", "An Album", "A Band", {}, {}},
        CdTextCase{"EveryField", "Album", "Band", {"One", "Two", "Three"}, {"P1", "P2", "P3"}},
        // U+00E9, U+00F1, U+00DF, U+00BD: ISO-8859-1 in the cue sheet, UTF-8 out.
        CdTextCase{"NonAscii",
                   "Études für Klavier",
                   "Señora Ñandú",
                   {"Café Noir", "Straße ½", "Ça va"},
                   {"Zoë", "", "Ångström"}},
        CdTextCase{"SomeTracksUntitled", "", "", {"", "Middle"}, {}},
        CdTextCase{"SpacesAndApostrophes", "  It's  spaced ", "", {"l'été 'quoted'"}, {}}),
    [](const testing::TestParamInfo<CdTextCase>& row) { return row.param.name; });

TEST_F(CdripTest, CdTextIsCutOnAWholeCharacter) {
    discgen::DiscSpec plan = discgen::simpleDisc(3, 1, 80);
    plan.title = "abcé"; // é takes bytes 4 and 5
    const std::string base = dir_ + "/cdtext-cut";
    ASSERT_TRUE(discgen::writeDisc(base, plan));
    startLibrary({base + ".cue"}, nullptr);
    selectDisc(base + ".cue");
    ASSERT_EQ(CR_ReadCdText(), CR_STATUS_OK);
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE, 6), "abc\xc3\xa9"); // 5 bytes and the NUL fit
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE, 5), "abc");         // half of é would not
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE, 1), "");
}

TEST_F(CdripTest, CdTextRefusesBadArguments) {
    char buffer[8] = "keep";
    EXPECT_EQ(CR_GetCdText(0, CR_CDTEXT_TITLE, nullptr, 8), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetCdText(0, CR_CDTEXT_TITLE, buffer, 0), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetCdText(-1, CR_CDTEXT_TITLE, buffer, 8), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetCdText(100, CR_CDTEXT_TITLE, buffer, 8), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetCdText(1, 3, buffer, 8), CR_STATUS_FAIL);
    EXPECT_STREQ(buffer, "keep");
}

TEST_F(CdripTest, CdTextOfAnotherDiscReplacesTheLast) {
    discgen::DiscSpec titled = discgen::simpleDisc(3, 1, 80);
    titled.title = "Titled";
    const std::string a = dir_ + "/cdtext-a", b = dir_ + "/cdtext-b";
    ASSERT_TRUE(discgen::writeDisc(a, titled));
    ASSERT_TRUE(discgen::writeDisc(b, discgen::simpleDisc(4, 1, 80)));
    startLibrary({a + ".cue", b + ".cue"}, nullptr);
    selectDisc(a + ".cue");
    ASSERT_EQ(CR_ReadCdText(), CR_STATUS_OK);
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE), "Titled");
    // Plain ASCII is valid UTF-8; the encoding is the disc's, no track's.
    EXPECT_EQ(field(0, CR_CDTEXT_ENCODING), "UTF-8");
    EXPECT_EQ(field(1, CR_CDTEXT_ENCODING), "");
    selectDisc(b + ".cue");
    ASSERT_EQ(CR_ReadCdText(), CR_STATUS_OK);
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE), "");
    // An open virtual tray has no disc to read: the call fails and keeps nothing.
    selectDisc(a + ".cue");
    ASSERT_EQ(CR_ReadCdText(), CR_STATUS_OK);
    ASSERT_EQ(CR_EjectCD(CR_TRUE), CR_STATUS_OK);
    EXPECT_EQ(CR_ReadCdText(), CR_STATUS_FAIL);
    EXPECT_EQ(field(0, CR_CDTEXT_TITLE), "");
}

TEST_F(CdripTest, CdTextNeedsTheLibrary) {
    CR_DeInit();
    EXPECT_EQ(CR_ReadCdText(), CR_STATUS_FAIL);
}

// ---- MCN and ISRC of an image: a cue sheet's CATALOG line and each track's ISRC ----

struct CodesCase {
    const char* name;
    std::string catalog;           // CATALOG value written ("": no line)
    std::vector<std::string> isrc; // ISRC value of track i+1 ("": no line)
    std::string mcn;               // what CR_GetMcn must give
    std::vector<std::string> want; // what CR_GetTrackIsrc(1..3) must give
};

void PrintTo(const CodesCase& row, std::ostream* os) {
    *os << row.name;
}

// The cue sheet of `base` with a CATALOG line on top and ISRC lines after TRACK lines.
void addCodes(const std::string& base, const CodesCase& row) {
    std::ifstream in(base + ".cue");
    std::string line, out;
    if (!row.catalog.empty())
        out += "CATALOG " + row.catalog + "\n";
    size_t track = 0;
    while (std::getline(in, line)) {
        out += line + "\n";
        if (line.find("TRACK ") != std::string::npos) {
            if (track < row.isrc.size() && !row.isrc[track].empty())
                out += "    ISRC " + row.isrc[track] + "\n";
            ++track;
        }
    }
    in.close();
    std::ofstream(base + ".cue", std::ios::trunc) << out;
}

std::string mcnOf(int32_t size = CR_MCN_SIZE, CR_STATUS want = CR_STATUS_OK) {
    std::vector<char> buffer(size_t(std::max(size, 1)), 'x');
    EXPECT_EQ(CR_GetMcn(buffer.data(), size), want);
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

std::string isrcOf(int32_t track, int32_t size = CR_ISRC_SIZE, CR_STATUS want = CR_STATUS_OK) {
    std::vector<char> buffer(size_t(std::max(size, 1)), 'x');
    EXPECT_EQ(CR_GetTrackIsrc(track, buffer.data(), size), want) << "track " << track;
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

class CodesImageTest : public CdripTest, public testing::WithParamInterface<CodesCase> {};

TEST_P(CodesImageTest, CodesComeBackAsWritten) {
    const CodesCase& row = GetParam();
    const std::string base = dir_ + "/codes-" + row.name;
    ASSERT_TRUE(discgen::writeDisc(base, discgen::simpleDisc(5, 3, 60)));
    addCodes(base, row);
    startLibrary({base + ".cue"}, nullptr);
    selectDisc(base + ".cue");
    EXPECT_EQ(mcnOf(), row.mcn);
    for (int32_t t = 1; t <= 3; ++t)
        EXPECT_EQ(isrcOf(t), row.want[size_t(t - 1)]) << "track " << t;
}

INSTANTIATE_TEST_SUITE_P(
    Discs, CodesImageTest,
    testing::Values(CodesCase{"None", "", {}, "", {"", "", ""}},
                    CodesCase{"Every",
                              "0724384260729",
                              {"GBAYE6700149", "USRC17607839", "DEA120400001"},
                              "0724384260729",
                              {"GBAYE6700149", "USRC17607839", "DEA120400001"}},
                    CodesCase{"SomeTracks",
                              "4006381333931",
                              {"", "FRZ039800212"},
                              "4006381333931",
                              {"", "FRZ039800212", ""}},
                    // Drives and authoring tools write zeros for "no catalogue number".
                    CodesCase{"ZeroCatalog", "0000000000000", {}, "", {"", "", ""}},
                    // Country codes are letters, the last seven characters digits.
                    CodesCase{"MalformedIsrc",
                              "",
                              {"12AYE6700149", "GBAYE67001X9", "GBAYE670014"},
                              "",
                              {"", "", ""}}),
    [](const testing::TestParamInfo<CodesCase>& row) { return row.param.name; });

TEST_F(CdripTest, CodesRefuseBadArgumentsAndMissingDiscs) {
    const std::string base = dir_ + "/codes-args";
    ASSERT_TRUE(discgen::writeDisc(base, discgen::simpleDisc(6, 2, 60)));
    addCodes(base, CodesCase{"args", "0724384260729", {"GBAYE6700149", "GBAYE6700150"}, "", {}});
    startLibrary({base + ".cue", dir_ + "/codes-missing.cue"}, nullptr);
    selectDisc(base + ".cue");
    // The buffer must hold the whole code and its NUL.
    EXPECT_EQ(mcnOf(CR_MCN_SIZE), "0724384260729");
    EXPECT_EQ(mcnOf(CR_MCN_SIZE - 1, CR_STATUS_FAIL), "");
    EXPECT_EQ(isrcOf(2, CR_ISRC_SIZE), "GBAYE6700150");
    EXPECT_EQ(isrcOf(2, CR_ISRC_SIZE - 1, CR_STATUS_FAIL), "");
    EXPECT_EQ(CR_GetMcn(nullptr, 20), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetTrackIsrc(1, nullptr, 20), CR_STATUS_FAIL);
    // Tracks 1 and 2 are on the disc, 0 and 3 are not.
    EXPECT_EQ(isrcOf(0, 20, CR_STATUS_FAIL), "");
    EXPECT_EQ(isrcOf(3, 20, CR_STATUS_FAIL), "");
    EXPECT_EQ(isrcOf(1, 20), "GBAYE6700149");
    // An open tray holds no disc to ask.
    ASSERT_EQ(CR_EjectCD(CR_TRUE), CR_STATUS_OK);
    EXPECT_EQ(mcnOf(CR_MCN_SIZE, CR_STATUS_FAIL), "");
    EXPECT_EQ(isrcOf(1, 20, CR_STATUS_FAIL), "");
    // Neither does a drive whose image is missing.
    ASSERT_EQ(CR_SetActiveCDROM(driveOf(dir_ + "/codes-missing.cue")), CR_STATUS_OK);
    EXPECT_EQ(mcnOf(CR_MCN_SIZE, CR_STATUS_FAIL), "");
    EXPECT_EQ(isrcOf(1, 20, CR_STATUS_FAIL), "");
    CR_DeInit();
    EXPECT_EQ(mcnOf(CR_MCN_SIZE, CR_STATUS_FAIL), "");
    EXPECT_EQ(isrcOf(1, 20, CR_STATUS_FAIL), "");
}

struct CueTextCase {
    const char* name;
    std::string utf8;
    bool fits;
    std::string latin1;
};

void PrintTo(const CueTextCase& row, std::ostream* os) {
    *os << row.name;
}

class CueTextTest : public testing::TestWithParam<CueTextCase> {};

TEST_P(CueTextTest, FitsTheCueSheetOrIsRefused) {
    std::string latin1, error;
    EXPECT_EQ(discgen::cueText(GetParam().utf8, &latin1, &error), GetParam().fits) << error;
    if (GetParam().fits)
        EXPECT_EQ(latin1, GetParam().latin1);
    else
        EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CueTextTest,
    testing::Values(CueTextCase{"Ascii", "Plain text", true, "Plain text"},
                    CueTextCase{"Latin1", "Caf\xc3\xa9 \xc3\xbf", true, "Caf\xe9 \xff"},
                    CueTextCase{"Empty", "", true, ""},
                    CueTextCase{"DoubleQuote", "Say \"hi\"", false, ""},
                    CueTextCase{"Tab", "a\tb", false, ""},
                    CueTextCase{"Newline", "a\nb", false, ""},
                    CueTextCase{"EuroSign", "5 \xe2\x82\xac", false, ""}, // U+20AC
                    CueTextCase{"Cyrillic", "\xd0\x94", false, ""},
                    CueTextCase{"BrokenUtf8", "Caf\xe9", false, ""},
                    CueTextCase{"CutSequence", "ab\xc3", false, ""},
                    CueTextCase{"Overlong", "\xc0\xa2", false, ""}),
    [](const testing::TestParamInfo<CueTextCase>& row) { return row.param.name; });

} // namespace
} // namespace cdriptest
