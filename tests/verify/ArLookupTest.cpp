#include "verify/ArLookup.h"

#include "DbarBuilder.h"
#include "LocalServer.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

// The four-track disc of the published AccurateRip ID 004-0002189a-00087f33-1f02e004.
DiscToc FourTracks() {
    DiscToc toc;
    for (int32_t start : {0, 11413, 25024, 45713}) {
        toc.Tracks.push_back({start, true});
    }
    toc.LeadOut = 55220;
    return toc;
}

constexpr uint32_t kV1 = 0x12345678;
constexpr uint32_t kV2 = 0x9abcdef0;

std::string Record(std::vector<BuiltTrack> tracks) {
    return DbarRecordBytes(0x0002189a, 0x00087f33, 0x1f02e004, tracks);
}

struct LookupCase {
    std::string Name;
    std::optional<std::string> File; // the dBAR served; none: a 404
    ArResult Result;
    int Confidence;
    int Version;
};

std::string Server() {
    return std::string(VERIFY_TEST_DIR) + "/dbar_server.py";
}

TEST(ArLookupUrl, LastThreeHexDigitsLastFirst) {
    const AccurateRipIds ids = AccurateRipDiscIds(FourTracks());
    EXPECT_EQ(DbarUrl("http://h/ar", ids),
              "http://h/ar/a/9/8/dBAR-004-0002189a-00087f33-1f02e004.bin");
}

TEST(ArLookupUrl, BaseFromEnvironment) {
    ::unsetenv("VELMORA_ACCURATERIP_URL");
    EXPECT_EQ(AccurateRipBase(), "http://www.accuraterip.com/accuraterip");
    ::setenv("VELMORA_ACCURATERIP_URL", "http://127.0.0.1:9/db/", 1);
    EXPECT_EQ(AccurateRipBase(), "http://127.0.0.1:9/db");
    ::unsetenv("VELMORA_ACCURATERIP_URL");
}

class ArLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(ArLookup, TrackResult) {
    const LookupCase& c = GetParam();
    TempFolder root("arlookup");
    const AccurateRipIds ids = AccurateRipDiscIds(FourTracks());
    if (c.File) {
        const std::string rel = DbarUrl(root.Path, ids);
        std::filesystem::create_directories(std::filesystem::path(rel).parent_path());
        std::ofstream(rel, std::ios::binary) << *c.File;
    }
    LocalServer server({"python3", Server(), root.Path, "30", "5"});
    ::setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    const ArDiscAnswer answer = FetchDbar(ids, 5);
    const ArTrackVerdict v = MatchTrack(answer, 0, kV1, kV2);
    EXPECT_EQ(ArResultWord(v.Result), ArResultWord(c.Result)) << answer.Error;
    EXPECT_EQ(v.Confidence, c.Confidence);
    EXPECT_EQ(v.Version, c.Version);
}

INSTANTIATE_TEST_SUITE_P(
    LocalServer, ArLookup,
    testing::Values(LookupCase{"MatchesV1", Record({{5, kV1}, {5, 1}, {5, 2}, {5, 3}}),
                               ArResult::Accurate, 5, 1},
                    LookupCase{"MatchesV2", Record({{12, kV2}, {5, 1}, {5, 2}, {5, 3}}),
                               ArResult::Accurate, 12, 2},
                    LookupCase{"NoRecordMatches", Record({{5, 0x0badf00d}, {5, 1}, {5, 2}, {5, 3}}),
                               ArResult::NotAccurate, 0, 0},
                    LookupCase{"HighestConfidenceOfSeveralRecords",
                               Record({{3, kV1}, {1, 1}, {1, 2}, {1, 3}}) +
                                   Record({{40, 0x0badf00d}, {1, 1}, {1, 2}, {1, 3}}) +
                                   Record({{9, kV2}, {1, 1}, {1, 2}, {1, 3}}),
                               ArResult::Accurate, 9, 2},
                    // Two records vouch for the track with the same confidence: the first
                    // in the file is the one reported, whichever checksum it holds.
                    LookupCase{"TieOnConfidenceFirstRecordWins",
                               Record({{7, kV1}, {1, 1}, {1, 2}, {1, 3}}) +
                                   Record({{7, kV2}, {1, 1}, {1, 2}, {1, 3}}),
                               ArResult::Accurate, 7, 1},
                    LookupCase{"TieOnConfidenceFirstRecordWinsV2First",
                               Record({{7, kV2}, {1, 1}, {1, 2}, {1, 3}}) +
                                   Record({{7, kV1}, {1, 1}, {1, 2}, {1, 3}}),
                               ArResult::Accurate, 7, 2},
                    // One more confidence in a later record does win.
                    LookupCase{"OneMoreConfidenceWins",
                               Record({{7, kV1}, {1, 1}, {1, 2}, {1, 3}}) +
                                   Record({{8, kV2}, {1, 1}, {1, 2}, {1, 3}}),
                               ArResult::Accurate, 8, 2},
                    LookupCase{"NotInDatabase", std::nullopt, ArResult::NotInDatabase, 0, 0},
                    LookupCase{"EmptySlotIsNotInDatabase", Record({{0, 0}, {5, 1}, {5, 2}, {5, 3}}),
                               ArResult::NotInDatabase, 0, 0},
                    // Without a match, a cut-off file proves nothing.
                    LookupCase{"TruncatedWithoutMatch",
                               Record({{5, 0x0badf00d}, {5, 1}, {5, 2}, {5, 3}}) +
                                   Record({{5, kV1}, {5, 1}}).substr(0, 20),
                               ArResult::Unreachable, 0, 0},
                    LookupCase{"TruncatedAfterMatch",
                               Record({{4, kV1}, {5, 1}, {5, 2}, {5, 3}}) +
                                   Record({{5, 1}}).substr(0, 9),
                               ArResult::Accurate, 4, 1},
                    LookupCase{"EmptyFile", std::string(), ArResult::Unreachable, 0, 0}),
    [](const testing::TestParamInfo<LookupCase>& row) { return row.param.Name; });

// A server that accepts the connection and never answers: the look-up gives up after
// its time limit and reports the database unreachable.
TEST(ArLookupSilent, GivesUpAfterTheTimeLimit) {
    LocalServer server({"python3", Server(), "/nonexistent", "20", "1", "silent"});
    ::setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    const ArDiscAnswer answer = FetchDbar(AccurateRipDiscIds(FourTracks()), 1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answer.State, ArDiscAnswer::Unreachable);
    EXPECT_FALSE(answer.Error.empty());
    EXPECT_LT(took, std::chrono::seconds(4));
    EXPECT_EQ(MatchTrack(answer, 0, kV1, kV2).Result, ArResult::Unreachable);
}

TEST(ArLookupSilent, NoServerIsUnreachable) {
    // Port 9 (discard) on 127.0.0.1 refuses connections on a machine without it.
    ::setenv("VELMORA_ACCURATERIP_URL", "http://127.0.0.1:9", 1);
    const ArDiscAnswer answer = FetchDbar(AccurateRipDiscIds(FourTracks()), 2);
    EXPECT_EQ(answer.State, ArDiscAnswer::Unreachable);
}

} // namespace
