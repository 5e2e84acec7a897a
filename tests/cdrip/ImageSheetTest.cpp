// Disc images as people have them, through the real library: cue sheets and cdrdao TOC
// files in the styles rippers and burners write (made by mkdisc's writer, or by hand
// where a style is odd), each ripped track compared byte for byte with the audio the
// sheet describes, the table of contents entry by entry, and disc IDs with values
// worked out by hand.
#include "CdripFixture.h"
#include "RipProgram.h"
#include "TempFolder.h"

#include "cdaccess/CueSheet.h"
#include "cdaccess/HiddenTrack.h"
#include "verify/ArChecksum.h"
#include "verify/DiscIds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace cdriptest {
namespace {

using discgen::DiscSpec;
using discgen::SheetStyle;
using testing::HasSubstr;
using S = SheetStyle;

constexpr size_t kSector = discgen::kSectorBytes;

// Three audio tracks: 300 sectors, 200 after a 75-sector pregap, 250.
DiscSpec threeTracks() {
    DiscSpec plan;
    plan.seed = 5;
    plan.tracks = {{300, 0, false}, {200, 75, false}, {250, 0, false}};
    return plan;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string asText(const std::vector<uint8_t>& b, size_t from = 0, size_t n = std::string::npos) {
    n = std::min(n, b.size() - from);
    return std::string(reinterpret_cast<const char*>(b.data()) + from, n);
}

// What one row makes: the sheet, the audio the whole disc holds as the sheet describes
// it, and the table of contents the library must report.
struct Made {
    std::string sheet;
    std::string disc; // every sector from 0 to the lead-out, little-endian samples
    std::vector<int32_t> starts;
    int32_t leadout = 0;
};

Made styled(const TempFolder& dir, const DiscSpec& plan, const SheetStyle& style) {
    Made m;
    std::string error;
    EXPECT_TRUE(discgen::writeDisc(dir / "disc", plan, style, &error)) << error;
    m.sheet = dir / (style.sheet == S::Sheet::Toc ? "disc.toc" : "disc.cue");
    m.disc = asText(discgen::imageBytes(plan));
    const discgen::Layout l = discgen::layoutOf(plan);
    m.starts = l.starts;
    m.leadout = l.leadout;
    return m;
}

S style(S::Sheet sheet, S::Container c, S::Files files = S::Files::One) {
    S s;
    s.sheet = sheet;
    s.container = c;
    s.files = files;
    return s;
}

struct SheetRow {
    const char* name;
    std::function<Made(const TempFolder&)> make;
};

void PrintTo(const SheetRow& row, std::ostream* os) {
    *os << row.name;
}

class ImageSheetTest : public CdripTest, public testing::WithParamInterface<SheetRow> {};

// Every audio track ripped through the library equals the sheet's audio, and the table of
// contents is the sheet's.
TEST_P(ImageSheetTest, RipsTheAudioTheSheetDescribes) {
    TempFolder dir("sheet");
    const Made m = GetParam().make(dir);
    startLibrary({m.sheet}, nullptr);
    selectDisc(m.sheet);
    char why[512] = "x";
    ASSERT_EQ(CR_GetDriveStatusText(why, sizeof why), CR_STATUS_OK);
    EXPECT_STREQ(why, "");
    ASSERT_EQ(CR_GetNumTocEntries(), int32_t(m.starts.size()));
    for (size_t i = 0; i < m.starts.size(); ++i) {
        const CR_TOCENTRY e = CR_GetTocEntry(int32_t(i));
        EXPECT_EQ(e.startSector, m.starts[i]) << "track " << i + 1;
        EXPECT_EQ(e.flags, CR_TOC_AUDIO);
        EXPECT_EQ(e.trackNumber, i + 1);
        EXPECT_EQ(gapOf(e), 0);
    }
    const CR_TOCENTRY out = CR_GetTocEntry(int32_t(m.starts.size()));
    EXPECT_EQ(out.startSector, m.leadout);
    EXPECT_EQ(out.trackNumber, 0xAA);
    ASSERT_EQ(m.disc.size(), size_t(m.leadout) * kSector);
    for (size_t i = 0; i < m.starts.size(); ++i) {
        const int32_t first = m.starts[i], last = trackEnd(int32_t(i));
        const RipResult r = rip(first, last);
        ASSERT_EQ(r.openStatus, CR_STATUS_OK) << "track " << i + 1;
        EXPECT_EQ(r.errorCount, 0);
        ASSERT_EQ(r.bytes.size(), size_t(last - first + 1) * kSector) << "track " << i + 1;
        EXPECT_TRUE(asText(r.bytes) == m.disc.substr(size_t(first) * kSector, r.bytes.size()))
            << "track " << i + 1 << " differs from the sheet's audio";
    }
}

// A .bin of `sectors` of the plan's audio, its bytes kept for the expectation.
std::string plainBin(const TempFolder& dir, const std::string& name, int32_t sectors,
                     uint32_t seed) {
    const std::string bytes = asText(discgen::imageBytes(discgen::simpleDisc(seed, 1, sectors)));
    writeFile(dir / name, bytes);
    return bytes;
}

// Found 2, written by hand: track 2's PREGAP of 150 sectors is in no file, so track 2
// starts at 300 + 150 = 450 and track 3 at 450 + 700 = 1150.
Made cuePregap(const TempFolder& d) {
    Made m;
    const std::string bin = plainBin(d, "x.bin", 1300, 3);
    m.disc =
        bin.substr(0, 300 * kSector) + std::string(150 * kSector, '\0') + bin.substr(300 * kSector);
    m.sheet = d / "x.cue";
    writeFile(m.sheet, "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                       "  TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:04:00\n"
                       "  TRACK 03 AUDIO\n    INDEX 01 00:13:25\n");
    m.starts = {0, 450, 1150};
    m.leadout = 1450;
    return m;
}

// Found 1: track 1 is SILENCE 00:02:00, its file, START 00:02:00 (silence before its
// INDEX 01); the other pregaps are SILENCE and START too. Track 1 at 150, track 2 at
// 150 + 300 + 75 = 525, track 3 at 725, the lead-out at 975.
Made tocSilenceStart(const TempFolder& d) {
    DiscSpec plan = threeTracks();
    plan.hiddenSectors = 150;
    plan.hiddenSilent = true;
    Made m = styled(d, plan,
                    style(S::Sheet::Toc, S::Container::Binary, S::Files::PerTrackGapsAsSilence));
    EXPECT_THAT(readFile(m.sheet), HasSubstr("TRACK AUDIO\nSILENCE 00:02:00\nFILE \"disc-01.bin\" "
                                             "00:00:00 00:04:00\nSTART 00:02:00\n"));
    EXPECT_EQ(m.starts, (std::vector<int32_t>{150, 525, 725}));
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    Found, ImageSheetTest,
    testing::Values(
        // Found 1: wrong bytes with exit status 0.
        SheetRow{"CueWaveFile",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Cue, S::Container::Wave));
                 }},
        SheetRow{"CueBinHoldingRiffWave",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Cue, S::Container::WaveAsBin));
                 }},
        SheetRow{"TocWaveFile",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Toc, S::Container::Wave));
                 }},
        SheetRow{"TocAudiofile",
                 [](const TempFolder& d) {
                     Made m = styled(d, threeTracks(), style(S::Sheet::Toc, S::Container::Wave));
                     std::string toc = readFile(m.sheet);
                     for (size_t at = toc.find("\nFILE "); at != std::string::npos;
                          at = toc.find("\nFILE ", at))
                         toc.replace(at, 6, "\nAUDIOFILE ");
                     writeFile(m.sheet, toc);
                     return m;
                 }},
        SheetRow{"CueMotorola",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Cue, S::Container::Motorola));
                 }},
        SheetRow{"TocSwap",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Toc, S::Container::Motorola));
                 }},
        SheetRow{"TocSilenceAndStartBeforeTrackOne", tocSilenceStart},
        SheetRow{"TocHiddenAudioBeforeTrackOne",
                 [](const TempFolder& d) {
                     DiscSpec plan = threeTracks();
                     plan.hiddenSectors = 150;
                     return styled(d, plan, style(S::Sheet::Toc, S::Container::Binary));
                 }},
        SheetRow{"TocOneFrameOfSilenceBeforeTrackOne",
                 // Written by hand: one sector of silence, then the whole file, in track 1.
                 [](const TempFolder& d) {
                     Made m;
                     m.disc = std::string(kSector, '\0') + plainBin(d, "x.bin", 200, 9);
                     m.sheet = d / "x.toc";
                     writeFile(m.sheet, "CD_DA\nTRACK AUDIO\nSILENCE 00:00:01\nFILE \"x.bin\" 0\n");
                     m.starts = {0};
                     m.leadout = 201;
                     return m;
                 }},
        // Found 2: PREGAP and POSTGAP.
        SheetRow{"CuePregapIsSilence", cuePregap},
        SheetRow{"CuePostgapIsSilence",
                 // 75 sectors of POSTGAP end track 1: track 2 starts at 300 + 75.
                 [](const TempFolder& d) {
                     Made m;
                     const std::string bin = plainBin(d, "x.bin", 500, 4);
                     m.disc = bin.substr(0, 300 * kSector) + std::string(75 * kSector, '\0') +
                              bin.substr(300 * kSector);
                     m.sheet = d / "x.cue";
                     writeFile(m.sheet, "FILE \"x.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                        "POSTGAP 00:01:00\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n");
                     m.starts = {0, 375};
                     m.leadout = 575;
                     return m;
                 }},
        // Found 3: refused, though common.
        SheetRow{"CueWithByteOrderMark",
                 [](const TempFolder& d) {
                     S s;
                     s.text = S::Text::Utf8Bom;
                     return styled(d, threeTracks(), s);
                 }},
        SheetRow{"CueLowerCaseKeywordsCrlf",
                 [](const TempFolder& d) {
                     S s;
                     s.lowerCase = s.crlf = true;
                     return styled(d, threeTracks(), s);
                 }},
        SheetRow{"CueNamesAnotherBaseName",
                 [](const TempFolder& d) {
                     S s;
                     s.dataName = "Some Album (2001)";
                     return styled(d, threeTracks(), s);
                 }},
        SheetRow{"CueOneFilePerTrackGapsAppended",
                 [](const TempFolder& d) {
                     Made m = styled(d, threeTracks(),
                                     style(S::Sheet::Cue, S::Container::Wave, S::Files::PerTrack));
                     // Track 2's INDEX 00 lies in track 1's file, at its 300th sector.
                     EXPECT_THAT(readFile(m.sheet),
                                 HasSubstr("  TRACK 02 AUDIO\n    INDEX 00 00:04:00\nFILE "
                                           "\"disc-02.wav\" WAVE\n    INDEX 01 00:00:00\n"));
                     return m;
                 }},
        SheetRow{"CueOneFilePerTrackGapsLeftOut",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(),
                                   style(S::Sheet::Cue, S::Container::Binary,
                                         S::Files::PerTrackGapsAsSilence));
                 }},
        SheetRow{"CueFileInSubFolderWithBackslash",
                 [](const TempFolder& d) {
                     S s;
                     s.subFolder = "audio";
                     s.backslashes = true;
                     Made m = styled(d, threeTracks(), s);
                     EXPECT_THAT(readFile(m.sheet), HasSubstr("FILE \"audio\\disc.bin\" BINARY"));
                     return m;
                 }},
        SheetRow{"TocNamesItsFileRelativeToItself",
                 // The file is named "disc.bin", and the test runs in another folder.
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Toc, S::Container::Binary));
                 }},
        SheetRow{"TocWithCdTextBlocks",
                 [](const TempFolder& d) {
                     DiscSpec plan = threeTracks();
                     plan.title = "Caf\xC3\xA9 Sessions";
                     plan.trackTitles = {"One", "Two"};
                     return styled(d, plan, style(S::Sheet::Toc, S::Container::Binary));
                 }},
        // Found 4: a FLAC image with its cue, one file or one a track.
        SheetRow{"CueFlacImage",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(), style(S::Sheet::Cue, S::Container::Flac));
                 }},
        SheetRow{"CueFlacPerTrack",
                 [](const TempFolder& d) {
                     return styled(d, threeTracks(),
                                   style(S::Sheet::Cue, S::Container::Flac, S::Files::PerTrack));
                 }}),
    [](const testing::TestParamInfo<SheetRow>& row) { return std::string(row.param.name); });

