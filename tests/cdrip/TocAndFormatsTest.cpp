// Table of contents, parameter block and the six output formats on generated images.
#include "CdripFixture.h"

#include <ostream>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cdriptest {
namespace {

int32_t bytesPerSector(int format) {
    static const int32_t table[] = {2352, 1176, 1176, 588, 588, 294};
    return table[format];
}

int rateOf(int format) {
    return format < 2 ? 44100 : format < 4 ? 22050 : 11025;
}
int channelsOf(int format) {
    return format % 2 == 1 ? 1 : 2;
}

std::vector<int16_t> samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

using TocTest = CdripTest;

TEST_F(TocTest, EntriesAreTheImagesTracksThenTheLeadOut) {
    selectDisc(music_);
    const discgen::Layout layout = discgen::layoutOf(musicSpec());
    ASSERT_EQ(CR_GetNumTocEntries(), 4);
    for (int32_t i = 0; i < 4; ++i) {
        CR_TOCENTRY e = CR_GetTocEntry(i);
        EXPECT_EQ(e.startSector, layout.starts[size_t(i)]) << "track " << i + 1;
        EXPECT_EQ(e.trackNumber, i + 1);
        // The fourth track is the MODE1 data track.
        EXPECT_EQ(e.flags, i == 3 ? CR_TOC_DATA : CR_TOC_AUDIO) << "track " << i + 1;
        // Only the data track declares a gap: its 150-sector INDEX 00.
        EXPECT_EQ(gapOf(e), i == 3 ? 150 : 0) << "track " << i + 1;
    }
    // Track 3 ends where the data track's gap begins.
    EXPECT_EQ(trackEnd(2), layout.starts[3] - 150 - 1);
    // Track 3 starts after its 40-sector pregap: 301 + 457 + 40 = 798.
    EXPECT_EQ(CR_GetTocEntry(2).startSector, 798);
    CR_TOCENTRY leadout = CR_GetTocEntry(4);
    EXPECT_EQ(leadout.startSector, layout.leadout);
    EXPECT_EQ(leadout.trackNumber, 0xAA);
}

TEST_F(TocTest, VirtualDrivesFollowTheRealOnesWithTheirImagePath) {
    const int32_t drives = CR_GetNumCDROM();
    ASSERT_GE(drives, 2);
    EXPECT_EQ(driveOf(music_), drives - 2);
    EXPECT_EQ(driveOf(tone_), drives - 1);
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_SetActiveCDROM(drives - 1), CR_STATUS_OK);
    EXPECT_EQ(CR_GetActiveCDROM(), drives - 1);
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    EXPECT_EQ(std::string(p.id), "VELMORA VIRTUAL-CD 1.20 " + tone_);
    EXPECT_EQ(p.jitterCorrection, CR_TRUE);
    EXPECT_EQ(p.outputFormat, CR_STEREO44100);
    EXPECT_EQ(p.isVirtual, CR_TRUE);
}

TEST_F(TocTest, ParametersHandedOverComeBack) {
    selectDisc(music_);
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.jitterCorrection = CR_FALSE;
    p.outputFormat = CR_MONO22050;
    p.sectorsPerChunk = 7;
    std::strcpy(p.id, "changed by the caller");
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    CR_DRIVE_PARAMS q{};
    ASSERT_EQ(CR_GetCDROMParameters(&q), CR_STATUS_OK);
    EXPECT_EQ(q.jitterCorrection, CR_FALSE);
    EXPECT_EQ(q.outputFormat, CR_MONO22050);
    EXPECT_EQ(q.sectorsPerChunk, 7);
    EXPECT_EQ(std::string(q.id).rfind("VELMORA VIRTUAL-CD", 0), 0u) << "the id is read only";
    // 7 sectors a chunk, and the resampler's room of two more sectors.
    int32_t size = 0;
    ASSERT_EQ(CR_OpenRipper(&size, 0, 100), CR_STATUS_OK);
    EXPECT_EQ(size, 9 * 588);
    EXPECT_EQ(CR_CloseRipper(), CR_STATUS_OK);
}

struct FormatCase {
    const char* name;
    int format;
    bool paranoia;
};

// Names the row in test output.
void PrintTo(const FormatCase& row, std::ostream* os) {
    *os << row.name;
}

