#include "verify/DriveOffsets.h"

#include "LocalServer.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// One 69-byte record of the list: offset, then the name zero-padded.
std::string Entry(int16_t offset, const std::string& name) {
    std::string r(69, '\0');
    r[0] = static_cast<char>(static_cast<uint16_t>(offset) & 0xff);
    r[1] = static_cast<char>(static_cast<uint16_t>(offset) >> 8);
    r.replace(2, name.size(), name);
    return r;
}

const std::string kList =
    Entry(667, "PIONEER  - BD-RW   BDR-209D") + Entry(6, "TSSTcorp - DVD+-RW SU-208GB") +
    Entry(-472, "HL-DT-ST - DVDRAM GH22NS50") + Entry(48, "PLEXTOR  - DVDR   PX-716A");

struct OffsetCase {
    std::string Name;
    std::string DriveId;
    std::optional<int32_t> Offset;
};

class DriveOffsetFind : public testing::TestWithParam<OffsetCase> {};

TEST_P(DriveOffsetFind, ByVendorAndModel) {
    EXPECT_EQ(FindDriveOffset(ParseDriveOffsets(kList), GetParam().DriveId), GetParam().Offset);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriveOffsetFind,
    testing::Values(OffsetCase{"Positive", "PIONEER BD-RW BDR-209D 1.10 /dev/sr0", 667},
                    OffsetCase{"Negative", "HL-DT-ST DVDRAM GH22NS50 TN03 /dev/sr1", -472},
                    OffsetCase{"CaseAndBlanks", "tsstcorp  dvd+-rw   su-208gb D100 /dev/sr0", 6},
                    OffsetCase{"ModelPrefixIsNotAMatch", "PLEXTOR DVDR PX-716AL 1.0 /dev/sr0",
                               std::nullopt},
                    OffsetCase{"Unknown", "ACME CD-ROM 1 /dev/sr0", std::nullopt}),
    [](const testing::TestParamInfo<OffsetCase>& row) { return row.param.Name; });

// A drive whose name begins with another listed drive's name gets its own entry, in
// either order of the list; the shorter name keeps its own drive.
struct LongestRow {
    std::string Name;
    bool LongerFirst;
    std::string DriveId;
    std::optional<int32_t> Offset;
};

class DriveOffsetLongest : public testing::TestWithParam<LongestRow> {};

TEST_P(DriveOffsetLongest, LongestNameWins) {
    const std::string shorter = Entry(102, "SONY - DVD RW DRU-800A");
    const std::string longer = Entry(6, "SONY - DVD RW DRU-800A DL");
    const LongestRow& row = GetParam();
    const std::string list = row.LongerFirst ? longer + shorter : shorter + longer;
    EXPECT_EQ(FindDriveOffset(ParseDriveOffsets(list), row.DriveId), row.Offset);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriveOffsetLongest,
    testing::Values(LongestRow{"LongerListedLast", false, "SONY DVD RW DRU-800A DL 1.0", 6},
                    LongestRow{"LongerListedFirst", true, "SONY DVD RW DRU-800A DL 1.0", 6},
                    LongestRow{"ShorterListedFirst", false, "SONY DVD RW DRU-800A 1.0", 102},
                    LongestRow{"ShorterListedLast", true, "SONY DVD RW DRU-800A 1.0", 102},
                    LongestRow{"NeitherIsAPrefix", false, "SONY DVD RW DRU-800AX 1.0",
                               std::nullopt}),
    [](const testing::TestParamInfo<LongestRow>& row) { return row.param.Name; });

// The list holds some drives twice: the first entry is the one used.
TEST(DriveOffsetList, FirstOfTwoEntriesForOneDriveWins) {
    const std::string twice =
        kList + Entry(30, "PLEXTOR - DVDR PX-716A") + Entry(-6, "tsstcorp - dvd+-rw su-208gb");
    const std::vector<DriveOffsetEntry> entries = ParseDriveOffsets(twice);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[4].Name, "PLEXTOR - DVDR PX-716A");
    EXPECT_EQ(entries[4].Offset, 30);
    EXPECT_EQ(FindDriveOffset(entries, "PLEXTOR DVDR PX-716A 1.0 /dev/sr0"),
              std::optional<int32_t>(48));
    EXPECT_EQ(FindDriveOffset(entries, "TSSTcorp DVD+-RW SU-208GB D100 /dev/sr0"),
              std::optional<int32_t>(6));
}

// Every field of every record: the name cut at its first zero byte, the offset signed
// 16 bits, little-endian; a record without a name is left out.
TEST(DriveOffsetList, EveryFieldOfEveryRecord) {
    const std::string list = Entry(-32768, "A - B") + Entry(0, "") +
                             Entry(32767, std::string(32, 'N')) + Entry(1, "C - D");
    const std::vector<DriveOffsetEntry> entries = ParseDriveOffsets(list);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Name, "A - B");
    EXPECT_EQ(entries[0].Offset, -32768);
    EXPECT_EQ(entries[1].Name, std::string(32, 'N'));
    EXPECT_EQ(entries[1].Offset, 32767);
    EXPECT_EQ(entries[2].Name, "C - D");
    EXPECT_EQ(entries[2].Offset, 1);
}

TEST(DriveOffsetList, MalformedListHasNoEntries) {
    EXPECT_TRUE(ParseDriveOffsets("").empty());
    EXPECT_TRUE(ParseDriveOffsets(kList.substr(0, kList.size() - 1)).empty());
    EXPECT_EQ(ParseDriveOffsets(kList).size(), 4u);
}

TEST(DriveOffsetList, VirtualDrivesUseZero) {
    EXPECT_EQ(DriveReadOffset("VELMORA VIRTUAL-CD 1.20 /tmp/disc.cue", 1),
              std::optional<int32_t>(0));
}

// The list is fetched once, kept in the cache folder, and read from there afterwards
// (the second look-up runs with no server at all).
TEST(DriveOffsetList, FetchedOnceAndCached) {
    TempFolder root("offsets");
    TempFolder cache("cache");
    std::ofstream(root / "DriveOffsets.bin", std::ios::binary) << kList;
    ::setenv("XDG_CACHE_HOME", cache.Path.c_str(), 1);
    {
        LocalServer server(
            {"python3", std::string(VERIFY_TEST_DIR) + "/dbar_server.py", root.Path, "30", "2"});
        ::setenv("VELMORA_ACCURATERIP_URL", server.Url().c_str(), 1);
        EXPECT_EQ(DriveReadOffset("PIONEER BD-RW BDR-209D 1.10 /dev/sr0", 5),
                  std::optional<int32_t>(667));
    }
    EXPECT_TRUE(std::filesystem::exists(cache / "velmora-ripper/DriveOffsets.bin"));
    ::setenv("VELMORA_ACCURATERIP_URL", "http://127.0.0.1:9", 1);
    EXPECT_EQ(DriveReadOffset("HL-DT-ST DVDRAM GH22NS50 TN03 /dev/sr1", 1),
              std::optional<int32_t>(-472));
    ::unsetenv("XDG_CACHE_HOME");
}

} // namespace