// ---- Disc IDs, worked out by hand ----

DiscToc libraryToc() {
    DiscToc toc;
    for (int32_t i = 0; i < CR_GetNumTocEntries(); ++i) {
        const CR_TOCENTRY e = CR_GetTocEntry(i);
        toc.Tracks.push_back({e.startSector, e.flags == CR_TOC_AUDIO});
    }
    toc.LeadOut = CR_GetTocEntry(CR_GetNumTocEntries()).startSector;
    return toc;
}

// The disc IDs follow the table of contents. CDDB: the digit sums of each track's start
// in whole seconds from the disc's start (LSN + 150, over 75), modulo 255, the length in
// whole seconds from track 1 to the lead-out, the track count. AccurateRip: id1 the sum
// of the track starts and the lead-out (LSN), id2 the sum of each start (1 for 0) times
// its track number plus the lead-out times (tracks + 1).
TEST_F(CdripTest, DiscIdsOfSheetsWithGapsWorkedOutByHand) {
    struct Row {
        Made (*make)(const TempFolder&);
        const char* cddb;
        const char* accurateRip;
    };
    const Row rows[] = {
        // Starts 0, 450, 1150, lead-out 1450: seconds 2, 8, 17 give 2 + 8 + 8 = 18 (0x12);
        // 1600 / 75 = 21, less 2: 19 s (0x13). id1 0 + 450 + 1150 + 1450 = 3050 (0xbea);
        // id2 1 + 900 + 3450 + 5800 = 10151 (0x27a7).
        {cuePregap, "12001303", "003-00000bea-000027a7-12001303"},
        // Starts 150, 525, 725, lead-out 975: seconds 4, 9, 11 give 4 + 9 + 2 = 15 (0x0f);
        // 1125 / 75 = 15, less 4: 11 s (0x0b). id1 150 + 525 + 725 + 975 = 2375 (0x947);
        // id2 150 + 1050 + 2175 + 3900 = 7275 (0x1c6b).
        {tocSilenceStart, "0f000b03", "003-00000947-00001c6b-0f000b03"},
    };
    for (const Row& row : rows) {
        TempFolder dir("ids");
        const Made m = row.make(dir);
        startLibrary({m.sheet}, nullptr);
        selectDisc(m.sheet);
        const DiscToc toc = libraryToc();
        EXPECT_EQ(Hex8(CddbDiscId(toc)), row.cddb) << m.sheet;
        EXPECT_EQ(AccurateRipDiscIds(toc).Text(), row.accurateRip) << m.sheet;
    }
}

