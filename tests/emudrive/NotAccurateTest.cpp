// Sectors that every read gets wrong alike, from wherever it starts: no re-read can
// tell, so the reading proves them; AccurateRip, answering with the checksums of the
// true audio, must then make the track "not accurate", status 3. On a disc image (the
// library's faults) and on the emulated drive (sectors the disc holds wrong), with
// AccurateRip first and with the secure reading alone. The first track's first and
// the last track's last sectors AccurateRip leaves out of its checksums: wrong bytes
// there pass every check there is, and the track stays exact.
#include "DriveFixture.h"

#include "../verify/DbarBuilder.h"
#include "verify/ArChecksum.h"
#include "verify/ArLookup.h"
#include "verify/DiscIds.h"
#include "verify/LocalServer.h"

#include <nlohmann/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace drivetest {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

const std::string kTitles[3] = {"One", "Two", "Three"}; // the music disc's CD-TEXT

struct WrongCase {
    const char* name;
    bool drive;  // on the emulated drive; else on the disc image
    bool secure; // --secure; else AccurateRip first
    int32_t first, last;
    int bytes;          // wrong bytes of each of the sectors first..last
    int track;          // the track (from 0) that holds them
    bool notAccurate;   // AccurateRip can tell (else the sectors are in its left-out edge)
    int32_t offset = 0; // the drive's read offset, given to velmora-rip
};

void PrintTo(const WrongCase& row, std::ostream* os) {
    *os << row.name;
}

class WrongAlikeTest : public DriveTest, public testing::WithParamInterface<WrongCase> {
protected:
    void SetUp() override { home_ = TestHome("db"); }

    static int32_t First(int t) { return music_.layout.starts[size_t(t)]; }
    static int32_t Last(int t) {
        return (t < 2 ? music_.layout.starts[size_t(t + 1)] : music_.layout.leadout) - 1;
    }
    // The disc's dBAR answer: one record of the true audio's v2 checksums.
    void ServeTrueAudio() {
        DiscToc toc;
        for (int32_t start : music_.layout.starts)
            toc.Tracks.push_back({start, true});
        toc.LeadOut = music_.layout.leadout;
        const AccurateRipIds ids = AccurateRipDiscIds(toc);
        std::vector<BuiltTrack> tracks;
        for (int t = 0; t < 3; ++t) {
            ArChecksum ar(uint64_t(Last(t) - First(t) + 1) * 588, t == 0, t == 2);
            ar.Update(music_.bin.data() + size_t(First(t)) * kSector,
                      size_t(Last(t) - First(t) + 1) * kSector);
            tracks.push_back({5, ar.V2()});
        }
        const std::string path = home_ + "/db" + DbarUrl("", ids);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary)
            << DbarRecordBytes(ids.Id1, ids.Id2, ids.Cddb, tracks);
    }

    std::string home_;
};