class FormatTest : public CdripTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTest, EveryAudioTrackDeliversItsExactByteCount) {
    selectDisc(music_);
    setMode(GetParam().paranoia, GetParam().format);
    for (int32_t t = 0; t < 3; ++t) {
        const int32_t first = CR_GetTocEntry(t).startSector;
        const int32_t last = trackEnd(t);
        RipResult r = rip(first, last);
        ASSERT_EQ(r.openStatus, CR_STATUS_OK);
        EXPECT_EQ(r.bytes.size(),
                  size_t(last - first + 1) * size_t(bytesPerSector(GetParam().format)))
            << "track " << t + 1;
        EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), CR_STATUS_DONE), 1);
        EXPECT_EQ(r.statuses.back(), CR_STATUS_DONE);
        EXPECT_EQ(r.errorCount, 0);
        if (GetParam().format == CR_STEREO44100) {
            EXPECT_TRUE(r.bytes == sectorBytes(musicBytes_, first, last))
                << "track " << t + 1 << " differs from the image";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, FormatTest,
                         testing::Values(FormatCase{"Stereo44100Paranoia", CR_STEREO44100, true},
                                         FormatCase{"Stereo44100Plain", CR_STEREO44100, false},
                                         FormatCase{"Mono44100Paranoia", CR_MONO44100, true},
                                         FormatCase{"Stereo22050Paranoia", CR_STEREO22050, true},
                                         FormatCase{"Mono22050Plain", CR_MONO22050, false},
                                         FormatCase{"Stereo11025Plain", CR_STEREO11025, false},
                                         FormatCase{"Mono11025Paranoia", CR_MONO11025, true}),
                         [](const testing::TestParamInfo<FormatCase>& row) {
                             return row.param.name;
                         });

TEST_F(FormatTest, MonoIsTheAverageOfBothChannels) {
    selectDisc(music_);
    setMode(false, CR_MONO44100);
    RipResult r = rip(301, 757); // track 2
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    std::vector<int16_t> stereo = samples(sectorBytes(musicBytes_, 301, 757));
    std::vector<int16_t> mono = samples(r.bytes);
    ASSERT_EQ(mono.size() * 2, stereo.size());
    size_t differentChannels = 0;
    for (size_t i = 0; i < mono.size(); ++i) {
        const int32_t l = stereo[2 * i], r2 = stereo[2 * i + 1];
        differentChannels += l != r2;
        ASSERT_EQ(mono[i], int16_t((l + r2) >> 1)) << "frame " << i;
    }
    EXPECT_GT(differentChannels, mono.size() / 4) << "the music should not be mono already";
}

// A 1 kHz tone must stay 1 kHz in every format: the rate changes, not the pitch.
class ToneTest : public CdripTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(ToneTest, ToneKeepsItsPitch) {
    selectDisc(tone_);
    setMode(GetParam().paranoia, GetParam().format);
    RipResult r = rip(0, 299); // 4 seconds
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    std::vector<int16_t> s = samples(r.bytes);
    const int channels = channelsOf(GetParam().format);
    // Upward zero crossings of the first channel, past the resampler's start-up.
    const size_t skip = size_t(rateOf(GetParam().format)) / 10;
    size_t crossings = 0, frames = s.size() / size_t(channels);
    for (size_t i = skip + 1; i < frames; ++i)
        crossings += s[(i - 1) * size_t(channels)] < 0 && s[i * size_t(channels)] >= 0;
    const double seconds = double(frames - skip - 1) / rateOf(GetParam().format);
    EXPECT_NEAR(crossings / seconds, 1000.0, 5.0);
    // Amplitude kept too: the tone peaks at half of full scale, 16000.
    int16_t peak = *std::max_element(s.begin() + long(skip) * channels, s.end());
    EXPECT_NEAR(peak, 16000, 800);
}

INSTANTIATE_TEST_SUITE_P(ResampledFormats, ToneTest,
                         testing::Values(FormatCase{"Stereo44100", CR_STEREO44100, false},
                                         FormatCase{"Stereo22050", CR_STEREO22050, true},
                                         FormatCase{"Mono22050", CR_MONO22050, false},
                                         FormatCase{"Stereo11025", CR_STEREO11025, false},
                                         FormatCase{"Mono11025", CR_MONO11025, true}),
                         [](const testing::TestParamInfo<FormatCase>& row) {
                             return row.param.name;
                         });

using ProgressTest = CdripTest;

