// Another disc in a drive whose table of contents was read: CR_DiscChanged tells it, the
// drive is not read as the old disc, and after the table is read again nothing the reader
// kept from the old disc reaches the new one.
#include "CdripFixture.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>

namespace cdriptest {
namespace {

// The music disc's layout with other music: a disc of the same table of contents.
discgen::DiscSpec sameLayoutOtherMusic() {
    discgen::DiscSpec plan = CdripTest::musicSpec();
    plan.seed = 78;
    return plan;
}

// A disc of another layout: two audio tracks.
discgen::DiscSpec otherLayout() {
    discgen::DiscSpec plan;
    plan.seed = 5;
    plan.tracks = {{420, 0, false}, {380, 0, false}};
    return plan;
}

class DiscChangeTest : public CdripTest {
protected:
    void SetUp() override {
        disc_ = dir_ + "/swap";
        ASSERT_TRUE(discgen::writeDisc(disc_, musicSpec()));
        startLibrary({disc_ + ".cue"}, nullptr);
        selectDisc(disc_ + ".cue");
    }
    void TearDown() override {
        CdripTest::TearDown();
        std::error_code ec;
        std::filesystem::remove(disc_ + ".cue", ec);
        std::filesystem::remove(disc_ + ".bin", ec);
    }
    // Another disc goes into the drive: the image's files are written again.
    void insert(const discgen::DiscSpec& plan) { ASSERT_TRUE(discgen::writeDisc(disc_, plan)); }
    static std::string statusText() {
        char text[256] = {};
        EXPECT_EQ(CR_GetDriveStatusText(text, sizeof text), CR_STATUS_OK);
        return text;
    }
    void setOffset(int32_t samples) {
        CR_DRIVE_PARAMS p{};
        ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
        p.readOffset = samples;
        ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    }

