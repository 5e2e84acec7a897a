// A "scratched disc": sectors that fail to read and reads that come back shifted,
// simulated on virtual drives through CDRIP_FAULTS.
#include "CdripFixture.h"

#include <ostream>

#include <algorithm>

namespace cdriptest {
namespace {

struct DamageCase {
    const char* name;
    bool paranoia;
    int format;
};

// Names the row in test output.
void PrintTo(const DamageCase& row, std::ostream* os) {
    *os << row.name;
}

class DamageTest : public CdripTest, public testing::WithParamInterface<DamageCase> {};

// Track 2 is sectors 301..757; sectors 400-402 and 700 of it cannot be read.
TEST_P(DamageTest, UnreadableSectorsComeBackAsReportedSilence) {
    startLibrary({music_}, "bad:400-402, bad:700");
    selectDisc(music_);
    setMode(GetParam().paranoia, GetParam().format);
    RipResult r = rip(301, 757);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    EXPECT_EQ(r.errorCount, 4);
    EXPECT_EQ(r.statuses.back(), CR_STATUS_DONE);
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), CR_STATUS_JITTER), 2)
        << "one chunk for 400-402, one for 700";
    ASSERT_EQ(r.errorPositions.size(), 3u); // the two status-3 chunks and the final one
    EXPECT_EQ(r.errorPositions[0], std::make_pair(400u, 402u));
    EXPECT_EQ(r.errorPositions[1], std::make_pair(700u, 700u));
    // The final, clean chunk still answers with the last range recorded.
    EXPECT_EQ(r.errorPositions[2], std::make_pair(700u, 700u));
    if (GetParam().format != CR_STEREO44100)
        return;
    ASSERT_EQ(r.bytes.size(), size_t(457) * 2352);
    std::vector<uint8_t> expected = sectorBytes(musicBytes_, 301, 757);
    for (int32_t s : {400, 401, 402, 700})
        std::fill_n(expected.begin() + (s - 301) * 2352, 2352, uint8_t(0));
    // Everything else arrives intact, in place: nothing dropped or shifted.
    for (int32_t s = 0; s < 457; ++s)
        ASSERT_TRUE(std::equal(expected.begin() + s * 2352, expected.begin() + (s + 1) * 2352,
                               r.bytes.begin() + s * 2352))
            << "sector " << 301 + s;
}

INSTANTIATE_TEST_SUITE_P(BothModes, DamageTest,
                         testing::Values(DamageCase{"Paranoia", true, CR_STEREO44100},
                                         DamageCase{"Plain", false, CR_STEREO44100},
                                         DamageCase{"ParanoiaMono22050", true, CR_MONO22050}),
                         [](const testing::TestParamInfo<DamageCase>& row) {
                             return row.param.name;
                         });

using JitterTest = CdripTest;

TEST_F(JitterTest, ParanoiaCorrectsShiftedReads) {
    startLibrary({music_}, "jitter:350-420@16");
    selectDisc(music_);
    setMode(true, CR_STEREO44100);
    RipResult r = rip(301, 757);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    EXPECT_TRUE(r.bytes == sectorBytes(musicBytes_, 301, 757));
    EXPECT_EQ(r.errorCount, 0);
}

TEST_F(JitterTest, PlainReadsDeliverTheShiftedData) {
    // Without paranoia nothing corrects the shift: the fault injection really bites.
    startLibrary({music_}, "jitter:350-420@16");
    selectDisc(music_);
    setMode(false, CR_STEREO44100);
    RipResult r = rip(301, 757);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    EXPECT_EQ(r.bytes.size(), size_t(457) * 2352);
    EXPECT_FALSE(r.bytes == sectorBytes(musicBytes_, 301, 757));
}

// The disc's last sector under jitter: paranoia cannot check it against anything after
// it. It must arrive intact, or be reported.
struct LastSectorCase {
    const char* name;
    const char* faults;
    int32_t first;
};

// Names the row in test output.
void PrintTo(const LastSectorCase& row, std::ostream* os) {
    *os << row.name;
}

class LastSectorTest : public CdripTest, public testing::WithParamInterface<LastSectorCase> {};

