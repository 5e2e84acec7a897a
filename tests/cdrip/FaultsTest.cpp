// A "scratched disc": sectors that fail to read and reads that come back shifted,
// simulated on virtual drives through CDRIP_FAULTS.
#include "faults.h"
#include "CdripFixture.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

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
    testing::Values(
        GarbageCase{"Empty", ""}, GarbageCase{"Words", "scratch the disc please"},
        GarbageCase{"ReversedRange", "bad:200-100"}, GarbageCase{"Negative", "bad:-5-10"},
        GarbageCase{"Overflow", "bad:99999999999999999999"},
        GarbageCase{"NoRange", "bad:;jitter:;:"},
        GarbageCase{"BadShift", "jitter:10-20@0;jitter:10-20@-8;jitter:10-20@x"},
        GarbageCase{"Separators", ",,,;;;@@@---"}, GarbageCase{"OutsideTheRange", "bad:5000-6000"},
        GarbageCase{"BadChances", "drift:10-20/0;stuck:10-20/101;c2:10-20/x;short:10-20/"},
        GarbageCase{"BadSizes", "drift:10-20@0;slip:10-20@11764;burst:10-20@0"},
        GarbageCase{"SizeWhereNoneBelongs", "short:10-20@8;c2:10-20@8;flaky:10-20@8"},
        GarbageCase{"BadCounts", "cache:0;cache:20001;spinup:-1;spinup:1001"}),
    [](const testing::TestParamInfo<GarbageCase>& row) { return row.param.name; });

} // namespace
} // namespace cdriptest

// ---- The drive model behind CDRIP_FAULTS, on a disc held in memory ----

namespace faultmodel {

using cdrip::kSectorBytes;

// 200 sectors of bytes that never repeat, read back exactly.
class MemoryDisc final : public cdrip::SectorSource {
public:
    MemoryDisc() : bytes_(size_t(200) * kSectorBytes) {
        uint32_t x = 12345;
        for (uint8_t& b : bytes_) {
            x = x * 1103515245u + 12345u;
            b = uint8_t(x >> 16);
        }
    }
    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* /*c2*/) override {
        ++reads;
        const int32_t n = std::clamp(200 - lsn, 0, count);
        if (lsn < 0 || n <= 0)
            return 0;
        std::memcpy(out, bytes_.data() + size_t(lsn) * kSectorBytes, size_t(n) * kSectorBytes);
        return n;
    }
    const uint8_t* sector(int32_t lsn) const { return bytes_.data() + size_t(lsn) * kSectorBytes; }
    int reads = 0;

private:
    std::vector<uint8_t> bytes_;
};

struct Read {
    int32_t got = 0;
    std::vector<uint8_t> bytes; // filled with 0xEE before the read
    std::vector<uint8_t> c2;
};

class DriveModelTest : public testing::Test {
protected:
    void use(const char* faults) {
        faults_ = cdrip::parseFaults(faults);
        auto disc = std::make_unique<MemoryDisc>();
        disc_ = disc.get();
        source_ = cdrip::withFaults(std::move(disc), &faults_);
    }
    Read read(int32_t lsn, int32_t count) {
        Read r;
        r.bytes.assign(size_t(count) * kSectorBytes, 0xEE);
        r.c2.assign(size_t(count), 0xEE);
        r.got = source_->read(lsn, count, r.bytes.data(), r.c2.data());
        return r;
    }
    // Sector i of a read holds the disc's sector lsn.
    bool holds(const Read& r, int32_t i, int32_t lsn) const {
        return std::memcmp(r.bytes.data() + size_t(i) * kSectorBytes, disc_->sector(lsn),
                           kSectorBytes) == 0;
    }
    cdrip::Faults faults_;
    MemoryDisc* disc_ = nullptr;
    std::unique_ptr<cdrip::SectorSource> source_;
};

TEST_F(DriveModelTest, NoFaultsIsTheSourceItself) {
    use("");
    EXPECT_TRUE(faults_.empty());
    EXPECT_EQ(source_.get(), disc_);
}

TEST_F(DriveModelTest, ShortTransferReportsEverySectorAndLeavesTheTail) {
    use("short:10-20");
    const Read r = read(10, 8);
    EXPECT_EQ(r.got, 8);
    // Somewhere a run of untouched bytes reaches the end; before it, the disc.
    size_t delivered = r.bytes.size();
    while (delivered > 0 && r.bytes[delivered - 1] == 0xEE)
        --delivered;
    EXPECT_LT(delivered, r.bytes.size());
    EXPECT_EQ(std::memcmp(r.bytes.data(), disc_->sector(10), delivered), 0);
    // A read that starts outside the range is whole.
    const Read whole = read(9, 8);
    EXPECT_EQ(whole.got, 8);
    for (int32_t i = 0; i < 8; ++i)
        EXPECT_TRUE(holds(whole, i, 9 + i)) << i;
}

TEST_F(DriveModelTest, StuckPlaceLandsOffTheSameWayEveryTime) {
    use("stuck:40@588");
    const Read a = read(40, 4), b = read(40, 4), elsewhere = read(39, 5);
    EXPECT_EQ(a.got, 4);
    EXPECT_TRUE(a.bytes == b.bytes);
    EXPECT_FALSE(holds(a, 0, 40));
    for (int32_t i = 0; i < 5; ++i)
        EXPECT_TRUE(holds(elsewhere, i, 39 + i)) << i;
}

TEST_F(DriveModelTest, SlipIsRightFirstThenShiftedAlike) {
    use("slip:60@64");
    const Read a = read(60, 6), b = read(60, 6);
    EXPECT_EQ(a.got, 6);
    EXPECT_TRUE(a.bytes == b.bytes);
    EXPECT_TRUE(holds(a, 0, 60));
    EXPECT_FALSE(holds(a, 5, 65));
}

