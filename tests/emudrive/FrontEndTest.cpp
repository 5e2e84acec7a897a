// velmora-rip on the emulated drive: what a user with a real drive sees.
#include "DriveFixture.h"
#include "emudrive/DriveList.h"

#include "verify/DiscIds.h"
#include "verify/LocalServer.h"

#include <discid/discid.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace drivetest {
namespace {

using testing::HasSubstr;
using testing::Not;

const std::string kDriveModel = "vendor=TESTCO;model=DRIVE 7;revision=9.99";
const std::string kDriveId = "TESTCO DRIVE 7 9.99 /dev/sr0";
const std::string kTitles[3] = {"One", "Two", "Three"}; // the music disc's CD-TEXT

class FrontEnd : public DriveTest {
protected:
    void SetUp() override { home_ = TestHome(); }

    ProgramResult Rip(const std::vector<std::string>& args, const std::string& emu,
                      const std::string& accurateRip = "http://127.0.0.1:9") {
        std::vector<std::string> argv{Bin("velmora-rip")};
        argv.insert(argv.end(), args.begin(), args.end());
        return Run(argv, emu,
                   {{"VELMORA_SETTINGS", home_ + "/config/velmora-ripper.ini"},
                    {"XDG_CONFIG_HOME", home_ + "/config"},
                    {"XDG_CACHE_HOME", home_ + "/cache"},
                    {"CDRIP_AUDIO", "none"},
                    {"CDRIP_IMAGES", ""},
                    {"VELMORA_ACCURATERIP_URL", accurateRip}});
    }

    std::string home_;
};

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

TEST_F(FrontEnd, DrivesAreListedWithTheirIdentification) {
    const ProgramResult r = Rip({"drives"}, "cue=" + music_.cue + ";" + kDriveModel);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "0: " + kDriveId + "\n");
}

TEST_F(FrontEnd, EnhancedCdGivesTheAudioSessionsIds) {
    const ProgramResult r =
        Rip({"tracks", "--no-lookup"}, "cue=" + enhanced_.cue + ";sessions=2;" + kDriveModel);
    ASSERT_EQ(r.code, 0) << r.err;
    // The TOC the drive holds: audio at 0, 180, 320; the data track at 480 + 11,400.
    DiscToc toc;
    toc.Tracks = {{0, true}, {180, true}, {320, true}, {11880, false}};
    toc.LeadOut = 12180;
    EXPECT_THAT(r.out, HasSubstr("AccurateRip ID: " + AccurateRipDiscIds(toc).Text() + "\n"));
    EXPECT_THAT(r.out, HasSubstr("CDDB disc ID: " + Hex8(CddbDiscId(toc)) + "\n"));
    // libdiscid on its own: the audio session ends at 480 (630 with the lead-in).
    DiscId* id = discid_new();
    int offsets[4] = {480 + 150, 0 + 150, 180 + 150, 320 + 150};
    ASSERT_EQ(discid_put(id, 1, 3, offsets), 1);
    EXPECT_THAT(r.out, HasSubstr(std::string("MusicBrainz disc ID: ") + discid_get_id(id) + "\n"));
    discid_free(id);
    // Track 3 ends where the gap begins: 160 sectors, 0:02.
    EXPECT_THAT(r.out, HasSubstr("03   Audio    0:02"));
    EXPECT_THAT(r.out, HasSubstr("04   Data"));
}

// ---- CD-TEXT, MCN and ISRC from the drive, in the files and their cue sheet ----

TEST_F(FrontEnd, CodesAndCdTextFromTheDriveGoIntoTheCueSheet) {
    const std::string out = home_ + "/out";
    const ProgramResult r =
        Rip({"rip", "--no-lookup", "--format", "wav", "--out", out},
            "cue=" + music_.cue + ";" + kDriveModel + ";mcn=0724384260729;isrc2=USRC17607839");
    ASSERT_EQ(r.code, 0) << r.err;
    for (const std::string& title : kTitles)
        EXPECT_TRUE(std::filesystem::exists(out + "/" + title + ".wav")) << title;
    std::string sheet;
    for (const auto& e : std::filesystem::directory_iterator(out))
        if (e.path().extension() == ".cue") {
            const std::vector<uint8_t> text = ReadFile(e.path().string());
            sheet.assign(text.begin(), text.end());
        }
    EXPECT_THAT(sheet, HasSubstr("CATALOG 0724384260729\n"));
    EXPECT_THAT(sheet, HasSubstr("TITLE \"Caf\xc3\xa9 Songs\"\n"));
    EXPECT_THAT(sheet, HasSubstr("PERFORMER \"The Testers\"\n"));
    // Track 2's ISRC only, after its own TRACK line and before track 3's.
    const size_t two = sheet.find("TRACK 02 AUDIO"), three = sheet.find("TRACK 03 AUDIO");
    ASSERT_NE(two, std::string::npos) << sheet;
    ASSERT_NE(three, std::string::npos) << sheet;
    const size_t isrc = sheet.find("ISRC USRC17607839\n");
    EXPECT_GT(isrc, two);
    EXPECT_LT(isrc, three);
    EXPECT_EQ(sheet.find("ISRC "), isrc) << sheet; // the other tracks have none
    EXPECT_THAT(sheet, HasSubstr("TITLE \"Two\"\n"));
}