// ---- A FLAC image ----

// The samples of a WAV file that `flac -d` wrote (a 44-byte header before them).
std::string decodedWithFlac(const std::string& flac, const std::string& wav) {
    const std::string cmd = "flac -s -d -f -o '" + wav + "' '" + flac + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::string bytes = readFile(wav);
    return bytes.size() >= 44 ? bytes.substr(44) : "";
}

class FlacImageTest : public CdripTest {
protected:
    // A rip of each audio track of the disc in the library's active drive.
    static std::vector<std::string> ripTracks(int32_t count) {
        std::vector<std::string> out;
        for (int32_t i = 0; i < count; ++i) {
            const RipResult r = rip(CR_GetTocEntry(i).startSector, trackEnd(i));
            EXPECT_EQ(r.errorCount, 0);
            out.push_back(asText(r.bytes));
        }
        return out;
    }
};

// A single .flac with its cue: the rip equals what an independent decoder (the flac tool)
// makes of the file, and each track's AccurateRip checksums equal those of the same
// disc as a .bin.
TEST_F(FlacImageTest, RipEqualsTheDecodedFlacAndTheBinsChecksums) {
    TempFolder dir("flac");
    DiscSpec plan = threeTracks();
    std::string error;
    ASSERT_TRUE(
        discgen::writeDisc(dir / "disc", plan, style(S::Sheet::Cue, S::Container::Flac), &error))
        << error;
    ASSERT_TRUE(discgen::writeDisc(dir / "same", plan, &error)) << error;
    const std::string decoded = decodedWithFlac(dir / "disc.flac", dir / "decoded.wav");
    ASSERT_EQ(decoded.size(), size_t(plan.tracks[0].sectors + 275 + 250) * kSector);
    std::vector<std::vector<std::string>> rips;
    for (const std::string& image : {dir / "disc.cue", dir / "same.cue"}) {
        startLibrary({image}, nullptr);
        selectDisc(image);
        ASSERT_EQ(CR_GetNumTocEntries(), 3);
        rips.push_back(ripTracks(3));
    }
    size_t at = 0;
    for (int32_t i = 0; i < 3; ++i) {
        const std::string& flacRip = rips[0][size_t(i)];
        EXPECT_TRUE(flacRip == decoded.substr(at, flacRip.size())) << "track " << i + 1;
        at += flacRip.size();
        uint32_t v1[2], v2[2];
        for (int k = 0; k < 2; ++k) {
            const std::string& bytes = rips[size_t(k)][size_t(i)];
            ArChecksum sum(bytes.size() / 4, i == 0, i == 2);
            sum.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            v1[k] = sum.V1();
            v2[k] = sum.V2();
        }
        EXPECT_EQ(v1[0], v1[1]) << "track " << i + 1;
        EXPECT_EQ(v2[0], v2[1]) << "track " << i + 1;
        EXPECT_NE(v1[0], 0u);
    }
    EXPECT_EQ(at, decoded.size()); // track 2's pregap ends track 1
}

// ---- Refused images: the file, the line and the reason ----

struct RefusedRow {
    const char* name;
    std::function<std::string(const TempFolder&)> make; // returns the sheet's path
    const char* reason;
};

void PrintTo(const RefusedRow& row, std::ostream* os) {
    *os << row.name;
}

class RefusedSheetTest : public CdripTest, public testing::WithParamInterface<RefusedRow> {};