TEST_P(WrongAlikeTest, AccurateRipTellsWhatTheReadsCannot) {
    const WrongCase& row = GetParam();
    ServeTrueAudio();
    LocalServer server(
        {"python3", std::string(VERIFY_TEST_DIR) + "/dbar_server.py", home_ + "/db", "30", "4"});
    const std::string out = home_ + "/out",
                      range = std::to_string(row.first) + "-" + std::to_string(row.last);
    std::vector<std::string> argv{Bin("velmora-rip"),
                                  "rip",
                                  "--no-lookup",
                                  "--format",
                                  "wav",
                                  "--out",
                                  out,
                                  "--offset",
                                  std::to_string(row.offset),
                                  "--report",
                                  out + ".json"};
    if (row.secure)
        argv.push_back("--secure");
    std::map<std::string, std::string> env{
        {"VELMORA_SETTINGS", home_ + "/config/velmora-ripper.ini"},
        {"XDG_CONFIG_HOME", home_ + "/config"},
        {"XDG_CACHE_HOME", home_ + "/cache"},
        {"CDRIP_AUDIO", "none"},
        {"VELMORA_ACCURATERIP_URL", server.Url()}};
    std::string emu = "cue=" + music_.cue;
    if (row.drive) {
        emu += ";wrong=" + range + ":" + std::to_string(row.bytes) +
               ";offset=" + std::to_string(row.offset);
        env["CDRIP_IMAGES"] = "";
    } else {
        argv.push_back(music_.cue); // the image, not the drive
        env["CDRIP_FAULTS"] = "same:" + range + "@" + std::to_string(row.bytes);
    }
    const ProgramResult r = Run(argv, emu, env);
    EXPECT_EQ(r.code, row.notAccurate ? 3 : 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(row.notAccurate ? "2 exact, 0 damaged, 1 not accurate, 0 failed\n"
                                                 : "3 exact, 0 damaged, 0 failed\n"));

    // The files: every sector as the disc holds it (at the drive's offset, corrected),
    // the wrong ones as every read got them, nothing else changed.
    for (int t = 0; t < 3; ++t) {
        const std::vector<uint8_t> wav = ReadFile(out + "/" + kTitles[t] + ".wav");
        const std::vector<uint8_t> want = Expected(music_, First(t), Last(t), row.offset);
        ASSERT_EQ(wav.size(), 44 + want.size()) << "track " << t + 1;
        for (int32_t s = First(t); s <= Last(t); ++s) {
            const uint8_t* got = wav.data() + 44 + size_t(s - First(t)) * kSector;
            const uint8_t* disc = want.data() + size_t(s - First(t)) * kSector;
            int wrong = 0;
            for (int b = 0; b < kSector; ++b)
                wrong += got[b] != disc[b];
            EXPECT_EQ(wrong, s >= row.first && s <= row.last ? row.bytes : 0) << "sector " << s;
        }
    }

    // The report: no sector damaged, the track's checksums match no entry.
    const std::vector<uint8_t> text = ReadFile(out + ".json");
    const nlohmann::json report = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    ASSERT_TRUE(report.is_object()) << r.out << r.err;
    EXPECT_EQ(report["exit"], row.notAccurate ? 3 : 0);
    ASSERT_EQ(report["tracks"].size(), 3u);
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE("track " + std::to_string(t + 1));
        const nlohmann::json& track = report["tracks"][size_t(t)];
        const bool bad = row.notAccurate && t == row.track;
        EXPECT_EQ(track["damaged"], nlohmann::json::array());
        EXPECT_EQ(track["damaged_sectors"], 0);
        EXPECT_EQ(track["accuraterip"]["result"], bad ? "not accurate" : "accurate");
        EXPECT_EQ(track["accuraterip"]["confidence"], bad ? 0 : 5);
        EXPECT_EQ(track["outcome"], bad ? "not accurate" : "exact");
        const std::string proven = track["proven_by"].is_string() ? track["proven_by"] : "(none)";
        if (row.secure || bad)
            EXPECT_THAT(proven, StartsWith("secure reading, "));
        else
            EXPECT_EQ(proven, "AccurateRip, one pass, confidence 5");
    }

    // The log says the same in words.
    std::string log;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(out, ec))
        if (e.path().extension() == ".log") {
            const std::vector<uint8_t> bytes = ReadFile(e.path().string());
            log.assign(bytes.begin(), bytes.end());
        }
    EXPECT_THAT(log, HasSubstr("  Damaged sectors: none\n"));
    if (row.notAccurate) {
        EXPECT_THAT(log, HasSubstr("  AccurateRip: not accurate"));
        EXPECT_THAT(log, HasSubstr("  Outcome: not accurate\n"));
        EXPECT_THAT(log, HasSubstr("Summary: 2 of 3 tracks accurately ripped; 1 not accurate\n"));
    } else {
        EXPECT_THAT(log, testing::Not(HasSubstr("not accurate")));
        EXPECT_THAT(log, HasSubstr("Summary: 3 of 3 tracks accurately ripped\n"));
    }
}

// The music disc: tracks 0-210, 211-367, 368-600. AccurateRip leaves out the first
// track's first 2,939 samples (sectors 0-3, and 4 but for its last sample) and the last
// track's last 2,940 (sectors 596-600).
INSTANTIATE_TEST_SUITE_P(
    Kinds, WrongAlikeTest,
    testing::Values(
        // One sample of one sector.
        WrongCase{"OneSampleImage", false, false, 251, 251, 4, 1, true},
        WrongCase{"OneSampleImageSecure", false, true, 251, 251, 4, 1, true},
        WrongCase{"OneSampleDrive", true, false, 251, 251, 4, 1, true},
        WrongCase{"OneSampleDriveSecure", true, true, 251, 251, 4, 1, true},
        // A whole sector.
        WrongCase{"WholeSectorImage", false, false, 450, 450, 2352, 2, true},
        WrongCase{"WholeSectorImageSecure", false, true, 450, 450, 2352, 2, true},
        WrongCase{"WholeSectorDrive", true, false, 450, 450, 2352, 2, true},
        WrongCase{"WholeSectorDriveSecure", true, true, 450, 450, 2352, 2, true},
        // On a drive that reads off by more than a sector, and by less than one the other
        // way: the sector the disc holds wrong, wherever the reads that reach it start.
        WrongCase{"OneSampleDrivePlus667", true, false, 251, 251, 4, 1, true, 667},
        WrongCase{"WholeSectorDriveMinus472Secure", true, true, 450, 450, 2352, 2, true, -472},
        // A run of sectors, a few bytes of each.
        WrongCase{"SectorRunImage", false, true, 300, 305, 8, 1, true},
        WrongCase{"SectorRunDrive", true, false, 300, 305, 8, 1, true},
        // The last sector AccurateRip checks in the first track, the first it checks in
        // the last: in, each only just.
        WrongCase{"FirstCheckedOfTrack1Drive", true, false, 4, 4, 2352, 0, true},
        WrongCase{"LastCheckedOfTrack3Drive", true, true, 595, 595, 2352, 2, true},
        // Sectors of the left-out edges: every check passes, the track is exact.
        WrongCase{"FirstTrackEdgeImage", false, false, 1, 2, 2352, 0, false},
        WrongCase{"FirstTrackEdgeDrive", true, false, 1, 2, 2352, 0, false},
        WrongCase{"FirstTrackEdgeDriveSecure", true, true, 1, 2, 2352, 0, false},
        WrongCase{"LastTrackEdgeDrive", true, false, 596, 600, 2352, 2, false}),
    [](const testing::TestParamInfo<WrongCase>& row) { return row.param.name; });

} // namespace
} // namespace drivetest
