// Bad input gives a failure status, never a crash.
#include "CdripFixture.h"

#include <ostream>

#include <filesystem>
#include <fstream>
#include <functional>

namespace cdriptest {
namespace {

struct CallCase {
    const char* name;
    std::function<CR_STATUS()> call;
};

// Names the row in test output.
void PrintTo(const CallCase& row, std::ostream* os) {
    *os << row.name;
}

class BeforeInitTest : public CdripTest, public testing::WithParamInterface<CallCase> {};

TEST_P(BeforeInitTest, FailsBeforeInit) {
    CR_DeInit();
    EXPECT_EQ(GetParam().call(), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetNumCDROM(), 0);
    EXPECT_EQ(CR_GetNumTocEntries(), 0);
}

uint8_t buffer[4096];
int32_t n32 = 0, m32 = 0;
uint32_t u32a = 0;
CR_DRIVE_PARAMS block{};

INSTANTIATE_TEST_SUITE_P(
    Calls, BeforeInitTest,
    testing::Values(CallCase{"SetActive", [] { return CR_SetActiveCDROM(0); }},
                    CallCase{"GetParameters", [] { return CR_GetCDROMParameters(&block); }},
                    CallCase{"SetParameters", [] { return CR_SetCDROMParameters(&block); }},
                    CallCase{"ReadToc", [] { return CR_ReadToc(); }},
                    CallCase{"OpenRipper", [] { return CR_OpenRipper(&n32, 0, 10); }},
                    CallCase{"RipChunk", [] { return CR_RipChunk(buffer, &n32, CR_TRUE); }},
                    CallCase{"CloseRipper", [] { return CR_CloseRipper(); }},
                    CallCase{"PlayTrack", [] { return CR_PlayTrack(1); }},
                    CallCase{"Pause", [] { return CR_PauseCD(CR_TRUE); }},
                    CallCase{"Stop", [] { return CR_StopPlayTrack(); }},
                    CallCase{"Eject", [] { return CR_EjectCD(CR_TRUE); }},
                    CallCase{"PlayPosition", [] { return CR_GetPlayPosition(&n32, &m32); }},
                    CallCase{"DeInit", [] { return CR_DeInit(); }}),
    [](const testing::TestParamInfo<CallCase>& row) { return row.param.name; });

// With the music disc selected and read (tracks at 0, 301, 798 and the data track at
// 1337, lead-out 1457).
class MisuseTest : public CdripTest, public testing::WithParamInterface<CallCase> {
protected:
    void SetUp() override {
        CdripTest::SetUp();
        selectDisc(music_);
    }
};

TEST_P(MisuseTest, FailsWithStatusOne) {
    EXPECT_EQ(GetParam().call(), CR_STATUS_FAIL);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, MisuseTest,
    testing::Values(
        CallCase{"UnknownDriveBelow", [] { return CR_SetActiveCDROM(-1); }},
        CallCase{"UnknownDriveAbove", [] { return CR_SetActiveCDROM(CR_GetNumCDROM()); }},
        CallCase{"StartAfterEnd", [] { return CR_OpenRipper(&n32, 200, 100); }},
        CallCase{"NegativeStart", [] { return CR_OpenRipper(&n32, -5, 100); }},
        CallCase{"BeyondLeadOut", [] { return CR_OpenRipper(&n32, 1000, 1457); }},
        CallCase{"FarBeyondLeadOut", [] { return CR_OpenRipper(&n32, 5000, 6000); }},
        CallCase{"OnDataTrack", [] { return CR_OpenRipper(&n32, 1337, 1400); }},
        CallCase{"IntoDataTrack", [] { return CR_OpenRipper(&n32, 1300, 1340); }},
        CallCase{"NullSize", [] { return CR_OpenRipper(nullptr, 0, 10); }},
        CallCase{"ChunkWithoutRipper", [] { return CR_RipChunk(buffer, &n32, CR_TRUE); }},
        CallCase{"ChunkNullCount",
                 [] {
                     CR_OpenRipper(&n32, 0, 1);
                     return CR_RipChunk(buffer, nullptr, CR_TRUE);
                 }},
        CallCase{"ChunkNullBuffer",
                 [] {
                     CR_OpenRipper(&n32, 0, 1);
                     return CR_RipChunk(nullptr, &m32, CR_TRUE);
                 }},
        CallCase{"SecondOpen",
                 [] {
                     EXPECT_EQ(CR_OpenRipper(&n32, 0, 10), CR_STATUS_OK);
                     return CR_OpenRipper(&n32, 0, 10);
                 }},
        CallCase{"CloseWithoutOpen", [] { return CR_CloseRipper(); }},
        CallCase{"NullParameters", [] { return CR_GetCDROMParameters(nullptr); }},
        CallCase{"NullParametersSet", [] { return CR_SetCDROMParameters(nullptr); }},
        CallCase{"FormatSix",
                 [] {
                     CR_GetCDROMParameters(&block);
                     block.outputFormat = 6;
                     return CR_SetCDROMParameters(&block);
                 }},
        CallCase{"HugeChunk",
                 [] {
                     CR_GetCDROMParameters(&block);
                     block.sectorsPerChunk = 1000000;
                     return CR_SetCDROMParameters(&block);
                 }},
        CallCase{"NullPosition", [] { return CR_GetPlayPosition(nullptr, &n32); }},
        CallCase{"NullJitterPosition",
                 [] { return CR_GetLastJitterErrorPosition(&u32a, nullptr); }}),
    [](const testing::TestParamInfo<CallCase>& row) { return row.param.name; });

TEST_F(MisuseTest, OutOfRangeTocEntriesAreZero) {
    for (int32_t i : {-1, 5, 1000}) {
        CR_TOCENTRY e = CR_GetTocEntry(i);
        EXPECT_EQ(e.startSector, 0);
        EXPECT_EQ(e.flags, 0);
        EXPECT_EQ(e.trackNumber, 0);
    }
}

TEST_F(MisuseTest, RefusedParametersChangeNothing) {
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.outputFormat = 9;
    p.jitterCorrection = CR_FALSE;
    EXPECT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_FAIL);
    CR_DRIVE_PARAMS q{};
    ASSERT_EQ(CR_GetCDROMParameters(&q), CR_STATUS_OK);
    EXPECT_EQ(q.outputFormat, CR_STEREO44100);
    EXPECT_EQ(q.jitterCorrection, CR_TRUE);
}

TEST_F(MisuseTest, ZeroDrivesIsANormalState) {
    startLibrary({}, nullptr);
    // A machine without drives: this one has none, CI neither.
    if (CR_GetNumCDROM() != 0)
        GTEST_SKIP() << "this machine has a CD drive";
    CR_DRIVE_PARAMS p{};
    EXPECT_EQ(CR_GetActiveCDROM(), 0);
    EXPECT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_FAIL);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_FAIL);
    EXPECT_EQ(CR_PlayTrack(1), CR_STATUS_FAIL);
    EXPECT_EQ(CR_EjectCD(CR_TRUE), CR_STATUS_FAIL);
}

