#include "verify/RipLog.h"

#include "TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

RipRecord TwoTrackJob() {
    RipRecord r;
    r.Program = "velmora-rip";
    r.Version = "2.3.0";
    r.Date = "2026-12-09T00:00:00Z";
    r.Drive = "VIRTUAL IMAGE 1.0 /tmp/disc.cue";
    r.ReadOffset = 6;
    r.Settings = {{"Format", "wav"}, {"Jitter correction", "on"}};
    r.Toc.Tracks = {{0, true}, {1500, true}};
    r.Toc.LeadOut = 3000;
    r.DiscKey = "0bb8";
    r.CddbId = "0a002802";
    r.AccurateRipId = "002-00000f3c-00003a45-0a002802";
    r.MusicBrainzId = "abc-";
    TrackRecord a;
    a.Number = 1;
    a.File = "/music/Track01.wav";
    a.FirstSector = 0;
    a.Sectors = 1500;
    a.Crc32 = 0x0000abcd;
    a.ArV1 = 1;
    a.ArV2 = 0xffffffff;
    a.Ar = {ArResult::Accurate, 7, 2};
    TrackRecord b;
    b.Number = 2;
    b.File = "/music/Track02.wav";
    b.FirstSector = 1500;
    b.Sectors = 1500;
    b.Damaged = {{1600, 1602}, {1700, 1700}};
    b.Crc32 = 0x12345678;
    b.TestCrc32 = 0x12345679;
    b.ArV1 = 2;
    b.ArV2 = 3;
    b.Ar = {ArResult::NotAccurate, 0, 0};
    b.ProvenBy = "secure reading, 1754 re-reads";
    b.PartialFile = "/music/.Track02.wav.partial-Ab12Cd";
    r.Tracks = {a, b};
    r.Exit = 3;
    return r;
}

TEST(RipJson, FieldsAsTheReportDefinesThem) {
    const nlohmann::json j = nlohmann::json::parse(FormatRipJson(TwoTrackJob()));
    EXPECT_EQ(j["program"], "velmora-rip 2.3.0");
    EXPECT_EQ(j["drive"], "VIRTUAL IMAGE 1.0 /tmp/disc.cue");
    EXPECT_EQ(j["read_offset"], 6);
    EXPECT_EQ(j["disc"]["key"], "0bb8");
    EXPECT_EQ(j["disc"]["cddb_id"], "0a002802");
    EXPECT_EQ(j["disc"]["accuraterip_id"], "002-00000f3c-00003a45-0a002802");
    EXPECT_EQ(j["disc"]["musicbrainz_id"], "abc-");
    ASSERT_EQ(j["tracks"].size(), 2u);
    const auto& t1 = j["tracks"][0];
    EXPECT_EQ(t1["number"], 1);
    EXPECT_EQ(t1["file"], "/music/Track01.wav");
    EXPECT_EQ(t1["sectors"], 1500);
    EXPECT_EQ(t1["damaged"], nlohmann::json::array());
    EXPECT_EQ(t1["crc32"], "0000abcd");
    EXPECT_TRUE(t1["test_crc32"].is_null());
    EXPECT_EQ(t1["accuraterip"]["v1"], "00000001");
    EXPECT_EQ(t1["accuraterip"]["v2"], "ffffffff");
    EXPECT_EQ(t1["accuraterip"]["result"], "accurate");
    EXPECT_EQ(t1["accuraterip"]["confidence"], 7);
    EXPECT_EQ(t1["title"], "");
    EXPECT_EQ(t1["damaged_sectors"], 0);
    EXPECT_EQ(t1["outcome"], "");
    EXPECT_EQ(t1["reason"], "");
    EXPECT_TRUE(t1["proven_by"].is_null()); // the job did not say
    EXPECT_TRUE(t1["partial_file"].is_null()); // a failed track's kept audio only
    EXPECT_EQ(t1.size(), 13u);
    EXPECT_TRUE(t1["accuraterip"]["problem"].is_null()); // set only for a bad answer
    EXPECT_EQ(t1["accuraterip"].size(), 5u);
    const auto& t2 = j["tracks"][1];
    EXPECT_EQ(t2["number"], 2);
    EXPECT_EQ(t2["file"], "/music/Track02.wav");
    EXPECT_EQ(t2["sectors"], 1500);
    EXPECT_EQ(t2["damaged"], nlohmann::json::parse("[[1600,1602],[1700,1700]]"));
    EXPECT_EQ(t2["crc32"], "12345678");
    EXPECT_EQ(t2["test_crc32"], "12345679");
    EXPECT_EQ(t2["accuraterip"]["v1"], "00000002");
    EXPECT_EQ(t2["accuraterip"]["v2"], "00000003");
    EXPECT_EQ(t2["accuraterip"]["result"], "not accurate");
    EXPECT_EQ(t2["accuraterip"]["confidence"], 0);
    EXPECT_EQ(t2["damaged_sectors"], 4);
    EXPECT_EQ(t2["proven_by"], "secure reading, 1754 re-reads");
    EXPECT_EQ(t2["partial_file"], "/music/.Track02.wav.partial-Ab12Cd");
    EXPECT_EQ(j["settings"]["Format"], "wav");
    EXPECT_EQ(j["not_read"], nlohmann::json::array());
    EXPECT_EQ(j["exit"], 3);
    EXPECT_EQ(j.size(), 8u);
    EXPECT_EQ(j["disc"].size(), 6u);
}