TEST_P(RefusedSheetTest, NamesFileLineAndReason) {
    TempFolder dir("refused");
    const std::string sheet = GetParam().make(dir);
    startLibrary({sheet}, nullptr);
    ASSERT_EQ(CR_SetActiveCDROM(driveOf(sheet)), CR_STATUS_OK);
    EXPECT_EQ(CR_ReadToc(), CR_STATUS_FAIL);
    EXPECT_EQ(CR_GetNumTocEntries(), 0);
    int32_t size = 0;
    EXPECT_EQ(CR_OpenRipper(&size, 0, 10), CR_STATUS_FAIL);
    char why[512];
    ASSERT_EQ(CR_GetDriveStatusText(why, sizeof why), CR_STATUS_OK);
    EXPECT_EQ(std::string(why), GetParam().reason);
}

// A raw file made into another format by the flac tool: `options` say which.
std::string flacOf(const TempFolder& d, const std::string& name, const std::string& options) {
    plainBin(d, "raw.bin", 10, 2);
    const std::string cmd = "flac -s -f --force-raw-format --endian=little --sign=signed " +
                            options + " -o '" + (d / name) + "' '" + (d / "raw.bin") + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return d / name;
}

std::string waveCue(const TempFolder& d, const std::string& file) {
    writeFile(d / "x.cue", "FILE \"" + file + "\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    return d / "x.cue";
}

// A WAVE file of 10 sectors of music with its format chunk changed at `at` to `value`.
std::string patchedWave(const TempFolder& d, size_t at, uint16_t value, size_t cut = 0) {
    std::string error;
    S s;
    s.container = S::Container::Wave;
    DiscSpec plan = discgen::simpleDisc(6, 1, 10);
    EXPECT_TRUE(discgen::writeDisc(d / "w", plan, s, &error)) << error;
    std::string bytes = readFile(d / "w.wav");
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char(value >> 8);
    bytes.resize(bytes.size() - cut);
    writeFile(d / "w.wav", bytes);
    return waveCue(d, "w.wav");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedSheetTest,
    testing::Values(
        // Found 1: a TOC's last FILE runs 83 sectors past its file. Never padded.
        RefusedRow{"TocLengthPastItsFile",
                   [](const TempFolder& d) {
                       plainBin(d, "x.bin", 667, 8);
                       writeFile(d / "x.toc", "CD_DA\n\nTRACK AUDIO\nFILE \"x.bin\" 0 00:04:00\n\n"
                                              "TRACK AUDIO\nFILE \"x.bin\" 00:04:00 00:06:00\n");
                       return d / "x.toc";
                   },
                   // 00:04:00 + 00:06:00 is 750 sectors; the file holds 667.
                   "x.toc:7: x.bin holds 667 sectors (1568784 bytes), the sheet needs 750 sectors "
                   "(1764000 bytes)"},
        RefusedRow{"WaveCutOff",
                   [](const TempFolder& d) { return patchedWave(d, 0, 'R' | 'I' << 8, 1000); },
                   "x.cue:1: w.wav: its WAVE data chunk claims 23520 bytes, the file holds 22520 "
                   "after its header"},
        RefusedRow{"Wave24Bit", [](const TempFolder& d) { return patchedWave(d, 34, 24); },
                   "x.cue:1: w.wav: 24-bit 44100 Hz 2-channel PCM; only 16-bit 44.1 kHz stereo PCM "
                   "is read"},
        RefusedRow{"WaveMono", [](const TempFolder& d) { return patchedWave(d, 22, 1); },
                   "x.cue:1: w.wav: 16-bit 44100 Hz 1-channel PCM; only 16-bit 44.1 kHz stereo PCM "
                   "is read"},
        RefusedRow{
            "WaveFloat", [](const TempFolder& d) { return patchedWave(d, 20, 3); },
            "x.cue:1: w.wav: WAVE format 3 is not PCM; only 16-bit 44.1 kHz stereo PCM is read"},
        RefusedRow{"Flac48kHz",
                   [](const TempFolder& d) {
                       flacOf(d, "x.flac", "--channels=2 --bps=16 --sample-rate=48000");
                       return waveCue(d, "x.flac");
                   },
                   "x.cue:1: x.flac: FLAC of 16-bit 48000 Hz 2-channel audio; only 16-bit 44.1 kHz "
                   "stereo is read"},
        RefusedRow{"FlacMono",
                   [](const TempFolder& d) {
                       flacOf(d, "x.flac", "--channels=1 --bps=16 --sample-rate=44100");
                       return waveCue(d, "x.flac");
                   },
                   "x.cue:1: x.flac: FLAC of 16-bit 44100 Hz 1-channel audio; only 16-bit 44.1 kHz "
                   "stereo is read"},
        RefusedRow{"WaveThatIsNot",
                   [](const TempFolder& d) {
                       plainBin(d, "x.wav", 10, 1);
                       return waveCue(d, "x.wav");
                   },
                   "x.cue:1: x.wav: named as WAVE, but neither a RIFF WAVE nor a FLAC file"}),
    [](const testing::TestParamInfo<RefusedRow>& row) { return std::string(row.param.name); });

// ---- The cue sheet beside a rip, read back ----

// What the library says of the active disc's tracks, as the sheet writer takes it; the
// files named NN.wav.
CueDisc cueOfLibrary() {
    CueDisc disc;
    for (int32_t i = 0; i < CR_GetNumTocEntries(); ++i) {
        const CR_TOCENTRY e = CR_GetTocEntry(i);
        CueTrack t;
        t.Number = e.trackNumber;
        t.Audio = e.flags == CR_TOC_AUDIO;
        t.Start = e.startSector;
        int32_t points[100];
        const int32_t n = CR_GetTrackIndexes(t.Number, points, 100);
        EXPECT_GE(n, 2) << "track " << t.Number;
        if (n >= 2) {
            t.Pregap = points[0];
            EXPECT_EQ(points[1], t.Start);
            t.Indexes.assign(points + 2, points + n);
        }
        const int32_t flags = CR_GetTrackFlags(t.Number);
        EXPECT_GE(flags, 0);
        t.PreEmphasis = flags & CR_FLAG_PRE;
        t.CopyPermitted = flags & CR_FLAG_DCP;
        char name[16];
        std::snprintf(name, sizeof name, "%02d.wav", t.Number);
        t.FileName = name;
        char isrc[CR_ISRC_SIZE];
        EXPECT_EQ(CR_GetTrackIsrc(t.Number, isrc, sizeof isrc), CR_STATUS_OK);
        t.Isrc = isrc;
        disc.Tracks.push_back(t);
    }
    char mcn[CR_MCN_SIZE];
    EXPECT_EQ(CR_GetMcn(mcn, sizeof mcn), CR_STATUS_OK);
    disc.Catalog = mcn;
    return disc;
}

std::string wavOf(const std::string& pcm) {
    std::string h = "RIFF....WAVEfmt ";
    auto put32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k)
            h += char(v >> (8 * k));
    };
    put32(16);
    put32(1 | 2u << 16);
    put32(44100);
    put32(44100 * 4);
    put32(4 | 16u << 16);
    h += "data";
    put32(uint32_t(pcm.size()));
    const uint32_t riff = uint32_t(h.size() - 8 + pcm.size());
    for (int k = 0; k < 4; ++k)
        h[size_t(4 + k)] = char(riff >> (8 * k));
    return h + pcm;
}