TEST_P(LastSectorTest, LastSectorOfTheDiscIsIntactOrReported) {
    startLibrary({tone_, music_}, GetParam().faults);
    selectDisc(music_);
    setMode(true, CR_STEREO44100);
    // The last audio sector, before the data track's 150-sector gap: 301 + 457 + 40 +
    // 389 - 1.
    const int32_t last = 1186;
    ASSERT_EQ(trackEnd(2), last);
    RipResult r = rip(GetParam().first, last);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    const std::vector<uint8_t> expected = sectorBytes(musicBytes_, GetParam().first, last);
    ASSERT_EQ(r.bytes.size(), expected.size());
    const bool lastIntact = std::equal(expected.end() - 2352, expected.end(), r.bytes.end() - 2352);
    if (!lastIntact) {
        ASSERT_GE(r.errorCount, 1) << "the last sector was damaged without a report";
        ASSERT_FALSE(r.errorPositions.empty());
        EXPECT_EQ(r.errorPositions.back().second, uint32_t(last));
    } else {
        // Intact (always so without faults): nothing may be reported as damaged.
        EXPECT_EQ(r.errorCount, 0);
        EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), CR_STATUS_JITTER), 0);
        for (const auto& position : r.errorPositions)
            EXPECT_EQ(position, std::make_pair(0u, 0u));
    }
    if (!GetParam().faults) {
        EXPECT_TRUE(lastIntact) << "a disc without faults reads intact";
    }
    // Everything before the last sector is paranoia's job and must be exact.
    EXPECT_TRUE(std::equal(expected.begin(), expected.end() - 2352, r.bytes.begin()));
}

TEST_P(LastSectorTest, LastSectorOfTheToneDiscIsIntactOrReported) {
    startLibrary({tone_}, GetParam().faults);
    selectDisc(tone_);
    setMode(true, CR_STEREO44100);
    const std::vector<uint8_t> image = discgen::imageBytes(toneSpec());
    const int32_t first = 250;
    RipResult r = rip(first, 299);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    const std::vector<uint8_t> expected = sectorBytes(image, first, 299);
    ASSERT_EQ(r.bytes.size(), expected.size());
    if (!std::equal(expected.end() - 2352, expected.end(), r.bytes.end() - 2352)) {
        ASSERT_GE(r.errorCount, 1) << "the last sector was damaged without a report";
        EXPECT_EQ(r.errorPositions.back().second, 299u);
    } else {
        EXPECT_EQ(r.errorCount, 0);
        EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), CR_STATUS_JITTER), 0);
    }
    if (!GetParam().faults) {
        EXPECT_TRUE(r.bytes == expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jitter, LastSectorTest,
    testing::Values(LastSectorCase{"JitterOnLastSector", "jitter:1186;jitter:299", 1100},
                    LastSectorCase{"JitterOnLastTen", "jitter:1177-1186;jitter:290-299", 1100},
                    LastSectorCase{"WideJitterToTheEnd", "jitter:1140-1186@64;jitter:250-299@64",
                                   1137},
                    LastSectorCase{"NoFaults", nullptr, 1150}),
    [](const testing::TestParamInfo<LastSectorCase>& row) { return row.param.name; });

struct GarbageCase {
    const char* name;
    const char* faults;
};

// Names the row in test output.
void PrintTo(const GarbageCase& row, std::ostream* os) {
    *os << row.name;
}

class GarbageFaultsTest : public CdripTest, public testing::WithParamInterface<GarbageCase> {};

TEST_P(GarbageFaultsTest, GarbageIsIgnoredAndTheDiscReadsCleanly) {
    startLibrary({music_}, GetParam().faults);
    selectDisc(music_);
    setMode(true, CR_STEREO44100);
    RipResult r = rip(0, 300);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    EXPECT_TRUE(r.bytes == sectorBytes(musicBytes_, 0, 300));
    EXPECT_EQ(r.errorCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, GarbageFaultsTest,
    testing::Values(GarbageCase{"Empty", ""}, GarbageCase{"Words", "scratch the disc please"},
                    GarbageCase{"ReversedRange", "bad:200-100"},
                    GarbageCase{"Negative", "bad:-5-10"},
                    GarbageCase{"Overflow", "bad:99999999999999999999"},
                    GarbageCase{"NoRange", "bad:;jitter:;:"},
                    GarbageCase{"BadShift", "jitter:10-20@0;jitter:10-20@-8;jitter:10-20@x"},
                    GarbageCase{"Separators", ",,,;;;@@@---"},
                    GarbageCase{"OutsideTheRange", "bad:5000-6000"}),
    [](const testing::TestParamInfo<GarbageCase>& row) { return row.param.name; });

} // namespace
} // namespace cdriptest
