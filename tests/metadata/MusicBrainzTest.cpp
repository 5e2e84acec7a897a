// The look-up's answer parser over a table of good and malformed documents, and the
// look-up itself against a local server.
#include "MbJson.h"

#include "LocalHttpServer.h"
#include "metadata/MusicBrainz.h"

#include <gtest/gtest.h>

#include "metadata/ReleaseChoice.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using mbjson::Medium;
using mbjson::Release;
using mbjson::Track;
using Metadata::DiscToc;

// Three tracks of 20 s (1500 sectors) each.
DiscToc ThreeTracks() {
    DiscToc toc;
    toc.Offsets = {150, 1650, 3150};
    toc.LeadOut = 4650;
    return toc;
}

const std::string DiscId = Metadata::MusicBrainzDiscId(ThreeTracks());

Medium Exact() {
    return {1, {{"Eins", 20000, ""}, {"Zwei", 20000, ""}, {"Drei", 20000, ""}}, {}};
}

Medium Lengths(int64_t a, int64_t b, int64_t c) {
    return {1, {{"A", a, ""}, {"B", b, ""}, {"C", c, ""}}, {}};
}

struct ParseCase {
    const char* name;
    std::string json;
    bool found;
    std::string releaseId;
    int medium;
};

void PrintTo(const ParseCase& row, std::ostream* os) {
    *os << row.name;
}

class ParseAnswer : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseAnswer, PicksTheBestFit) {
    const ParseCase& row = GetParam();
    const Metadata::LookupResult r = Metadata::ParseLookupAnswer(row.json, ThreeTracks(), DiscId);
    EXPECT_EQ(r.Found, row.found) << r.Message;
    EXPECT_FALSE(r.Message.empty());
    EXPECT_EQ(r.Message.find('\n'), std::string::npos);
    if (row.found) {
        EXPECT_EQ(r.Best.Id, row.releaseId);
        EXPECT_EQ(r.Best.Medium, row.medium);
    }
}

const std::string Valid =
    mbjson::Document(DiscId, {{"r1", "Album", "Band", "2001-02-03", {Exact()}}});

// A one-track release "deep" whose track's `member` holds `levels` nested arrays (each
// with the text `inside` at the bottom): the document around it is 7 levels deep
// (answer, releases, release, media, medium, tracks, track).
std::string Nested(const std::string& member, int levels, const std::string& inside = "") {
    const std::string value = std::string(std::size_t(levels), '[') + "\"" + inside + "\"" +
                              std::string(std::size_t(levels), ']');
    return R"({"releases":[{"id":"deep","title":"D","media":[{"tracks":[{"title":"t","length":1,")" +
           member + "\":" + value + "}]}]}]}";
}