// ---- the read offset from AccurateRip's list of drives, served on this machine ----

struct ListOffsetCase {
    const char* name;
    int16_t offset;
};

void PrintTo(const ListOffsetCase& row, std::ostream* os) {
    *os << row.name;
}

class ListOffsetTest : public FrontEnd, public testing::WithParamInterface<ListOffsetCase> {};

TEST_P(ListOffsetTest, RipIsTheImageAtTheListedOffset) {
    const int16_t offset = GetParam().offset;
    LocalServer server = ServeDriveList(home_ + "/server", offset);
    const std::string out = home_ + "/out";
    const ProgramResult r =
        Rip({"rip", "--no-lookup", "--format", "wav", "--out", out},
            "cue=" + music_.cue + ";" + kDriveModel + ";offset=" + std::to_string(offset),
            server.Url());
    ASSERT_EQ(r.code, 0) << r.err;
    for (int t = 0; t < 3; ++t) {
        // Named after the disc's CD-TEXT.
        const std::vector<uint8_t> b = ReadFile(out + "/" + kTitles[t] + ".wav");
        const int32_t first = music_.layout.starts[size_t(t)];
        const int32_t last =
            (t < 2 ? music_.layout.starts[size_t(t + 1)] : music_.layout.leadout) - 1;
        const std::vector<uint8_t> want = Expected(music_, first, last, offset);
        ASSERT_EQ(b.size(), 44 + want.size()) << "track " << t + 1;
        EXPECT_EQ(U32At(b, 40), want.size());
        EXPECT_TRUE(std::equal(b.begin() + 44, b.end(), want.begin())) << "track " << t + 1;
    }
    EXPECT_THAT(r.out, HasSubstr("3 exact, 0 damaged, 0 failed"));
    // The list was fetched for this drive and kept.
    EXPECT_TRUE(std::filesystem::exists(home_ + "/cache/velmora-ripper/DriveOffsets.bin"));
}

INSTANTIATE_TEST_SUITE_P(Offsets, ListOffsetTest,
                         testing::Values(ListOffsetCase{"Zero", 0}, ListOffsetCase{"Plus6", 6},
                                         ListOffsetCase{"Plus667", 667},
                                         ListOffsetCase{"Minus472", -472}),
                         [](const testing::TestParamInfo<ListOffsetCase>& row) {
                             return row.param.name;
                         });

// ---- a drive that cannot be read, in the user's words ----

struct NoDiscCase {
    const char* name;
    std::string model;
    std::string reason;
};

void PrintTo(const NoDiscCase& row, std::ostream* os) {
    *os << row.name;
}

class NoDiscTest : public FrontEnd, public testing::WithParamInterface<NoDiscCase> {};