// What the job adds: the titles, the artist and album, each track's outcome with its
// reason, and the tracks it never read.
TEST(RipLogText, OutcomesTitlesAndTracksNotRead) {
    RipRecord r = TwoTrackJob();
    r.Artist = "Nobody";
    r.Album = "Quiet";
    r.Tracks[0].Title = "Morning";
    r.Tracks[0].Outcome = "exact";
    r.Tracks[1].Outcome = "failed";
    r.Tracks[1].Reason = "Write error: /music/Track02.wav: No space left on device";
    TrackRecord refused;
    refused.Number = 3;
    refused.File = "/music/../x.wav";
    refused.Title = "../x";
    refused.Outcome = "refused";
    refused.Reason = "Invalid file name: /music/../x.wav";
    r.NotRead.push_back(refused);
    const std::string log = FormatRipLog(r);
    for (const char* line :
         {"  Artist: Nobody\n", "  Album: Quiet\n", "  Title: Morning\n", "  Outcome: exact\n",
          "  Outcome: failed\n  Reason: Write error: /music/Track02.wav: No space left on device\n"
          "  Partial audio kept in: /music/.Track02.wav.partial-Ab12Cd\n",
          "Track 3 (not read)\n  File: /music/../x.wav\n  Title: ../x\n  Outcome: refused\n"
          "  Reason: Invalid file name: /music/../x.wav\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << log;
    }
    const nlohmann::json j = nlohmann::json::parse(FormatRipJson(r));
    EXPECT_EQ(j["disc"]["artist"], "Nobody");
    EXPECT_EQ(j["disc"]["album"], "Quiet");
    EXPECT_EQ(j["tracks"][0]["title"], "Morning");
    EXPECT_EQ(j["tracks"][1]["outcome"], "failed");
    EXPECT_EQ(j["tracks"][1]["reason"], r.Tracks[1].Reason);
    ASSERT_EQ(j["not_read"].size(), 1u);
    EXPECT_EQ(j["not_read"][0], nlohmann::json::parse(R"({"number": 3, "file": "/music/../x.wav",
        "title": "../x", "outcome": "refused", "reason": "Invalid file name: /music/../x.wav"})"));
}

TEST(RipJson, InvalidUtf8InAPathDoesNotThrow) {
    RipRecord r = TwoTrackJob();
    r.Tracks[0].File = "/music/\xff\xfe.wav";
    EXPECT_NO_THROW(nlohmann::json::parse(FormatRipJson(r)));
}

TEST(RipLogText, HoldsEverythingTheLogPromises) {
    const std::string log = FormatRipLog(TwoTrackJob());
    for (const char* line :
         {"velmora-rip 2.3.0\n", "Drive: VIRTUAL IMAGE 1.0 /tmp/disc.cue\n",
          "Read offset: +6 samples\n", "  Format: wav\n", "  CDDB disc ID: 0a002802\n",
          "  AccurateRip ID: 002-00000f3c-00003a45-0a002802\n", "      1       0    1500  audio\n",
          "      2    1500    1500  audio\n", "  File: /music/Track02.wav\n",
          "  Sectors: 1500-2999 (1500)\n", // track 2 starts at 1500: 100 sectors are 1 s and 25/75
          "  Damaged sectors: 4 sectors: 1600-1602 (0:01.25 to 0:01.27), 1700 (0:02.50)\n",
          "  CRC32: 12345678\n", "  Test CRC32: 12345679 (differs)\n",
          "  AccurateRip v1: 00000001, v2: ffffffff\n",
          "  AccurateRip: accurate (confidence 7, v2)\n", "  AccurateRip: not accurate\n",
          "  AccurateRip: not accurate\n  Proven by: secure reading, 1754 re-reads\n",
          "Summary: 1 of 2 tracks accurately ripped; 1 with damaged sectors\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << log;
    }
    // A track the job did not say about has no such line.
    EXPECT_EQ(log.find("Proven by:"), log.rfind("Proven by:"));
}

struct SummaryCase {
    std::string Name;
    std::vector<ArResult> Results; // tracks First, First + 1, ...
    std::string Text;
    int First = 1; // 0: the first is the hidden track, audio before track 1
};

class RipSummaryText : public testing::TestWithParam<SummaryCase> {};

using enum ArResult;

TEST_P(RipSummaryText, SumsUpTheJob) {
    RipRecord r;
    for (ArResult result : GetParam().Results) {
        TrackRecord t;
        t.Number = GetParam().First + static_cast<int>(r.Tracks.size());
        t.Ar.Result = result;
        t.Ar.Problem = result == BadAnswer ? "the file is empty" : "";
        r.Tracks.push_back(t);
    }
    EXPECT_EQ(RipSummary(r), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RipSummaryText,
    testing::Values(SummaryCase{"AllAccurate",
                                {Accurate, Accurate, Accurate, Accurate, Accurate, Accurate},
                                "6 of 6 tracks accurately ripped"},
                    SummaryCase{"SomeAccurate",
                                {Accurate, NotAccurate, Accurate},
                                "2 of 3 tracks accurately ripped; 1 not accurate"},
                    SummaryCase{"NotInDatabase",
                                {NotInDatabase, NotInDatabase},
                                "2 tracks ripped, not in the AccurateRip database"},
                    SummaryCase{"Unreachable",
                                {Unreachable},
                                "1 track ripped, the AccurateRip database did not answer"},
                    // An answer that cannot vouch says why, not "did not answer".
                    SummaryCase{"BadAnswer",
                                {BadAnswer, BadAnswer},
                                "2 tracks ripped, the AccurateRip answer cannot vouch: the file "
                                "is empty"},
                    SummaryCase{"Off", {Off, Off}, "2 tracks ripped"},
                    // No checksums (not 44.1 kHz stereo): nothing to say about the database.
                    SummaryCase{"NotAvailable", {NotAvailable, NotAvailable}, "2 tracks ripped"},
                    SummaryCase{"OneNotAvailable", {NotAvailable}, "1 track ripped"},
                    SummaryCase{"OffAndNotAvailable", {Off, NotAvailable}, "2 tracks ripped"},
                    SummaryCase{"AccurateAndNotAvailable",
                                {Accurate, NotAvailable},
                                "1 of 2 tracks accurately ripped"},
                    SummaryCase{"NoneAccurate",
                                {NotAccurate},
                                "0 of 1 track accurately ripped; 1 not accurate"},
                    // Mixed answers are counted track by track.
                    SummaryCase{"NotInDatabaseAndUnreachable",
                                {NotInDatabase, Unreachable},
                                "0 of 2 tracks accurately ripped"},
                    // The hidden track has no AccurateRip checksums (not available): it
                    // is ripped, but not among the tracks checked.
                    SummaryCase{"HiddenTrackAndAllAccurate",
                                {NotAvailable, Accurate, Accurate},
                                "2 of 2 tracks accurately ripped",
                                0},
                    SummaryCase{"HiddenTrackAndNotInDatabase",
                                {NotAvailable, NotInDatabase, NotInDatabase},
                                "3 tracks ripped, not in the AccurateRip database",
                                0},
                    SummaryCase{"HiddenTrackAndUnreachable",
                                {NotAvailable, Unreachable},
                                "2 tracks ripped, the AccurateRip database did not answer",
                                0},
                    SummaryCase{"HiddenTrackAndBadAnswer",
                                {NotAvailable, BadAnswer},
                                "2 tracks ripped, the AccurateRip answer cannot vouch: the file "
                                "is empty",
                                0},
                    SummaryCase{"HiddenTrackAndNotAccurate",
                                {NotAvailable, NotAccurate, Accurate},
                                "1 of 2 tracks accurately ripped; 1 not accurate",
                                0},
                    SummaryCase{"HiddenTrackOnly", {NotAvailable}, "1 track ripped", 0}),
    [](const testing::TestParamInfo<SummaryCase>& row) { return row.param.Name; });

// A track the job did not finish and a damaged one are added to the summary, and the
// log marks the unfinished track and gives its checksums as not available.
TEST(RipSummaryText, NotFinishedAndDamagedTracksAreAdded) {
    RipRecord r = TwoTrackJob();
    TrackRecord c;
    c.Number = 3;
    c.File = "/music/Track03.wav";
    c.FirstSector = 3000;
    c.Sectors = 10;
    c.Ripped = false;
    c.Ar = {ArResult::NotAvailable, 0, 0};
    r.Tracks.push_back(c);
    r.Tracks[1].Ar = {ArResult::Accurate, 2, 1};
    EXPECT_EQ(RipSummary(r),
              "2 of 3 tracks accurately ripped; 1 not finished; 1 with damaged sectors");
    const std::string log = FormatRipLog(r);
    for (const char* line :
         {"Track 3 (not finished)\n  File: /music/Track03.wav\n  Sectors: 3000-3009 (10)\n"
          "  Damaged sectors: none\n  CRC32: not available\n"
          "  AccurateRip v1: not available, v2: not available\n"
          "  AccurateRip: not available\n",
          "Track 1\n  File: /music/Track01.wav\n  Sectors: 0-1499 (1500)\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << log;
    }
    r.Tracks = {c};
    EXPECT_EQ(RipSummary(r), "0 tracks ripped; 1 not finished");
}

TEST(RipLogFile, NamedAfterTheAlbumElseTheDiscKey) {
    TempFolder dir("riplog");
    RipRecord r = TwoTrackJob();
    EXPECT_EQ(RipLogPath(dir.Path, r), dir / "0bb8.log");
    r.AlbumTitle = "Live/Studio";
    EXPECT_EQ(RipLogPath(dir.Path, r), dir / "Live-Studio.log");
}

TEST(RipLogFile, ANewJobNeverOverwritesAnOldLog) {
    TempFolder dir("riplog");
    const RipRecord r = TwoTrackJob();
    const std::string first = WriteRipLog(dir.Path, r);
    const std::string second = WriteRipLog(dir.Path, r);
    const std::string third = WriteRipLog(dir.Path, r);
    EXPECT_EQ(first, dir / "0bb8.log");
    EXPECT_EQ(second, dir / "0bb8 (2).log");
    EXPECT_EQ(third, dir / "0bb8 (3).log");
    std::ifstream in(first);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, FormatRipLog(r));
}

TEST(RipLogFile, UnwritableFolderGivesEmptyPath) {
    EXPECT_EQ(WriteRipLog("/nonexistent/folder", TwoTrackJob()), "");
    std::string why;
    EXPECT_EQ(WriteRipLog("/nonexistent/folder", TwoTrackJob(), &why), "");
    EXPECT_EQ(why, "No such file or directory");
}

// An album title from outside names one visible file in the folder, short enough for
// " (9999).log".
TEST(RipLogFile, OutsideAlbumTitleNamesOneSafeFile) {
    TempFolder dir("riplog");
    RipRecord r = TwoTrackJob();
    r.AlbumTitle = std::string("a\0b/../../c\x1b]0;x\x07", 17);
    EXPECT_EQ(RipLogPath(dir.Path, r), dir / "ab-..-..-c]0;x.log");
    r.AlbumTitle = std::string(300, 'a');
    EXPECT_EQ(RipLogPath(dir.Path, r, 9999), dir / (std::string(244, 'a') + " (9999).log"));
    EXPECT_EQ(WriteRipLog(dir.Path, r), dir / (std::string(244, 'a') + ".log"));
}

} // namespace