std::string Padded(const std::string& json, std::size_t size) {
    return json + std::string(size - json.size(), ' ');
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ParseAnswer,
    testing::Values(
        ParseCase{"OneRelease", Valid, true, "r1", 1},
        ParseCase{
            "NearestLengthsWin",
            mbjson::Document(DiscId, {{"off5s", "X", "B", "", {Lengths(25000, 20000, 20000)}},
                                      {"near", "X", "B", "", {Lengths(20100, 19900, 20000)}},
                                      {"off1s", "X", "B", "", {Lengths(21000, 20000, 20000)}}}),
            true, "near", 1},
        ParseCase{
            "TrackCountBeforeLengths",
            mbjson::Document(
                DiscId, {{"two", "X", "B", "", {{1, {{"A", 20000, ""}, {"B", 20000, ""}}, {}}}},
                         {"three", "X", "B", "", {Lengths(50000, 50000, 50000)}}}),
            true, "three", 1},
        // Two mediums that fit the disc equally well: the first of the answer is kept.
        ParseCase{"EqualFitFirstWins",
                  mbjson::Document(DiscId, {{"first", "X", "B", "", {Exact()}},
                                            {"second", "X", "B", "", {Exact()}}}),
                  true, "first", 1},
        ParseCase{
            "EqualFitWithTheDiscIdFirstWins",
            mbjson::Document(
                DiscId,
                {{"first", "X", "B", "", {{1, Lengths(20500, 20000, 20000).tracks, {DiscId}}}},
                 {"second", "X", "B", "", {{1, Lengths(20000, 20000, 20500).tracks, {DiscId}}}}}),
            true, "first", 1},
        // A millisecond nearer is nearer.
        ParseCase{
            "OneMillisecondNearerWins",
            mbjson::Document(DiscId, {{"first", "X", "B", "", {Lengths(20002, 20000, 20000)}},
                                      {"second", "X", "B", "", {Lengths(20001, 20000, 20000)}}}),
            true, "second", 1},
        ParseCase{
            "DiscIdBeforeLengths",
            mbjson::Document(
                DiscId,
                {{"exact", "X", "B", "", {Exact()}},
                 {"carries", "X", "B", "", {{1, Lengths(22000, 22000, 22000).tracks, {DiscId}}}}}),
            true, "carries", 1},
        ParseCase{"SecondMediumOfASet",
                  mbjson::Document(
                      DiscId,
                      {{"set",
                        "X",
                        "B",
                        "",
                        {{1, {{"a", 1000, ""}, {"b", 1000, ""}, {"c", 1000, ""}, {"d", 1, ""}}, {}},
                         {2, Exact().tracks, {}}}}}),
                  true, "set", 2},
        ParseCase{"FuzzyTocList",
                  R"({"release-count":1,"release-offset":0,"releases":[{"id":"fz","title":"T",)"
                  R"("media":[{"position":1,"tracks":[{"title":"a","length":20000},)"
                  R"({"title":"b","length":null},{"recording":{"title":"c","length":20000}}]}]}]})",
                  true, "fz", 1},
        ParseCase{"NoReleases", R"({"releases":[]})", false, "", 0},
        ParseCase{"EmptyText", "", false, "", 0},
        ParseCase{"NotJson", "<html>busy</html>", false, "", 0},
        ParseCase{"CutOff", Valid.substr(0, Valid.size() / 2), false, "", 0},
        ParseCase{"AnArray", "[1,2,3]", false, "", 0},
        ParseCase{"ReleasesNotAList", R"({"releases":"many"})", false, "", 0},
        ParseCase{"MediaNotAList", R"({"releases":[{"id":"x","media":7}]})", false, "", 0},
        ParseCase{
            "MistypedMembers",
            R"({"releases":[{"id":5,"title":[],"media":[{"tracks":[{"title":7,"length":"x"}]}]}]})",
            false, "", 0},
        ParseCase{
            "HugeLength",
            R"({"releases":[{"id":"h","media":[{"tracks":[{"title":"a","length":1e300}]}]}]})",
            true, "h", 1},
        ParseCase{"DeepNesting", std::string(100000, '[') + std::string(100000, ']'), false, "", 0},
        // A hostile answer: 100,000 levels inside a recording or an artist credit.
        ParseCase{"DeepInsideRecording", Nested("recording", 100000), false, "", 0},
        ParseCase{"DeepInsideArtistCredit", Nested("artist-credit", 100000), false, "", 0},
        // The limit of nesting, both sides: the document's own 7 levels count too.
        ParseCase{"NestedToTheLimit", Nested("recording", Metadata::MaxAnswerDepth - 7), true,
                  "deep", 1},
        ParseCase{"NestedOneBeyondTheLimit", Nested("recording", Metadata::MaxAnswerDepth - 6),
                  false, "", 0},
        ParseCase{"BracketsInStringsDoNotCount",
                  Nested("recording", Metadata::MaxAnswerDepth - 7, std::string(500, '[')), true,
                  "deep", 1},
        // The limit of size, both sides: white space pads a valid answer.
        ParseCase{"SizeAtTheLimit", Padded(Valid, Metadata::MaxAnswerBytes), true, "r1", 1},
        ParseCase{"SizeOneBeyondTheLimit", Padded(Valid, Metadata::MaxAnswerBytes + 1), false, "",
                  0}),
    [](const testing::TestParamInfo<ParseCase>& row) { return row.param.name; });