// A rip of a disc with pregaps, ISRCs, a catalog number and flags, each track into NN.wav with the
// sheet beside them: read back by the library, the sheet gives the same table of
// contents, index points, codes, flags and disc IDs.
TEST_F(FlacImageTest, CueSheetOfARipReadsBackToTheSameDisc) {
    TempFolder dir("roundtrip");
    DiscSpec plan;
    plan.seed = 12;
    plan.tracks = {{300, 0, false}, {200, 75, false}, {250, 40, false}};
    plan.catalog = "0724384960650";
    plan.isrcs = {"USRC17607839", "", "GBAYE0601498"};
    plan.preEmphasis = {false, true};
    plan.copyPermitted = {true};
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
    startLibrary({dir / "disc.cue"}, nullptr);
    selectDisc(dir / "disc.cue");
    const DiscToc before = libraryToc();
    CueDisc cue = cueOfLibrary();
    ASSERT_EQ(cue.Tracks.size(), 3u);
    for (int32_t i = 0; i < 3; ++i) {
        const RipResult r = rip(cue.Tracks[size_t(i)].Start, trackEnd(i));
        ASSERT_EQ(r.errorCount, 0);
        writeFile(dir / cue.Tracks[size_t(i)].FileName, wavOf(asText(r.bytes)));
    }
    writeFile(dir / "rip.cue", CueSheetText(cue));
    startLibrary({dir / "rip.cue"}, nullptr);
    selectDisc(dir / "rip.cue");
    const DiscToc after = libraryToc();
    ASSERT_EQ(after.Tracks.size(), before.Tracks.size());
    for (size_t i = 0; i < before.Tracks.size(); ++i)
        EXPECT_EQ(after.Tracks[i].Start, before.Tracks[i].Start) << "track " << i + 1;
    EXPECT_EQ(after.LeadOut, before.LeadOut);
    // Tracks at 0, 375 (300 + 75) and 615 (375 + 200 + 40), the lead-out at 865.
    EXPECT_EQ(before.Tracks[1].Start, 375);
    EXPECT_EQ(before.Tracks[2].Start, 615);
    EXPECT_EQ(before.LeadOut, 865);
    EXPECT_EQ(CddbDiscId(after), CddbDiscId(before));
    EXPECT_EQ(AccurateRipDiscIds(after).Text(), AccurateRipDiscIds(before).Text());
    EXPECT_EQ(MusicBrainzDiscId(after), MusicBrainzDiscId(before));
    const CueDisc again = cueOfLibrary();
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(again.Tracks[i].Pregap, cue.Tracks[i].Pregap) << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].PreEmphasis, cue.Tracks[i].PreEmphasis) << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].CopyPermitted, cue.Tracks[i].CopyPermitted) << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].Isrc, plan.isrcs[i]) << "track " << i + 1;
    }
    EXPECT_EQ(again.Catalog, "0724384960650");
    EXPECT_EQ(cue.Tracks[1].Pregap, 300);
    EXPECT_EQ(cue.Tracks[2].Pregap, 575);
    EXPECT_TRUE(cue.Tracks[0].CopyPermitted && cue.Tracks[1].PreEmphasis &&
                !cue.Tracks[2].PreEmphasis);
}

// ---- Audio before track 1 ----

// Read through the library, the audio before track 1's INDEX 01 is told apart from
// digital silence: 150 sectors are 0:02.
TEST_F(FlacImageTest, HiddenAudioIsToldFromSilence) {
    struct Row {
        int32_t hidden;
        bool silent;
        const char* line;
    };
    const Row rows[] = {
        {150, false, "Hidden track: 0:02 (150 sectors) before track 1: audio"},
        {150, true, "Hidden track: 0:02 (150 sectors) before track 1: digital silence"},
        {1, false, "Hidden track: 0:00 (1 sectors) before track 1: audio"},
        {0, false, ""}};
    for (const Row& row : rows) {
        TempFolder dir("hidden");
        DiscSpec plan = threeTracks();
        plan.hiddenSectors = row.hidden;
        plan.hiddenSilent = row.silent;
        std::string error;
        ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
        startLibrary({dir / "disc.cue"}, nullptr);
        selectDisc(dir / "disc.cue");
        EXPECT_EQ(CR_GetTocEntry(0).startSector, row.hidden);
        const HiddenAudio h = FindHiddenAudio(CdRipDll());
        EXPECT_EQ(HiddenAudioLine(h), row.line);
        // The library rips it as it is in the image.
        if (row.hidden > 0) {
            const RipResult r = rip(0, row.hidden - 1);
            EXPECT_TRUE(asText(r.bytes) ==
                        asText(discgen::imageBytes(plan), 0, size_t(row.hidden) * kSector));
        }
    }
}

// ---- velmora-rip writes the sheet beside its files ----

// A disc with pregaps before tracks 2 and 3, ISRCs on tracks 1 and 3, a catalog number
// and both flags: tracks at 0, 375 (300 + 75) and 615 (375 + 200 + 40), lead-out 865.
DiscSpec codedDisc() {
    DiscSpec plan;
    plan.seed = 21;
    plan.tracks = {{300, 0, false}, {200, 75, false}, {250, 40, false}};
    plan.catalog = "0724384960650";
    plan.isrcs = {"USRC17607839", "", "GBAYE0601498"};
    plan.preEmphasis = {false, true};
    plan.copyPermitted = {true};
    return plan;
}