    std::string disc_;
};

// What a disc's secure reading of track 1 leaves behind (the sectors it decided past its
// end, the proven sectors before track 2) belongs to that disc: track 2 of a disc of the
// same layout put in afterwards, its table read again, is that disc's audio.
class CarryTest : public DiscChangeTest, public testing::WithParamInterface<int32_t> {};

TEST_P(CarryTest, TheNextDiscsTrackIsItsOwnAudio) {
    const int32_t offset = GetParam();
    setMode(true, CR_STEREO44100);
    setOffset(offset);
    const RipResult one = rip(0, 300);
    ASSERT_EQ(one.openStatus, CR_STATUS_OK);
    ASSERT_EQ(one.errorCount, 0);
    insert(sameLayoutOtherMusic());
    ASSERT_EQ(CR_ReadToc(), CR_STATUS_OK);
    ASSERT_EQ(CR_GetTocEntry(1).startSector, 301);
    const RipResult two = rip(301, 757);
    ASSERT_EQ(two.openStatus, CR_STATUS_OK);
    EXPECT_EQ(two.errorCount, 0);
    // The new disc's samples from 301 x 588 + offset on (its audio ends at 1,187).
    const std::vector<uint8_t> image = discgen::imageBytes(sameLayoutOtherMusic());
    const std::vector<uint8_t> want(image.begin() + (301 * 588 + offset) * 4,
                                    image.begin() + (758 * 588 + offset) * 4);
    ASSERT_EQ(two.bytes.size(), want.size());
    size_t firstWrong = want.size();
    for (size_t i = 0; i < want.size() && firstWrong == want.size(); ++i)
        if (two.bytes[i] != want[i])
            firstWrong = i;
    EXPECT_EQ(firstWrong, want.size()) << "first wrong byte in sector " << firstWrong / 2352;
}

INSTANTIATE_TEST_SUITE_P(Offsets, CarryTest, testing::Values(0, 30, -30),
                         [](const testing::TestParamInfo<int32_t>& row) {
                             return row.param == 0  ? std::string("NoOffset")
                                    : row.param > 0 ? "Plus" + std::to_string(row.param)
                                                    : "Minus" + std::to_string(-row.param);
                         });

// What happens to the drive after its table was read, and what the library then says.
struct ChangeCase {
    const char* name;
    std::function<void(DiscChangeTest&)> event;
    int32_t changed;       // CR_DiscChanged afterwards
    std::string status;    // CR_GetDriveStatusText afterwards
    bool readsAgain;       // CR_ReadToc succeeds afterwards
    discgen::DiscSpec now; // the disc then in the drive
};

void PrintTo(const ChangeCase& row, std::ostream* os) {
    *os << row.name;
}

class ChangeTest : public DiscChangeTest, public testing::WithParamInterface<ChangeCase> {
public:
    using DiscChangeTest::insert;
    const std::string& disc() const { return disc_; }
};

// A changed disc is not read or played as the one whose table was read, and says so;
// the found change stays until the table is read again, which reads the new disc. The
// tone disc's drive beside it is not touched.
TEST_P(ChangeTest, ChangedDiscIsNotReadAsTheOldOne) {
    const ChangeCase& row = GetParam();
    setMode(true, CR_STEREO44100);
    row.event(*this);
    EXPECT_EQ(CR_DiscChanged(), row.changed);
    EXPECT_EQ(CR_DiscChanged(), row.changed); // asking again finds the same
    // A status that starts with ".cue" names the image's sheet first.
    EXPECT_EQ(statusText(), row.status.rfind(".cue", 0) == 0 ? disc() + row.status : row.status);
    const RipResult one = rip(0, 300);
    EXPECT_EQ(one.openStatus, row.changed == CR_TRUE ? CR_STATUS_FAIL : CR_STATUS_OK);
    EXPECT_EQ(CR_PlayTrack(1), row.changed == CR_TRUE ? CR_STATUS_FAIL : CR_STATUS_OK);
    CR_StopPlayTrack();
    ASSERT_EQ(CR_ReadToc(), row.readsAgain ? CR_STATUS_OK : CR_STATUS_FAIL);
    if (!row.readsAgain) {
        EXPECT_EQ(CR_DiscChanged(), CR_TRUE);
        return;
    }
    EXPECT_EQ(CR_DiscChanged(), CR_FALSE);
    EXPECT_EQ(statusText(), "");
    const discgen::Layout layout = discgen::layoutOf(row.now);
    ASSERT_EQ(CR_GetNumTocEntries(), int32_t(layout.starts.size()));
    EXPECT_EQ(CR_GetTocEntry(CR_GetNumTocEntries()).startSector, layout.leadout);
    const RipResult again = rip(0, 300);
    ASSERT_EQ(again.openStatus, CR_STATUS_OK);
    EXPECT_EQ(again.errorCount, 0);
    EXPECT_TRUE(again.bytes == sectorBytes(discgen::imageBytes(row.now), 0, 300));
}

INSTANTIATE_TEST_SUITE_P(
    Events, ChangeTest,
    testing::Values(
        ChangeCase{"Nothing", [](DiscChangeTest&) {}, CR_FALSE, "", true, CdripTest::musicSpec()},
        ChangeCase{
            "OtherLayout",
            [](DiscChangeTest& test) { static_cast<ChangeTest&>(test).insert(otherLayout()); },
            CR_TRUE, "the disc was changed", true, otherLayout()},
        // Nothing but the audio can tell this disc from the one read: a disc key is no
        // different.
        ChangeCase{"SameLayoutOtherMusic",
                   [](DiscChangeTest& test) {
                       static_cast<ChangeTest&>(test).insert(sameLayoutOtherMusic());
                   },
                   CR_FALSE, "", true, sameLayoutOtherMusic()},
        ChangeCase{"Ejected", [](DiscChangeTest&) { ASSERT_EQ(CR_EjectCD(CR_TRUE), CR_STATUS_OK); },
                   CR_TRUE, "the tray is open", false, CdripTest::musicSpec()},
        ChangeCase{"ImageRemoved",
                   [](DiscChangeTest& test) {
                       std::filesystem::remove(static_cast<ChangeTest&>(test).disc() + ".cue");
                   },
                   CR_TRUE, ".cue: no such file", false, CdripTest::musicSpec()}),
    [](const testing::TestParamInfo<ChangeCase>& row) { return row.param.name; });

// Without the library, a drive or a table read, no disc can be the one read.
TEST_F(CdripTest, DiscChangedWithoutATableSaysChanged) {
    CR_DeInit();
    EXPECT_EQ(CR_DiscChanged(), CR_TRUE);
    startLibrary({music_}, nullptr);
    ASSERT_EQ(CR_SetActiveCDROM(driveOf(music_)), CR_STATUS_OK);
    EXPECT_EQ(CR_DiscChanged(), CR_TRUE); // no table read yet
    ASSERT_EQ(CR_ReadToc(), CR_STATUS_OK);
    EXPECT_EQ(CR_DiscChanged(), CR_FALSE);
}

} // namespace
} // namespace cdriptest