TEST(ParseAnswerText, TitlesArtistsAndYear) {
    Medium m = Exact();
    m.tracks[1] = {"Café für Zoë", 20000, "Guest"};
    const std::string json = mbjson::Document(DiscId, {{"r9", "Ålbum", "Bänd", "1999-12-01", {m}}});
    const Metadata::LookupResult r = Metadata::ParseLookupAnswer(json, ThreeTracks(), DiscId);
    ASSERT_TRUE(r.Found);
    EXPECT_EQ(r.Best.Title, "Ålbum");
    EXPECT_EQ(r.Best.Artist, "Bänd");
    EXPECT_EQ(r.Best.Year(), "1999");
    EXPECT_EQ(r.Best.Description(), "Bänd - Ålbum");
    ASSERT_EQ(r.Best.Tracks.size(), 3u);
    EXPECT_EQ(r.Best.Tracks[1].Title, "Café für Zoë");
    EXPECT_EQ(r.Best.Tracks[1].Artist, "Guest");
    EXPECT_EQ(r.Best.Tracks[0].Artist, "");
}

struct YearCase {
    const char* name;
    std::string date;
    std::string year;
};

void PrintTo(const YearCase& row, std::ostream* os) {
    *os << row.name;
}

class ReleaseYear : public testing::TestWithParam<YearCase> {};

TEST_P(ReleaseYear, FirstFourDigits) {
    Metadata::Release r;
    r.Date = GetParam().date;
    EXPECT_EQ(r.Year(), GetParam().year);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, ReleaseYear,
    testing::Values(YearCase{"FullDate", "1991-09-24", "1991"},
                    YearCase{"YearAndMonth", "2004-05", "2004"},
                    YearCase{"ExactlyFourDigits", "1999", "1999"},
                    YearCase{"FiveCharacters", "1999-", "1999"}, YearCase{"ThreeDigits", "199", ""},
                    YearCase{"Empty", "", ""}, YearCase{"LetterInTheYear", "19x9-01-01", ""},
                    YearCase{"LetterLast", "199x", ""}),
    [](const testing::TestParamInfo<YearCase>& row) { return row.param.name; });

TEST(ParseAnswerText, JoinPhrasesMakeOneCredit) {
    const std::string json =
        R"({"releases":[{"id":"j","title":"T","artist-credit":[{"name":"A","joinphrase":" feat. "},)"
        R"({"artist":{"name":"B"},"joinphrase":""}],"media":[{"tracks":[{"title":"x","length":1}]}]}]})";
    const Metadata::LookupResult r = Metadata::ParseLookupAnswer(json, ThreeTracks(), DiscId);
    ASSERT_TRUE(r.Found);
    EXPECT_EQ(r.Best.Artist, "A feat. B");
}

// The answer of tests/metadata/answers/three-releases.json, written after the web
// service's documented JSON: three releases of one disc (US, GB, Europe), the disc the
// second medium of the US set; a credit of three artists with join phrases; ISRCs.
std::string ThreeReleases() {
    std::ifstream in(METADATA_TEST_DIR "/answers/three-releases.json");
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    for (std::size_t at; (at = json.find("@DISCID@")) != std::string::npos;)
        json.replace(at, 8, DiscId);
    return json;
}

const std::string Trio = "Isobel Campbell & Mark Lanegan feat. Guest Singer";
const std::string TrioSort = "Campbell, Isobel & Lanegan, Mark feat. Singer, Guest";
const std::vector<std::string> TrioIds = {"a0000000-0000-4000-8000-000000000001",
                                          "a0000000-0000-4000-8000-000000000002",
                                          "a0000000-0000-4000-8000-000000000003"};