// Runs velmora-rip in `dir` (its settings and caches there, no look-ups) on dir/disc.cue.
RipRun runRip(const TempFolder& dir, std::vector<std::string> args) {
    std::filesystem::create_directories(dir / "config");
    writeFile(dir / "config/velmora-ripper.ini", "");
    std::vector<std::string> all{"rip", "--no-lookup", "--no-accuraterip", "--no-cover", "--format",
                                 "wav", "--out",       dir / "out"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(dir / "disc.cue");
    return WaitRipProgram(
        StartRipProgram(RipProgramPath(), all, RipProgramEnvironment(dir.path()), dir.path()),
        dir.path());
}

// The sheet's REM lines for the disc as it was before the rip.
std::string remLines(const DiscToc& toc, const std::string& program) {
    return "REM DISCID " + Hex8(CddbDiscId(toc)) + "\nREM MUSICBRAINZ_DISCID " +
           MusicBrainzDiscId(toc) + "\nREM ACCURATERIPID " + AccurateRipDiscIds(toc).Text() +
           "\nREM COMMENT \"" + program + "\"\n";
}

// A rip by velmora-rip of the disc above leaves "<album>.cue" beside the WAV files: each
// track's pregap at the end of the previous track's file (track 2's 75 sectors are 4 s
// into the 300 sectors of track 1's file; track 3's 40 are 2 s 50 into the 200 + 75
// less 75 of track 2's); a file name with a double quote stands bare. Read back by the library it
// gives the same table of contents, index points, codes, flags and disc IDs.
TEST_F(FlacImageTest, VelmoraRipWritesACueThatReadsBackToTheSameDisc) {
    TempFolder dir("ripcue");
    const DiscSpec plan = codedDisc();
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
    startLibrary({dir / "disc.cue"}, nullptr);
    selectDisc(dir / "disc.cue");
    const DiscToc before = libraryToc();
    const CueDisc described = cueOfLibrary();
    CR_DeInit();
    const RipRun run =
        runRip(dir, {"--album", "Round Trip", "--artist", "The Band", "--title", "1=12\" Mix"});
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_EQ(readFile(dir / "out/Round Trip.cue"),
              remLines(before, "velmora-rip 2.3.0") +
                  "CATALOG 0724384960650\nPERFORMER \"The Band\"\nTITLE \"Round Trip\"\n"
                  "FILE 12\" Mix.wav WAVE\n  TRACK 01 AUDIO\n    FLAGS DCP\n"
                  "    ISRC USRC17607839\n    TITLE \"12' Mix\"\n    INDEX 01 00:00:00\n"
                  "  TRACK 02 AUDIO\n    FLAGS PRE\n    TITLE \"Track02\"\n    INDEX 00 00:04:00\n"
                  "FILE \"Track02.wav\" WAVE\n    INDEX 01 00:00:00\n"
                  "  TRACK 03 AUDIO\n    ISRC GBAYE0601498\n    TITLE \"Track03\"\n"
                  "    INDEX 00 00:02:50\nFILE \"Track03.wav\" WAVE\n    INDEX 01 00:00:00\n");
    const std::string log = readFile(dir / "out/Round Trip.log");
    EXPECT_THAT(log, HasSubstr("  Cue sheet: Round Trip.cue\n"));
    EXPECT_EQ(log.find("Gaps"), std::string::npos);
    startLibrary({dir / "out/Round Trip.cue"}, nullptr);
    selectDisc(dir / "out/Round Trip.cue");
    const DiscToc after = libraryToc();
    ASSERT_EQ(after.Tracks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(after.Tracks[i].Start, before.Tracks[i].Start) << "track " << i + 1;
        EXPECT_TRUE(after.Tracks[i].Audio) << "track " << i + 1;
    }
    EXPECT_EQ(before.Tracks[1].Start, 375);
    EXPECT_EQ(before.Tracks[2].Start, 615);
    EXPECT_EQ(after.LeadOut, 865);
    EXPECT_EQ(CddbDiscId(after), CddbDiscId(before));
    EXPECT_EQ(AccurateRipDiscIds(after).Text(), AccurateRipDiscIds(before).Text());
    EXPECT_EQ(MusicBrainzDiscId(after), MusicBrainzDiscId(before));
    const CueDisc again = cueOfLibrary();
    EXPECT_EQ(again.Catalog, "0724384960650");
    ASSERT_EQ(again.Tracks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(again.Tracks[i].Isrc, plan.isrcs[i]) << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].Pregap, described.Tracks[i].Pregap) << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].Indexes, described.Tracks[i].Indexes) << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].PreEmphasis, described.Tracks[i].PreEmphasis)
            << "track " << i + 1;
        EXPECT_EQ(again.Tracks[i].CopyPermitted, described.Tracks[i].CopyPermitted)
            << "track " << i + 1;
    }
    EXPECT_EQ(described.Tracks[1].Pregap, 300);
    EXPECT_EQ(described.Tracks[2].Pregap, 575);
    // The audio read back is the disc's, track by track.
    for (int32_t i = 0; i < 3; ++i) {
        const RipResult r = rip(after.Tracks[size_t(i)].Start, trackEnd(i));
        EXPECT_EQ(r.errorCount, 0);
        const size_t from = size_t(before.Tracks[size_t(i)].Start) * kSector;
        EXPECT_TRUE(asText(r.bytes) == asText(discgen::imageBytes(plan), from, r.bytes.size()))
            << "track " << i + 1;
    }
}

