// The one-pass read on the emulated drive: C2 error pointers asked of the drive with
// every read (MMC READ CD with the C2 field), a sector the drive flags is a suspect
// sector, and a drive that refuses the C2 form is read plainly.
#include "DriveFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace drivetest {
namespace {

struct C2Case {
    const char* name;
    const char* model;         // the drive, over the music disc
    int32_t c2;                // CR_GetDriveC2 after the read
    std::set<int32_t> suspect; // sectors counted as damaged
    std::set<int32_t> wrong;   // sectors delivered with the drive's wrong bytes
    std::set<int32_t> silent;  // sectors delivered as silence (the drive gave none)
};

void PrintTo(const C2Case& row, std::ostream* os) {
    *os << row.name;
}

class OnePassC2Test : public DriveTest, public testing::WithParamInterface<C2Case> {};

TEST_P(OnePassC2Test, FlaggedSectorsAreSuspectAndADriveWithoutC2IsReadPlainly) {
    const C2Case& row = GetParam();
    Load("cue=" + music_.cue + ";" + row.model);
    ASSERT_EQ(CR_ReadToc(), CR_STATUS_OK);
    EXPECT_EQ(CR_GetDriveC2(), -1); // nothing read yet
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.readMode = CR_READ_ONE_PASS;
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    const int32_t first = CR_GetTocEntry(0).startSector;
    const int32_t last = CR_GetTocEntry(1).startSector - 1;
    const Ripped r = Rip(first, last, true, 0);
    p.readMode = 0;
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    ASSERT_EQ(r.open, CR_STATUS_OK);
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.damaged, !row.suspect.empty());
    EXPECT_EQ(r.errors, int32_t(row.suspect.size()));
    EXPECT_EQ(CR_GetDriveC2(), row.c2);
    const std::vector<uint8_t> want = Expected(music_, first, last, 0);
    ASSERT_EQ(r.bytes.size(), want.size());
    const std::vector<uint8_t> silence(kSector, 0);
    for (int32_t s = first; s <= last; ++s) {
        const uint8_t* got = &r.bytes[size_t(s - first) * kSector];
        if (row.silent.count(s)) {
            EXPECT_EQ(std::memcmp(got, silence.data(), kSector), 0) << "sector " << s;
        } else if (row.wrong.count(s)) {
            EXPECT_NE(std::memcmp(got, &want[size_t(s - first) * kSector], kSector), 0)
                << "sector " << s;
            EXPECT_NE(std::memcmp(got, silence.data(), kSector), 0) << "sector " << s;
        } else
            EXPECT_EQ(std::memcmp(got, &want[size_t(s - first) * kSector], kSector), 0)
                << "sector " << s;
    }
    // Once a drive has refused the C2 form it is not asked again: a second pass reads
    // with one command a read.
    if (row.c2 == 0) {
        ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
        p.readMode = CR_READ_ONE_PASS;
        ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
        ASSERT_EQ(Emu("reset_stats=1"), 0);
        const Ripped again = Rip(first, last, true, 0);
        p.readMode = 0;
        ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
        ASSERT_EQ(again.bytes.size(), r.bytes.size());
        EXPECT_EQ(again.errors, 0);
        for (int32_t s = first; s <= last; ++s) {
            if (row.wrong.count(s))
                continue;
            EXPECT_EQ(std::memcmp(&again.bytes[size_t(s - first) * kSector],
                                  &r.bytes[size_t(s - first) * kSector], kSector),
                      0)
                << "sector " << s;
        }
        EXPECT_EQ(EmuStat("commands"), EmuStat("reads")) << EmuStats();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, OnePassC2Test,
    // A flagged sector keeps the drive's bytes: the track's checksum judges them.
    testing::Values(C2Case{"C2FlagsTheDamage", "c2=1;c2bad=60-61", 1, {60, 61}, {60, 61}, {}},
                    C2Case{"C2FlagsRightBytes", "c2=1;c2false=100-101", 1, {100, 101}, {}, {}},
                    C2Case{"C2MissesTheDamage", "c2=1;c2quiet=60", 1, {}, {60}, {}},
                    C2Case{"C2Clean", "c2=1", 1, {}, {}, {}},
                    C2Case{"C2AndAnUnreadableSector", "c2=1;bad=100", 1, {100}, {}, {100}},
                    C2Case{"NoC2ReadsPlainly", "c2=0", 0, {}, {}, {}},
                    // Without C2 the damage does not show in one pass: the AccurateRip
                    // checksum is what finds it.
                    C2Case{"NoC2DamageUnseen", "c2=0;c2bad=60", 0, {}, {60}, {}}),
    [](const testing::TestParamInfo<C2Case>& row) { return row.param.name; });

// A secure range planned ahead whose reads start before a one pass's range and reach into
// it: the pass's first read, which a secure reading of its range takes as a first copy,
// comes from the disc, not from the drive's cache that a planned read made first would
// have left it in.
TEST_F(DriveTest, APlannedReadIntoAOnePassWaitsForThePassToReadFromTheDisc) {
    const std::string home = TestHome();
    const std::string driveLog = home + "/drive.log";
    Load("cue=" + music_.cue + ";cache=3567;log=" + driveLog);
    ASSERT_EQ(CR_ReadToc(), CR_STATUS_OK);
    const int32_t first = CR_GetTocEntry(1).startSector;
    const int32_t last = CR_GetTocEntry(2).startSector - 1;
    // Its votes read from up to a dozen sectors before first, on past first + 2.
    ASSERT_EQ(CR_PlanSecureRange(first - 2, first + 2), CR_STATUS_OK);
    ASSERT_EQ(CR_SecureRangeReady(first - 2, first + 2), CR_FALSE);
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.readMode = CR_READ_ONE_PASS;
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    const Ripped r = Rip(first, last, true, 0);
    p.readMode = 0;
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    ASSERT_EQ(r.open, CR_STATUS_OK);
    EXPECT_EQ(r.errors, 0);
    EXPECT_EQ(r.bytes, Expected(music_, first, last, 0));
    CR_DropSecurePlans();
    // The drive's log ("read START COUNT cache HITS ..."): the reads that start at first.
    std::vector<long> hits;
    EmuStats(); // the drive writes its log out when its statistics are read
    std::ifstream log(driveLog);
    for (std::string line; std::getline(log, line);) {
        std::istringstream in(line);
        std::string word, cache;
        long start = -1, count = 0, n = -1;
        if (in >> word >> start >> count >> cache >> n && word == "read" && start == first &&
            cache == "cache")
            hits.push_back(n);
    }
    EXPECT_EQ(hits, std::vector<long>{0});
}

} // namespace
} // namespace drivetest