TEST(ParseAnswerText, EveryFieldOfEveryRelease) {
    const Metadata::LookupResult r =
        Metadata::ParseLookupAnswer(ThreeReleases(), ThreeTracks(), DiscId);
    ASSERT_TRUE(r.Found) << r.Message;
    // Four media offered: two of the US set, one each of the others.
    EXPECT_EQ(r.Candidates, 4);
    ASSERT_EQ(r.Releases.size(), 3u);
    const Metadata::Release& us = r.Releases[0];
    EXPECT_EQ(r.Best.Id, us.Id);
    EXPECT_EQ(us.Id, "1a000000-0000-4000-8000-000000000001");
    EXPECT_EQ(us.Title, "Velmora Sessions");
    EXPECT_EQ(us.Artist, Trio);
    EXPECT_EQ(us.ArtistSort, TrioSort);
    EXPECT_EQ(us.ArtistIds, TrioIds);
    EXPECT_EQ(us.Date, "2001-10-15");
    EXPECT_EQ(us.Year(), "2001");
    EXPECT_EQ(us.Country, "US");
    EXPECT_EQ(us.Status, "official");
    EXPECT_EQ(us.Barcode, "075678164620");
    EXPECT_EQ(us.CatalogNumber, "VEL-001US");
    EXPECT_EQ(us.Asin, "B00005NVX2");
    EXPECT_EQ(us.ReleaseGroupId, "e0000000-0000-4000-8000-000000000001");
    EXPECT_EQ(us.AlbumType, "album; live");
    EXPECT_EQ(us.Medium, 2);
    EXPECT_EQ(us.MediumCount, 2);
    EXPECT_TRUE(us.DiscIdMatch);
    EXPECT_EQ(us.Distance, 0);
    ASSERT_EQ(us.Tracks.size(), 3u);
    const std::vector<std::string> titles = {"Eins", "Zwei", "Drei"};
    const std::vector<std::string> isrcs = {"USVL10100001", "USVL10100002", ""};
    for (std::size_t i = 0; i < 3; ++i) {
        const Metadata::ReleaseTrack& t = us.Tracks[i];
        const std::string n = std::to_string(i + 1);
        EXPECT_EQ(t.Title, titles[i]);
        EXPECT_EQ(t.Id, "us2t" + n);
        EXPECT_EQ(t.RecordingId, "us2c" + n);
        EXPECT_EQ(t.Isrc, isrcs[i]) << "the first of the recording's ISRCs";
        EXPECT_EQ(t.LengthMs, 20000);
        // Track 2 is credited to one artist of its own.
        EXPECT_EQ(t.Artist, i == 1 ? "Mark Lanegan" : Trio);
        EXPECT_EQ(t.ArtistSort, i == 1 ? "Lanegan, Mark" : TrioSort);
        EXPECT_EQ(t.ArtistIds, i == 1 ? std::vector<std::string>{TrioIds[1]} : TrioIds);
    }
    const Metadata::Release& gb = r.Releases[1];
    EXPECT_EQ(gb.Date, "2001") << "only a year";
    EXPECT_EQ(gb.Year(), "2001");
    EXPECT_EQ(gb.Country, "GB");
    EXPECT_EQ(gb.Barcode, "5051083000013");
    EXPECT_EQ(gb.CatalogNumber, "VEL-001UK");
    EXPECT_EQ(gb.Asin, "") << "null in the answer";
    EXPECT_EQ(gb.Medium, 1);
    EXPECT_EQ(gb.MediumCount, 1);
    const Metadata::Release& xe = r.Releases[2];
    EXPECT_EQ(xe.Date, "") << "no date at all";
    EXPECT_EQ(xe.Year(), "");
    EXPECT_EQ(xe.Country, "XE");
    EXPECT_EQ(xe.Status, "bootleg");
    EXPECT_EQ(xe.Barcode, "");
    EXPECT_EQ(xe.CatalogNumber, "");
    EXPECT_EQ(xe.Tracks.at(0).Title, "One (remaster)");
}

struct DateCase {
    const char* name;
    std::string given, date, year;
};

void PrintTo(const DateCase& row, std::ostream* os) {
    *os << row.name;
}