TEST_F(ProgressTest, PercentRisesToOneHundredAndTheRangeEndsOnce) {
    selectDisc(music_);
    setMode(true, CR_STEREO22050);
    RipResult r = rip(0, 757);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    ASSERT_FALSE(r.percents.empty());
    EXPECT_TRUE(std::is_sorted(r.percents.begin(), r.percents.end()));
    EXPECT_EQ(r.percents.back(), 100);
    EXPECT_LT(r.percents.front(), 100);
    EXPECT_EQ(std::count(r.statuses.begin(), r.statuses.end(), CR_STATUS_DONE), 1);
    // 758 sectors at 26 a chunk: 30 chunks, the last one ends the range.
    EXPECT_EQ(r.statuses.size(), 30u);
    // Once finished, the ripper has nothing more to give.
    int32_t size = 0, n = 7;
    ASSERT_EQ(CR_OpenRipper(&size, 0, 0), CR_STATUS_OK);
    std::vector<uint8_t> buf(size_t(size), 0);
    EXPECT_EQ(CR_RipChunk(buf.data(), &n, CR_TRUE), CR_STATUS_DONE);
    EXPECT_EQ(n, 1176);
    EXPECT_EQ(CR_RipChunk(buf.data(), &n, CR_TRUE), CR_STATUS_FAIL);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(CR_GetPercentCompleted(), 100);
    EXPECT_EQ(CR_CloseRipper(), CR_STATUS_OK);
}

TEST_F(ProgressTest, OneSectorRangeAtTheEndOfTheLastAudioTrack) {
    selectDisc(music_);
    setMode(true, CR_STEREO44100);
    const int32_t last = trackEnd(2); // before the data track's pregap
    RipResult r = rip(last, last);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    // The data track's gap is not audio: a range into it is refused.
    EXPECT_EQ(rip(last, last + 1).openStatus, CR_STATUS_FAIL);
    EXPECT_EQ(rip(last + 150, last + 150).openStatus, CR_STATUS_FAIL);
    EXPECT_EQ(r.statuses, std::vector<CR_STATUS>{CR_STATUS_DONE});
    EXPECT_TRUE(r.bytes == sectorBytes(musicBytes_, last, last));
}

} // namespace
} // namespace cdriptest

namespace cdriptest {
namespace {

// ---- Read offset ----

struct OffsetCase {
    const char* name;
    int32_t samples;
    bool paranoia;
    int32_t first, last; // the range ripped
};

void PrintTo(const OffsetCase& row, std::ostream* os) {
    *os << row.name;
}

class OffsetTest : public CdripTest, public testing::WithParamInterface<OffsetCase> {};

// A rip with offset N is the image's audio moved by N samples, with silence beyond the
// disc's first and last audio sectors (0 and 1186 on the music disc), and no damage.
TEST_P(OffsetTest, AudioIsTheImageShiftedByTheOffset) {
    selectDisc(music_);
    setMode(GetParam().paranoia, CR_STEREO44100);
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.readOffset = GetParam().samples;
    ASSERT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    const int32_t first = GetParam().first, last = GetParam().last;
    RipResult r = rip(first, last);
    ASSERT_EQ(r.openStatus, CR_STATUS_OK);
    const int64_t audioEnd = int64_t(trackEnd(2) + 1) * 2352;
    std::vector<uint8_t> expected;
    for (int64_t at = int64_t(first) * 2352 + 4 * int64_t(GetParam().samples),
                 end = at + int64_t(last - first + 1) * 2352;
         at < end; ++at)
        expected.push_back(at >= 0 && at < audioEnd ? musicBytes_[size_t(at)] : 0);
    ASSERT_EQ(r.bytes.size(), expected.size());
    EXPECT_TRUE(r.bytes == expected);
    EXPECT_EQ(r.errorCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Offsets, OffsetTest,
                         testing::Values(OffsetCase{"Plus7", 7, true, 301, 757},
                                         OffsetCase{"Minus7", -7, true, 301, 757},
                                         OffsetCase{"Plus667Plain", 667, false, 301, 757},
                                         OffsetCase{"Minus1300Plain", -1300, false, 301, 757},
                                         OffsetCase{"WholeDiscPlus1000", 1000, true, 0, 1186},
                                         OffsetCase{"WholeDiscMinus1000", -1000, true, 0, 1186},
                                         OffsetCase{"WholeDiscMinus588Plain", -588, false, 0, 1186},
                                         OffsetCase{"Zero", 0, true, 0, 300}),
                         [](const testing::TestParamInfo<OffsetCase>& row) {
                             return row.param.name;
                         });

TEST_F(OffsetTest, OffsetBeyondASecondIsRefused) {
    selectDisc(music_);
    CR_DRIVE_PARAMS p{};
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    p.readOffset = 44101;
    EXPECT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_FAIL);
    p.readOffset = -44100;
    EXPECT_EQ(CR_SetCDROMParameters(&p), CR_STATUS_OK);
    ASSERT_EQ(CR_GetCDROMParameters(&p), CR_STATUS_OK);
    EXPECT_EQ(p.readOffset, -44100);
}

} // namespace
} // namespace cdriptest