TEST_P(NoDiscTest, SaysWhy) {
    const ProgramResult r = Rip({"rip", "--no-lookup", "--format", "wav", "--out", home_ + "/out"},
                                "cue=" + music_.cue + ";" + kDriveModel + GetParam().model);
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.err,
                HasSubstr("no disc in drive 0 (" + kDriveId + "): " + GetParam().reason + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    States, NoDiscTest,
    testing::Values(NoDiscCase{"TrayOpen", ";tray=open", "the drive's tray is open"},
                    NoDiscCase{"NoDisc", ";tray=nodisc", "no disc in the drive"}),
    [](const testing::TestParamInfo<NoDiscCase>& row) { return row.param.name; });

// ---- the drive goes away, or its disc is changed, in the middle of a rip ----

struct MidRipCase {
    const char* name;
    std::string model;
    bool oldFile; // a file of the first track's name was there before
    std::string reason;
    std::string format = "wav"; // flac: read and encoded at once (the pipeline)
    // Reads into track 2 before the event: 50 come after some of its audio was handed
    // over, 5 before any.
    long after = 50;
};

void PrintTo(const MidRipCase& row, std::ostream* os) {
    *os << row.name;
}

class FrontEndMidRip : public FrontEnd, public testing::WithParamInterface<MidRipCase> {};

// The files under `folder` whose names start with `prefix`.
std::vector<std::string> NamesStarting(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            names.push_back(entry.path().string());
    return names;
}

TEST_P(FrontEndMidRip, TrackEndsWithTheReasonAndTheFileRules) {
    const MidRipCase& row = GetParam();
    const std::string out = home_ + "/out";
    const std::string ext = "." + row.format;
    std::filesystem::create_directories(out);
    if (row.oldFile)
        std::ofstream(out + "/Two" + ext) << "previous good file";
    // The event comes a few reads into track 2: after as many reads as track 1 takes
    // alone (the drive's statistics say how many), and row.after more. Both rips read
    // securely: by default how much of track 1 is read once first depends on when the
    // AccurateRip look-up answers.
    const std::string stats = home_ + "/stats.json";
    ASSERT_EQ(Rip({"rip", "--no-lookup", "--secure", "--format", "wav", "--tracks", "1", "--out",
                   home_ + "/first"},
                  "cue=" + music_.cue + ";stats=" + stats)
                  .code,
              0);
    const std::vector<uint8_t> json = ReadFile(stats);
    const std::string text(json.begin(), json.end());
    const size_t at = text.find("\"reads\":");
    ASSERT_NE(at, std::string::npos) << text;
    const long reads = std::atol(text.c_str() + at + 8);
    const ProgramResult r = Rip({"rip", "--no-lookup", "--secure", "--format", row.format,
                                 "--overwrite", "--out", out, "--report", home_ + "/report.json"},
                                "cue=" + music_.cue + ";" + kDriveModel + row.model +
                                    std::to_string(reads + row.after));
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.err, HasSubstr("Two: Unable to read the track: " + row.reason + "\n"));
    EXPECT_THAT(r.err, HasSubstr("Three: Unable to read the track: " + row.reason + "\n"));
    // Track 1 was whole before.
    if (row.format == "wav") {
        const std::vector<uint8_t> one = ReadFile(out + "/One.wav");
        const std::vector<uint8_t> wantOne = Expected(music_, 0, 210, 0);
        ASSERT_EQ(one.size(), 44 + wantOne.size());
        EXPECT_TRUE(std::equal(one.begin() + 44, one.end(), wantOne.begin()));
    } else {
        EXPECT_TRUE(std::filesystem::is_regular_file(out + "/One" + ext));
    }
    // The failed track never holds its final name with what was read: the previous file
    // stays, or nothing is there; what was read is kept beside it under the partial
    // file's name, which the messages and the report tell.
    if (row.oldFile) {
        const std::vector<uint8_t> two = ReadFile(out + "/Two" + ext);
        EXPECT_EQ(std::string(two.begin(), two.end()), "previous good file");
    } else {
        EXPECT_FALSE(std::filesystem::exists(out + "/Two" + ext));
    }
    EXPECT_FALSE(std::filesystem::exists(out + "/Three" + ext));
    const std::vector<std::string> kept = NamesStarting(out, ".Two" + ext + ".partial-");
    const std::vector<uint8_t> report = ReadFile(home_ + "/report.json");
    const std::string reportText(report.begin(), report.end());
    EXPECT_THAT(r.err, Not(HasSubstr("Three: what was read")));
    if (row.after < 10) {
        // Nothing of track 2 was read: no file at all.
        EXPECT_EQ(NamesStarting(out, ".").size(), 0u);
        EXPECT_THAT(r.err, Not(HasSubstr("what was read")));
        EXPECT_THAT(reportText, Not(HasSubstr("\"partial_file\": \"")));
        return;
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(NamesStarting(out, ".").size(), 1u); // no other partial file
    EXPECT_THAT(r.err, HasSubstr("Two: what was read of it is kept in " + kept[0] + "\n"));
    EXPECT_THAT(reportText, HasSubstr("\"partial_file\": \"" + kept[0] + "\""));
    const std::vector<uint8_t> two = ReadFile(kept[0]);
    if (row.format == "wav") {
        // Its header tells its real length; its audio is the start of track 2.
        ASSERT_GT(two.size(), 44u);
        ASSERT_LT(two.size(), 44u + 157u * kSector);
        EXPECT_EQ(U32At(two, 40), two.size() - 44);
        EXPECT_EQ(U32At(two, 4), two.size() - 8);
        const std::vector<uint8_t> want = Expected(music_, 211, 367, 0);
        EXPECT_TRUE(std::equal(two.begin() + 44, two.end(), want.begin()));
    } else {
        ASSERT_GT(two.size(), 4u);
        EXPECT_EQ(std::string(two.begin(), two.begin() + 4), "fLaC");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Events, FrontEndMidRip,
    testing::Values(
        MidRipCase{"Gone", ";gone_after=", false, "the drive is gone"},
        MidRipCase{"GoneKeepsTheOldFile", ";gone_after=", true, "the drive is gone"},
        MidRipCase{"Changed", ";change_after=", false, "the disc was changed"},
        MidRipCase{"GoneBeforeAnyAudio", ";gone_after=", false, "the drive is gone", "wav", 5},
        MidRipCase{"GoneBeforeAnyAudioKeepsTheOldFile", ";gone_after=", true, "the drive is gone",
                   "wav", 5},
        MidRipCase{"GoneFlac", ";gone_after=", false, "the drive is gone", "flac"},
        MidRipCase{"GoneFlacKeepsTheOldFile", ";gone_after=", true, "the drive is gone", "flac"}),
    [](const testing::TestParamInfo<MidRipCase>& row) { return row.param.name; });

} // namespace
} // namespace drivetest