class ReleaseDate : public testing::TestWithParam<DateCase> {};

TEST_P(ReleaseDate, KeptAsGivenWhenItIsADate) {
    const DateCase& row = GetParam();
    const std::string json = mbjson::Document(DiscId, {{"d", "A", "B", row.given, {Exact()}}});
    const Metadata::LookupResult r = Metadata::ParseLookupAnswer(json, ThreeTracks(), DiscId);
    ASSERT_TRUE(r.Found) << r.Message;
    EXPECT_EQ(r.Best.Date, row.date);
    EXPECT_EQ(r.Best.Year(), row.year);
}

INSTANTIATE_TEST_SUITE_P(Dates, ReleaseDate,
                         testing::Values(DateCase{"FullDate", "2001-10-15", "2001-10-15", "2001"},
                                         DateCase{"YearAndMonth", "2001-10", "2001-10", "2001"},
                                         DateCase{"ExactlyFourCharacters", "1999", "1999", "1999"},
                                         DateCase{"ThreeCharacters", "199", "", ""},
                                         DateCase{"FiveDigits", "19991", "1999", "1999"},
                                         DateCase{"MonthOfOneDigit", "2001-1", "2001", "2001"},
                                         DateCase{"DayNotDigits", "2001-10-xx", "2001", "2001"},
                                         DateCase{"Longer", "2001-10-15T00:00", "2001", "2001"},
                                         DateCase{"NotAYear", "abcd-10-15", "", ""},
                                         DateCase{"Empty", "", "", ""}),
                         [](const testing::TestParamInfo<DateCase>& row) {
                             return row.param.name;
                         });

struct ChoiceCase {
    const char* name;
    Metadata::DiscEvidence evidence;
    std::string wanted;
    std::size_t index;
    std::string reason, error;
};

void PrintTo(const ChoiceCase& row, std::ostream* os) {
    *os << row.name;
}

class ReleaseChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(ReleaseChoice, ByTheDiscsEvidence) {
    const ChoiceCase& row = GetParam();
    const Metadata::LookupResult r =
        Metadata::ParseLookupAnswer(ThreeReleases(), ThreeTracks(), DiscId);
    ASSERT_EQ(r.Releases.size(), 3u);
    const Metadata::ReleasePick pick =
        Metadata::ChooseRelease(r.Releases, row.evidence, row.wanted);
    EXPECT_EQ(pick.Index, row.index);
    EXPECT_EQ(pick.Reason, row.reason);
    EXPECT_EQ(pick.Error, row.error);
}

Metadata::DiscEvidence Mcn(const std::string& mcn, const std::string& country = "") {
    return {mcn, "", {}, country};
}

Metadata::DiscEvidence Country(const std::string& country) {
    return {"", "", {}, country};
}