// Images that are no discs: each is still a drive, one without a readable disc.
struct ImageCase {
    const char* name;
    std::function<void(const std::string& base)> make;
};

// Names the row in test output.
void PrintTo(const ImageCase& row, std::ostream* os) {
    *os << row.name;
}

class BrokenImageTest : public CdripTest, public testing::WithParamInterface<ImageCase> {};

TEST_P(BrokenImageTest, TocFailsAndNothingRips) {
    const std::string base = dir_ + "/broken-" + GetParam().name;
    GetParam().make(base);
    startLibrary({base + ".cue", music_}, nullptr);
    const int32_t drive = driveOf(base + ".cue");
    ASSERT_GE(drive, 0);
    ASSERT_EQ(CR_SetActiveCDROM(drive), CR_STATUS_OK);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetNumTocEntries(), 0);
    int32_t size = 0;
    EXPECT_EQ(CR_OpenRipper(&size, 0, 10), CR_STATUS_FAIL);
    EXPECT_EQ(CR_PlayTrack(1), CR_STATUS_FAIL);
    // The good disc beside it still works.
    selectDisc(music_);
    EXPECT_EQ(CR_GetNumTocEntries(), 4);
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Images, BrokenImageTest,
    testing::Values(ImageCase{"Missing", [](const std::string&) {}},
                    ImageCase{"Empty", [](const std::string& b) { writeFile(b + ".cue", ""); }},
                    ImageCase{"NotAnImage",
                              [](const std::string& b) {
                                  writeFile(b + ".cue", std::string(5000, '\x7f') + "TRACK");
                              }},
                    ImageCase{"CueWithoutBin",
                              [](const std::string& b) {
                                  writeFile(b + ".cue", "FILE \"gone.bin\" BINARY\n  TRACK 01 "
                                                        "AUDIO\n    INDEX 01 00:00:00\n");
                              }},
                    ImageCase{"BinEndsBeforeTheLastTrack",
                              [](const std::string& b) {
                                  ASSERT_TRUE(discgen::writeDisc(b, CdripTest::musicSpec()));
                                  std::filesystem::resize_file(b + ".bin", 500 * 2352);
                              }},
                    ImageCase{"EmptyBin",
                              [](const std::string& b) {
                                  ASSERT_TRUE(discgen::writeDisc(b, CdripTest::musicSpec()));
                                  std::filesystem::resize_file(b + ".bin", 0);
                              }},
                    ImageCase{"CueCutShort",
                              [](const std::string& b) {
                                  writeFile(b + ".bin", std::string(2352 * 10, '\0'));
                                  writeFile(b + ".cue", "FILE \"broken-CueCutShort.bin\" BIN");
                              }}),
    [](const testing::TestParamInfo<ImageCase>& row) { return row.param.name; });

TEST_F(BrokenImageTest, BinCutShortInsideTheLastTrackEndsTheDiscThere) {
    // libcdio takes the lead-out from the size of the .bin: a disc cut short inside its
    // last audio track is a shorter disc, read to its new end without loss.
    const std::string base = dir_ + "/cut";
    discgen::DiscSpec plan = musicSpec();
    plan.tracks.pop_back(); // audio only: 0, 301, 798, lead-out 1187
    ASSERT_TRUE(discgen::writeDisc(base, plan));
    std::filesystem::resize_file(base + ".bin", 1100 * 2352);
    startLibrary({base + ".cue"}, nullptr);
    selectDisc(base + ".cue");
    ASSERT_EQ(CR_GetNumTocEntries(), 3);
    EXPECT_EQ(CR_GetTocEntry(3).startSector, 1100);
    int32_t size = 0;
    EXPECT_EQ(CR_OpenRipper(&size, 798, 1186), CR_STATUS_FAIL) << "beyond the new lead-out";
    for (bool paranoia : {true, false}) {
        setMode(paranoia, CR_STEREO44100);
        RipResult r = rip(798, 1099);
        ASSERT_EQ(r.openStatus, CR_STATUS_OK);
        EXPECT_TRUE(r.bytes == sectorBytes(musicBytes_, 798, 1099));
        EXPECT_EQ(r.errorCount, 0);
    }
}

} // namespace
} // namespace cdriptest
