#include "verify/Dbar.h"

#include "DbarBuilder.h"

#include <gtest/gtest.h>

namespace {

struct DbarCase {
    std::string Name;
    std::string Bytes;
    std::size_t Records; // complete records expected
    bool WellFormed;
    std::vector<int> Tracks; // track count of each record
};

const std::string kTwoTracks = DbarRecordBytes(0x0002189a, 0x00087f33, 0x1f02e004,
                                               {{7, 0x11223344, 0xaabbccdd}, {3, 0x01020304, 5}});
const std::string kOneTrack = DbarRecordBytes(1, 2, 3, {{200, 0xfffffffe, 0}});

class DbarParse : public testing::TestWithParam<DbarCase> {};

TEST_P(DbarParse, ReadsCompleteRecords) {
    const DbarCase& c = GetParam();
    const DbarFile f = ParseDbar(c.Bytes);
    EXPECT_EQ(f.WellFormed(), c.WellFormed) << f.Problem;
    ASSERT_EQ(f.Records.size(), c.Records);
    for (std::size_t i = 0; i < c.Records; ++i) {
        EXPECT_EQ(f.Records[i].Tracks.size(), static_cast<std::size_t>(c.Tracks[i]));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DbarParse,
    testing::Values(
        DbarCase{"OneRecord", kTwoTracks, 1, true, {2}},
        DbarCase{"SeveralRecords", kTwoTracks + kOneTrack + kTwoTracks, 3, true, {2, 1, 2}},
        DbarCase{"Empty", "", 0, false, {}},
        DbarCase{"CutInHeader", kTwoTracks.substr(0, 7), 0, false, {}},
        DbarCase{"CutInTrack", kTwoTracks.substr(0, kTwoTracks.size() - 1), 0, false, {}},
        DbarCase{"SecondRecordCut", kTwoTracks + kOneTrack.substr(0, 15), 1, false, {2}},
        // A count of 255 tracks with two tracks' bytes behind it.
        DbarCase{"OversizedCount", std::string(1, '\xff') + kTwoTracks.substr(1), 0, false, {}},
        DbarCase{"ZeroTracks", DbarRecordBytes(1, 2, 3, {}) + kOneTrack, 0, false, {}},
        DbarCase{"TrailingByte", kOneTrack + "x", 1, false, {1}}),
    [](const testing::TestParamInfo<DbarCase>& row) { return row.param.Name; });

TEST(DbarParseFields, LittleEndianValues) {
    const DbarFile f = ParseDbar(kTwoTracks + kOneTrack);
    ASSERT_EQ(f.Records.size(), 2u);
    const DbarRecord& r = f.Records[0];
    EXPECT_EQ(r.Id1, 0x0002189au);
    EXPECT_EQ(r.Id2, 0x00087f33u);
    EXPECT_EQ(r.Cddb, 0x1f02e004u);
    EXPECT_EQ(r.Tracks[0].Confidence, 7);
    EXPECT_EQ(r.Tracks[0].Checksum, 0x11223344u);
    EXPECT_EQ(r.Tracks[0].OffsetChecksum, 0xaabbccddu);
    EXPECT_EQ(r.Tracks[1].Checksum, 0x01020304u);
    EXPECT_EQ(f.Records[1].Tracks[0].Confidence, 200);
    EXPECT_EQ(f.Records[1].Tracks[0].Checksum, 0xfffffffeu);
}

} // namespace