INSTANTIATE_TEST_SUITE_P(
    Evidence, ReleaseChoice,
    testing::Values(
        ChoiceCase{"NothingKnownFirstListed", {}, "", 0, "listed first", ""},
        ChoiceCase{"McnIsTheBarcode", Mcn("5051083000013"), "", 1, "the disc's MCN is its barcode",
                   ""},
        // A 12-digit UPC is the 13-digit EAN with a leading 0.
        ChoiceCase{"McnIsTheUpc", Mcn("0075678164620", "GB"), "", 0,
                   "the disc's MCN is its barcode", ""},
        ChoiceCase{"McnOfZerosIsNone", Mcn("0000000000000", "GB"), "", 1, "your country (GB)", ""},
        ChoiceCase{"CdTextTitles",
                   {"", "", {"One (remaster)", "Two (remaster)", ""}, "GB"},
                   "",
                   2,
                   "the disc's CD-TEXT titles",
                   ""},
        ChoiceCase{"CdTextTitlesFoldCaseAndSpace",
                   {"", "", {"  one  (REMASTER)", "", ""}, ""},
                   "",
                   2,
                   "the disc's CD-TEXT titles",
                   ""},
        ChoiceCase{"CountryOfTheLocale", Country("GB"), "", 1, "your country (GB)", ""},
        ChoiceCase{"EuropeForAEuropeanCountry", Country("DE"), "", 2, "your country (DE)", ""},
        ChoiceCase{"ElsewhereFirstListed", Country("JP"), "", 0, "listed first", ""},
        ChoiceCase{"ChosenByNumber", Country("GB"), "3", 2, "your choice", ""},
        ChoiceCase{
            "ChosenByMbid", {}, "1b000000-0000-4000-8000-000000000002", 1, "your choice", ""},
        ChoiceCase{"NumberBeyondTheList", Country("GB"), "4", 1, "your country (GB)",
                   "release 4 is not one of the 3 MusicBrainz lists for this disc"},
        ChoiceCase{"NumberZero",
                   {},
                   "0",
                   0,
                   "listed first",
                   "release 0 is not one of the 3 MusicBrainz lists for this disc"},
        ChoiceCase{"UnknownMbid",
                   {},
                   "ffffffff-0000-4000-8000-000000000000",
                   0,
                   "listed first",
                   "release ffffffff-0000-4000-8000-000000000000 is not one of the 3 MusicBrainz "
                   "lists for this disc"}),
    [](const testing::TestParamInfo<ChoiceCase>& row) { return row.param.name; });

TEST(ReleaseChoiceAlone, TheOnlyRelease) {
    const Metadata::LookupResult r = Metadata::ParseLookupAnswer(Valid, ThreeTracks(), DiscId);
    ASSERT_EQ(r.Releases.size(), 1u);
    EXPECT_EQ(Metadata::ChooseRelease(r.Releases, {}, "").Reason, "the only release for this disc");
}

struct LocaleCase {
    const char* name;
    const char *all, *messages, *lang;
    std::string country;
};

void PrintTo(const LocaleCase& row, std::ostream* os) {
    *os << row.name;
}

class Locale : public testing::TestWithParam<LocaleCase> {};

TEST_P(Locale, CountryFromTheFirstSetVariable) {
    const LocaleCase& row = GetParam();
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* values[] = {row.all, row.messages, row.lang};
    for (int i = 0; i < 3; ++i)
        values[i] != nullptr ? ::setenv(names[i], values[i], 1) : ::unsetenv(names[i]);
    EXPECT_EQ(Metadata::LocaleCountry(), row.country);
    for (const char* name : names)
        ::unsetenv(name);
}

INSTANTIATE_TEST_SUITE_P(
    Variables, Locale,
    testing::Values(LocaleCase{"Lang", nullptr, nullptr, "en_GB.UTF-8", "GB"},
                    LocaleCase{"AllWins", "de_DE@euro", nullptr, "en_GB.UTF-8", "DE"},
                    LocaleCase{"MessagesBeforeLang", "", "fr_ca", "en_GB", "CA"},
                    LocaleCase{"PosixHasNone", "C", nullptr, "en_GB.UTF-8", ""},
                    LocaleCase{"NothingSet", nullptr, nullptr, nullptr, ""}),
    [](const testing::TestParamInfo<LocaleCase>& row) { return row.param.name; });

TEST(RequestSlots, AtMostOneRequestASecond) {
    using Clock = std::chrono::steady_clock;
    Metadata::WaitForRequestSlot();
    const auto first = Clock::now();
    std::thread other([] { Metadata::WaitForRequestSlot(); });
    Metadata::WaitForRequestSlot();
    other.join();
    // Two more slots after `first`: the later of them at least two seconds on.
    EXPECT_GE(Clock::now() - first, std::chrono::milliseconds(1990));
}