// On a drive (the emulated one, through libcdio as a real drive is read) no index points
// are reported: the sheet says the gaps were not detected, as the log does, and gives
// every track a file of its own from its INDEX 01, which still reads back to the same
// table of contents and disc IDs; the codes come from the sub-channel.
TEST_F(FlacImageTest, DriveWithoutIndexPointsSaysGapsWereNotDetected) {
    TempFolder dir("cuedrive");
    const DiscSpec plan = codedDisc();
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
    startLibrary({dir / "disc.cue"}, nullptr);
    selectDisc(dir / "disc.cue");
    const DiscToc before = libraryToc();
    CR_DeInit();
    std::filesystem::create_directories(dir / "config");
    writeFile(dir / "config/velmora-ripper.ini", "");
    const std::string bin = std::filesystem::path(RipProgramPath()).parent_path().string();
    const RipRun run = WaitRipProgram(
        StartRipProgram(bin + "/emudrive-run",
                        {"cue=" + dir / "disc.cue", "--", RipProgramPath(), "rip", "--no-lookup",
                         "--no-accuraterip", "--no-cover", "--format", "wav", "--out", dir / "out",
                         "--album", "D"},
                        RipProgramEnvironment(dir.path()), dir.path()),
        dir.path());
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_EQ(readFile(dir / "out/D.cue"),
              remLines(before, "velmora-rip 2.3.0") +
                  "REM GAPS \"not detected: the drive reported no index points\"\n"
                  "CATALOG 0724384960650\nTITLE \"D\"\n"
                  "FILE \"Track01.wav\" WAVE\n  TRACK 01 AUDIO\n    ISRC USRC17607839\n"
                  "    TITLE \"Track01\"\n    INDEX 01 00:00:00\n"
                  "FILE \"Track02.wav\" WAVE\n  TRACK 02 AUDIO\n    TITLE \"Track02\"\n"
                  "    INDEX 01 00:00:00\n"
                  "FILE \"Track03.wav\" WAVE\n  TRACK 03 AUDIO\n    ISRC GBAYE0601498\n"
                  "    TITLE \"Track03\"\n    INDEX 01 00:00:00\n");
    EXPECT_THAT(readFile(dir / "out/D.log"),
                HasSubstr("  Gaps: not detected: the drive reported no index points\n"
                          "  Cue sheet: D.cue\n"));
    startLibrary({dir / "out/D.cue"}, nullptr);
    selectDisc(dir / "out/D.cue");
    const DiscToc after = libraryToc();
    ASSERT_EQ(after.Tracks.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(after.Tracks[i].Start, before.Tracks[i].Start) << "track " << i + 1;
    EXPECT_EQ(after.LeadOut, 865);
    EXPECT_EQ(AccurateRipDiscIds(after).Text(), AccurateRipDiscIds(before).Text());
    EXPECT_EQ(MusicBrainzDiscId(after), MusicBrainzDiscId(before));
}

// What is under the sheet's name before the rip, and what the rip leaves there.
struct SheetNameRow {
    const char* name;
    std::string before;             // the file at "<album>.cue"; "" for none
    std::vector<std::string> extra; // more options
    std::string keptName;           // the sheet's name after the rip
    bool replaced;                  // "<album>.cue" holds the new sheet
};

void PrintTo(const SheetNameRow& row, std::ostream* os) {
    *os << row.name;
}

class SheetNameTest : public FlacImageTest, public testing::WithParamInterface<SheetNameRow> {};

// A sheet of ours is replaced by the next rip's; another file only with --overwrite,
// else the sheet takes the log's next name.
TEST_P(SheetNameTest, NeverReplacesAnotherFileWithoutOverwrite) {
    const SheetNameRow& row = GetParam();
    TempFolder dir("cuename");
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", codedDisc(), &error)) << error;
    std::filesystem::create_directories(dir / "out");
    if (!row.before.empty())
        writeFile(dir / "out/A.cue", row.before);
    std::vector<std::string> args{"--album", "A"};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    const RipRun run = runRip(dir, args);
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    const std::string sheet = readFile(dir / ("out/" + row.keptName));
    EXPECT_THAT(sheet, HasSubstr("REM COMMENT \"velmora-rip 2.3.0\"\nCATALOG 0724384960650\n"));
    EXPECT_THAT(sheet, HasSubstr("FILE \"Track03.wav\" WAVE\n"));
    if (row.replaced)
        EXPECT_EQ(row.keptName, "A.cue");
    else
        EXPECT_EQ(readFile(dir / "out/A.cue"), row.before);
    EXPECT_THAT(readFile(dir / "out/A.log"), HasSubstr("  Cue sheet: " + row.keptName + "\n"));
    EXPECT_EQ(std::filesystem::exists(dir / "out/A (3).cue"), false);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SheetNameTest,
    testing::Values(SheetNameRow{"Free", "", {}, "A.cue", true},
                    SheetNameRow{"OursIsReplaced",
                                 "REM DISCID 00000000\nREM COMMENT \"velmora-ripper 2.2\"\n",
                                 {},
                                 "A.cue",
                                 true},
                    SheetNameRow{
                        "AnotherFileIsKept", "FILE \"mine.bin\" BINARY\n", {}, "A (2).cue", false},
                    // Not ours: the comment line is not in the sheet's head of REM lines.
                    SheetNameRow{"OurCommentLaterIsNotOurs",
                                 "TITLE \"x\"\nREM COMMENT \"velmora-rip\"\n",
                                 {},
                                 "A (2).cue",
                                 false},
                    SheetNameRow{"AnotherFileWithOverwrite",
                                 "FILE \"mine.bin\" BINARY\n",
                                 {"--overwrite"},
                                 "A.cue",
                                 true}),
    [](const testing::TestParamInfo<SheetNameRow>& row) { return std::string(row.param.name); });

// A track that was refused (its file exists) is not in the sheet; the next track's pregap,
// which lay in the refused track's file, becomes PREGAP silence, so that the sheet
// describes the files there are.
TEST_F(FlacImageTest, RefusedTrackIsLeftOutOfTheSheet) {
    TempFolder dir("cuepart");
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", codedDisc(), &error)) << error;
    std::filesystem::create_directories(dir / "out");
    writeFile(dir / "out/Track02.wav", "mine");
    const RipRun run = runRip(dir, {"--album", "A"});
    ASSERT_EQ(run.Code, 1) << run.Out << run.Err;
    const std::string sheet = readFile(dir / "out/A.cue");
    const std::string tracks = sheet.substr(sheet.find("FILE "));
    EXPECT_EQ(tracks, "FILE \"Track01.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS DCP\n"
                      "    ISRC USRC17607839\n    TITLE \"Track01\"\n    INDEX 01 00:00:00\n"
                      "FILE \"Track03.wav\" WAVE\n  TRACK 03 AUDIO\n    ISRC GBAYE0601498\n"
                      "    TITLE \"Track03\"\n    PREGAP 00:00:40\n    INDEX 01 00:00:00\n");
    EXPECT_EQ(readFile(dir / "out/Track02.wav"), "mine");
}

// ---- The hidden track, ripped as track 0 ----

struct HiddenRow {
    const char* name;
    bool silent;                    // the 150 sectors before track 1 are digital silence
    std::vector<std::string> extra; // options
    std::string settings;           // the settings file
    std::string file;               // the hidden track's file; "" for none
    std::string logLine;            // the log's "Hidden track" line
};

void PrintTo(const HiddenRow& row, std::ostream* os) {
    *os << row.name;
}

class HiddenTrackTest : public FlacImageTest, public testing::WithParamInterface<HiddenRow> {};

// Audio before track 1 is always named in the log; asked for (--hidden-track or
// HiddenTrack=1), and unless it is digital silence, it is ripped first as track 0, the
// exact sectors 0 to 149 of the disc, and its file holds track 1's INDEX 00 in the sheet,
// which reads back to the same table of contents.
TEST_P(HiddenTrackTest, RippedAsTrackZeroWhenAskedFor) {
    const HiddenRow& row = GetParam();
    TempFolder dir("hiddenrip");
    DiscSpec plan = codedDisc();
    plan.hiddenSectors = 150;
    plan.hiddenSilent = row.silent;
    std::string error;
    ASSERT_TRUE(discgen::writeDisc(dir / "disc", plan, &error)) << error;
    std::filesystem::create_directories(dir / "config");
    std::vector<std::string> args{"--album", "A"};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    std::vector<std::string> all{"rip", "--no-lookup", "--no-accuraterip", "--no-cover", "--format",
                                 "wav", "--out",       dir / "out"};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(dir / "disc.cue");
    writeFile(dir / "config/velmora-ripper.ini", row.settings);
    const RipRun run = WaitRipProgram(
        StartRipProgram(RipProgramPath(), all, RipProgramEnvironment(dir.path()), dir.path()),
        dir.path());
    ASSERT_EQ(run.Code, 0) << run.Out << run.Err;
    const std::string log = readFile(dir / "out/A.log");
    EXPECT_THAT(
        log, HasSubstr("  Hidden track: 0:02 (150 sectors) before track 1: " + row.logLine + "\n"));
    const std::string sheet = readFile(dir / "out/A.cue");
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
        files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    std::vector<std::string> expected{"A.cue", "A.log", "Track01.wav", "Track02.wav",
                                      "Track03.wav"};
    if (!row.file.empty()) {
        expected.push_back(row.file);
        std::sort(expected.begin(), expected.end());
        const std::string wav = readFile(dir / ("out/" + row.file));
        ASSERT_EQ(wav.size(), 44 + 150 * kSector);
        EXPECT_TRUE(wav.substr(44) == asText(discgen::imageBytes(plan), 0, 150 * kSector));
        EXPECT_THAT(log, HasSubstr("Track 0\n  File: " + dir.path() + "/out/" + row.file + "\n"));
        EXPECT_THAT(sheet, HasSubstr("FILE \"" + row.file +
                                     "\" WAVE\n  TRACK 01 AUDIO\n    FLAGS DCP\n"
                                     "    ISRC USRC17607839\n    TITLE \"Track01\"\n"
                                     "    INDEX 00 00:00:00\nFILE \"Track01.wav\" WAVE\n"
                                     "    INDEX 01 00:00:00\n"));
        EXPECT_THAT(run.Out, HasSubstr("4 exact, 0 damaged, 0 failed\n"));
    } else {
        EXPECT_EQ(log.find("Track 0\n"), std::string::npos);
        // Not ripped, the audio before track 1 is silence the sheet declares.
        EXPECT_THAT(sheet, HasSubstr("FILE \"Track01.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS DCP\n"
                                     "    ISRC USRC17607839\n    TITLE \"Track01\"\n"
                                     "    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"));
        EXPECT_THAT(run.Out, HasSubstr("3 exact, 0 damaged, 0 failed\n"));
    }
    EXPECT_EQ(files, expected);
    // Read back, the sheet gives track 1 at 150 again and the same disc IDs.
    startLibrary({dir / "disc.cue"}, nullptr);
    selectDisc(dir / "disc.cue");
    const DiscToc before = libraryToc();
    startLibrary({dir / "out/A.cue"}, nullptr);
    selectDisc(dir / "out/A.cue");
    const DiscToc after = libraryToc();
    ASSERT_EQ(after.Tracks.size(), 3u);
    EXPECT_EQ(after.Tracks[0].Start, 150);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(after.Tracks[i].Start, before.Tracks[i].Start) << "track " << i + 1;
    EXPECT_EQ(after.LeadOut, before.LeadOut);
    EXPECT_EQ(AccurateRipDiscIds(after).Text(), AccurateRipDiscIds(before).Text());
    const HiddenAudio again = FindHiddenAudio(CdRipDll());
    EXPECT_EQ(again.Sectors, 150);
    EXPECT_TRUE(again.Read);
    // Ripped, the hidden track's audio is back; not ripped, it is silence.
    EXPECT_EQ(again.Silent, row.silent || row.file.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HiddenTrackTest,
    testing::Values(
        HiddenRow{"AskedFor",
                  false,
                  {"--hidden-track"},
                  "",
                  "Hidden track.wav",
                  "audio; ripped as track 0"},
        HiddenRow{
            "NotAskedFor", false, {}, "", "", "audio; not ripped (--hidden-track, HiddenTrack=1)"},
        HiddenRow{"SettingAndTitle",
                  false,
                  {"--title", "0=Intro"},
                  "[System]\nHiddenTrack=1\n",
                  "Intro.wav",
                  "audio; ripped as track 0"},
        HiddenRow{"SilenceIsNotRipped", true, {"--hidden-track"}, "", "", "digital silence"}),
    [](const testing::TestParamInfo<HiddenRow>& row) { return std::string(row.param.name); });

} // namespace
} // namespace cdriptest
