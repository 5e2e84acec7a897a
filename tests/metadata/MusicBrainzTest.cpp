// The look-up's answer parser over a table of good and malformed documents, and the
// look-up itself against a local server.
#include "MbJson.h"

#include "LocalHttpServer.h"
#include "metadata/MusicBrainz.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
        ParseCase{"DeepNesting", std::string(100000, '[') + std::string(100000, ']'), false, "",
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
                  "?toc=1+3+4650+150+1650+3150&cdstubs=no&inc=artist-credits+recordings&fmt=json");
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
    EXPECT_EQ(r.Message.rfind(row.message, 0), 0u) << r.Message;
    EXPECT_EQ(r.Message.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, LookUpFails,
    testing::Values(
        FailureCase{"NotFound", LocalHttpServer::Mode::Answer, 404, R"({"error":"Not found"})",
                    "MusicBrainz: no release for this disc"},
        FailureCase{"MalformedJson", LocalHttpServer::Mode::Answer, 200, "{\"releases\":[{",
                    "MusicBrainz: the answer is not a JSON document"},
        FailureCase{"ServerError", LocalHttpServer::Mode::Answer, 503, "busy",
                    "MusicBrainz: the service answered HTTP 503"},
        FailureCase{"NeverAnswers", LocalHttpServer::Mode::Hang, 0, "", "MusicBrainz: no answer"}),
    [](const testing::TestParamInfo<FailureCase>& row) { return row.param.name; });

TEST_F(LookUp, NothingListens) {
    // Port 1 on this machine: the connection is refused at once.
    ::setenv("VELMORA_MUSICBRAINZ_URL", "http://127.0.0.1:1", 1);
    const Metadata::LookupResult r = Metadata::LookUpDisc(ThreeTracks(), 2);
    EXPECT_FALSE(r.Found);
    EXPECT_EQ(r.Message.rfind("MusicBrainz: no answer", 0), 0u) << r.Message;
}

} // namespace