class LookUp : public testing::Test {
protected:
    void Use(const LocalHttpServer& server) {
        ::setenv("VELMORA_MUSICBRAINZ_URL", server.Url().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("VELMORA_MUSICBRAINZ_URL"); }
};

TEST_F(LookUp, OneReleaseOverHttp) {
    LocalHttpServer server(LocalHttpServer::Mode::Answer, 200, Valid);
    Use(server);
    const Metadata::LookupResult r = Metadata::LookUpDisc(ThreeTracks(), 5);
    EXPECT_TRUE(r.Found) << r.Message;
    EXPECT_EQ(r.Best.Id, "r1");
    EXPECT_EQ(r.Message, "MusicBrainz: Band - Album");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find('\t')),
              "/ws/2/discid/" + DiscId +
                  "?toc=1+3+4650+150+1650+3150&cdstubs=no&inc=artist-credits+recordings+release-"
                  "groups+labels+isrcs&fmt=json");
    EXPECT_EQ(requests[0].find("\tvelmora-ripper/"), requests[0].find('\t'));
}

TEST_F(LookUp, SeveralReleasesTheRightOneChosen) {
    LocalHttpServer server(
        LocalHttpServer::Mode::Answer, 200,
        mbjson::Document(DiscId, {{"wrong", "W", "B", "", {Lengths(40000, 20000, 20000)}},
                                  {"right", "R", "B", "", {Exact()}}}));
    Use(server);
    const Metadata::LookupResult r = Metadata::LookUpDisc(ThreeTracks(), 5);
    ASSERT_TRUE(r.Found) << r.Message;
    EXPECT_EQ(r.Best.Id, "right");
    EXPECT_EQ(r.Candidates, 2);
    EXPECT_EQ(r.Message, "MusicBrainz: B - R (best of 2 matches)");
}

struct FailureCase {
    const char* name;
    LocalHttpServer::Mode mode;
    int status;
    std::string body;
    std::string message;
};

void PrintTo(const FailureCase& row, std::ostream* os) {
    *os << row.name;
}

class LookUpFails : public LookUp, public testing::WithParamInterface<FailureCase> {};

TEST_P(LookUpFails, SaysSoInOneLine) {
    const FailureCase& row = GetParam();
    LocalHttpServer server(row.mode, row.status, row.body);
    Use(server);
    const auto start = std::chrono::steady_clock::now();
    const Metadata::LookupResult r = Metadata::LookUpDisc(ThreeTracks(), 1);
    // One second for the request, up to one for the rate limit, and slack for a busy
    // machine: far below the 20 s the hanging server would keep the request.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(6000));
    EXPECT_FALSE(r.Found);
    // The whole sentence, in the user's words: never the HTTP client's text cut off.
    EXPECT_EQ(r.Message, row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, LookUpFails,
    testing::Values(
        FailureCase{"NotFound", LocalHttpServer::Mode::Answer, 404, R"({"error":"Not found"})",
                    "MusicBrainz: no release for this disc"},
        FailureCase{"MalformedJson", LocalHttpServer::Mode::Answer, 200, "{\"releases\":[{",
                    "MusicBrainz: the answer is not a JSON document; no titles from there"},
        FailureCase{"ServerError", LocalHttpServer::Mode::Answer, 503, "busy",
                    "MusicBrainz is busy (it answered HTTP 503)"},
        FailureCase{"Forbidden", LocalHttpServer::Mode::Answer, 403, "no",
                    "MusicBrainz: the service answered HTTP 403"},
        FailureCase{"NeverAnswers", LocalHttpServer::Mode::Hang, 0, "",
                    "MusicBrainz did not answer within 1 s"}),
    [](const testing::TestParamInfo<FailureCase>& row) { return row.param.name; });

TEST_F(LookUp, NothingListens) {
    // Port 1 on this machine: the connection is refused at once.
    ::setenv("VELMORA_MUSICBRAINZ_URL", "http://127.0.0.1:1", 1);
    const Metadata::LookupResult r = Metadata::LookUpDisc(ThreeTracks(), 2);
    EXPECT_FALSE(r.Found);
    EXPECT_EQ(r.Message.rfind("MusicBrainz could not be reached (", 0), 0u) << r.Message;
    EXPECT_EQ(r.Message.back(), ')') << r.Message;
}

} // namespace