TEST_F(DriveModelTest, DriftChangesFromReadToRead) {
    use("drift:0-199@2352/100");
    const Read a = read(30, 3), b = read(30, 3);
    EXPECT_FALSE(holds(a, 0, 30));
    EXPECT_FALSE(a.bytes == b.bytes) << "two shifts of up to a sector alike";
}

TEST_F(DriveModelTest, CacheAnswersWithTheFirstReadUntilItIsPushedOut) {
    use("cache:50;drift:0-199@64/100");
    EXPECT_EQ(source_->cacheSectors(), 50);
    const Read first = read(30, 5);
    const int before = disc_->reads;
    const Read again = read(30, 5);
    EXPECT_TRUE(first.bytes == again.bytes) << "the shifted first read, from the cache";
    EXPECT_EQ(disc_->reads, before) << "the disc was not read";
    read(100, 30);
    read(130, 30); // 60 sectors later, 30..34 are gone from a 50-sector cache
    const Read fresh = read(30, 5);
    EXPECT_FALSE(fresh.bytes == first.bytes);
}

TEST_F(DriveModelTest, C2FlagsMarkTheWrongSectors) {
    use("c2:80-81");
    EXPECT_TRUE(source_->hasC2());
    const Read r = read(78, 6);
    EXPECT_EQ(r.got, 6);
    EXPECT_EQ(r.c2, (std::vector<uint8_t>{0, 0, 1, 1, 0, 0}));
    for (int32_t i = 0; i < 6; ++i)
        EXPECT_EQ(holds(r, i, 78 + i), i != 2 && i != 3) << i;
}

TEST_F(DriveModelTest, FlakySectorsDifferEveryReadWithoutAFlag) {
    use("flaky:110");
    EXPECT_FALSE(source_->hasC2());
    const Read a = read(110, 1), b = read(110, 1);
    EXPECT_FALSE(holds(a, 0, 110));
    EXPECT_FALSE(a.bytes == b.bytes);
}

TEST_F(DriveModelTest, SameIsWrongAlikeFromEveryPlace) {
    use("same:90");
    const Read a = read(90, 1), b = read(85, 6);
    EXPECT_FALSE(holds(a, 0, 90));
    EXPECT_EQ(std::memcmp(a.bytes.data(), b.bytes.data() + size_t(5) * kSectorBytes, kSectorBytes),
              0);
    EXPECT_TRUE(holds(b, 4, 89));
}

// How many bytes of the sector every read gets wrong: one sample, a few, all of it.
struct SameCase {
    const char* name;
    const char* faults;
    size_t from, bytes; // the bytes changed
};

void PrintTo(const SameCase& row, std::ostream* os) {
    *os << row.name;
}

class SameBytesTest : public DriveModelTest, public testing::WithParamInterface<SameCase> {};

TEST_P(SameBytesTest, ChangesJustTheseBytesOnEveryRead) {
    const SameCase& row = GetParam();
    use(row.faults);
    // Reads from three places, sector 90 at their start, inside and at their end.
    for (const auto& [start, count] : {std::pair{90, 1}, std::pair{88, 4}, std::pair{85, 6}}) {
        const Read r = read(start, count);
        ASSERT_EQ(r.got, count);
        const uint8_t* got = r.bytes.data() + size_t(90 - start) * kSectorBytes;
        const uint8_t* want = disc_->sector(90);
        size_t wrong = 0;
        for (size_t b = 0; b < size_t(kSectorBytes); ++b) {
            const bool in = b >= row.from && b < row.from + row.bytes;
            wrong += got[b] != want[b];
            EXPECT_EQ(got[b] != want[b], in) << "byte " << b << " of a read from " << start;
        }
        EXPECT_EQ(wrong, row.bytes) << "a read from " << start;
    }
    EXPECT_TRUE(holds(read(91, 1), 0, 91));
    EXPECT_TRUE(holds(read(89, 1), 0, 89));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SameBytesTest,
    testing::Values(SameCase{"Default", "same:90", 1000, 8},
                    SameCase{"OneSample", "same:90@4", 1000, 4},
                    SameCase{"LastThatFitsAt1000", "same:90@1352", 1000, 1352},
                    SameCase{"MovedToTheEnd", "same:90@1356", 996, 1356},
                    SameCase{"WholeSector", "same:90@2352", 0, 2352},
                    // Sizes that are not whole samples, or beyond a sector: no item.
                    SameCase{"NotWholeSamples", "same:90@6", 0, 0},
                    SameCase{"BeyondASector", "same:90@2356", 0, 0}),
    [](const testing::TestParamInfo<SameCase>& row) { return row.param.name; });

TEST_F(DriveModelTest, BurstClearsAfterItsReads) {
    use("burst:100@2");
    EXPECT_EQ(read(98, 5).got, 2);
    EXPECT_EQ(read(98, 5).got, 2);
    const Read r = read(98, 5);
    EXPECT_EQ(r.got, 5);
    for (int32_t i = 0; i < 5; ++i)
        EXPECT_TRUE(holds(r, i, 98 + i)) << i;
}

TEST_F(DriveModelTest, SpinUpFailsTheFirstReads) {
    use("spinup:2");
    EXPECT_EQ(read(0, 3).got, 0);
    EXPECT_EQ(read(0, 3).got, 0);
    EXPECT_EQ(read(0, 3).got, 3);
}

TEST_F(DriveModelTest, BadSectorEndsTheRead) {
    use("bad:50");
    EXPECT_EQ(read(47, 6).got, 3);
    EXPECT_EQ(read(50, 2).got, 0);
}

} // namespace faultmodel
