// The cue sheet beside a rip, as text: every line of a table of discs.
#include "cdaccess/CueSheet.h"

#include <gtest/gtest.h>

namespace {

struct CueCase {
    const char* name;
    CueDisc disc;
    std::string expected;
};

void PrintTo(const CueCase& c, std::ostream* os) {
    *os << c.name;
}

CueTrack track(int number, int32_t pregap, int32_t start, const char* file) {
    CueTrack t;
    t.Number = number;
    t.Pregap = pregap;
    t.Start = start;
    t.FileName = file;
    return t;
}

CueDisc threeTracks() {
    CueDisc d;
    d.CddbId = "12001303";
    d.MusicBrainzId = "abc-";
    d.AccurateRipId = "003-00000bea-000027a7-12001303";
    d.Program = "Velmora MP3 CD Ripper 2.3.0";
    d.Catalog = "0724384960650";
    d.Title = "Say \"Hi\"";
    d.Performer = "Band";
    d.Tracks = {track(1, 0, 0, "01 One.wav"), track(2, 300, 450, "02 Two.wav"),
                track(3, 1150, 1150, "03 Three.wav")};
    d.Tracks[0].Title = "One";
    d.Tracks[0].PreEmphasis = true;
    d.Tracks[1].Isrc = "USRC17607839";
    d.Tracks[1].CopyPermitted = true;
    d.Tracks[1].Indexes = {500};
    d.Tracks[2].Performer = "Guest";
    return d;
}

const char* const kHead = "REM DISCID 12001303\nREM MUSICBRAINZ_DISCID abc-\n"
                          "REM ACCURATERIPID 003-00000bea-000027a7-12001303\n"
                          "REM COMMENT \"Velmora MP3 CD Ripper 2.3.0\"\n";

class CueSheetTest : public testing::TestWithParam<CueCase> {};

TEST_P(CueSheetTest, Text) {
    EXPECT_EQ(CueSheetText(GetParam().disc), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CueSheetTest,
    testing::Values(
        // Track 2's INDEX 00 at 300 lies in track 1's file (300 sectors in: 00:04:00), its
        // INDEX 02 at 500 is 50 sectors into its own file.
        CueCase{
            "PregapInThePreviousFile", threeTracks(),
            std::string(kHead) +
                "CATALOG 0724384960650\nPERFORMER \"Band\"\nTITLE \"Say 'Hi'\"\n"
                "FILE \"01 One.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS PRE\n    TITLE \"One\"\n"
                "    INDEX 01 00:00:00\n"
                "  TRACK 02 AUDIO\n    FLAGS DCP\n    ISRC USRC17607839\n    INDEX 00 00:04:00\n"
                "FILE \"02 Two.wav\" WAVE\n    INDEX 01 00:00:00\n    INDEX 02 00:00:50\n"
                "FILE \"03 Three.wav\" WAVE\n  TRACK 03 AUDIO\n    PERFORMER \"Guest\"\n"
                "    INDEX 01 00:00:00\n"},
        CueCase{"GapsNotDetected",
                [] {
                    CueDisc d;
                    d.GapsKnown = false;
                    d.FileType = "MP3";
                    d.Tracks = {track(1, -1, 0, "a.mp3"), track(2, -1, 300, "b.mp3")};
                    return d;
                }(),
                "REM GAPS \"not detected: the drive reported no index points\"\n"
                "FILE \"a.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "FILE \"b.mp3\" MP3\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
        CueCase{"HiddenTrackInItsOwnFile",
                [] {
                    CueDisc d;
                    d.HiddenFile = "00 Hidden track.wav";
                    d.Tracks = {track(1, 0, 150, "01.wav")};
                    return d;
                }(),
                "FILE \"00 Hidden track.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                "FILE \"01.wav\" WAVE\n    INDEX 01 00:00:00\n"},
        CueCase{
            "AudioBeforeTrackOneNotRippedIsSilence",
            [] {
                CueDisc d;
                d.Tracks = {track(1, 0, 150, "01.wav")};
                return d;
            }(),
            "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"},
        CueCase{
            "TrackAfterOneNotRippedGetsItsGapAsSilence",
            [] {
                CueDisc d;
                d.Tracks = {track(1, 0, 0, "01.wav"), track(2, 300, 300, ""),
                            track(3, 600, 675, "03.wav")};
                return d;
            }(),
            "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "FILE \"03.wav\" WAVE\n  TRACK 03 AUDIO\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n"},
        // A file name with a double quote stands bare: the reader joins the words.
        CueCase{"FileNameWithAQuoteStandsBare",
                [] {
                    CueDisc d;
                    d.Tracks = {track(1, 0, 0, "12\" Mix.wav")};
                    d.Tracks[0].Title = "12\" Mix";
                    return d;
                }(),
                "FILE 12\" Mix.wav WAVE\n  TRACK 01 AUDIO\n    TITLE \"12' Mix\"\n"
                "    INDEX 01 00:00:00\n"},
        CueCase{"DataTrackLeftOut",
                [] {
                    CueDisc d;
                    d.Tracks = {track(1, 0, 0, "01.wav"), track(2, 300, 450, "data")};
                    d.Tracks[1].Audio = false;
                    return d;
                }(),
                "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"}),
    [](const auto& row) { return std::string(row.param.name); });

struct NameCase {
    const char* name;
    std::string file;
    bool fits;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class CueFileNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(CueFileNameTest, Fits) {
    EXPECT_EQ(CueFileNameFits(GetParam().file), GetParam().fits);
}

INSTANTIATE_TEST_SUITE_P(Rows, CueFileNameTest,
                         testing::Values(NameCase{"Plain", "01 One.wav", true},
                                         NameCase{"QuoteInsideAWord", "12\" Mix.wav", true},
                                         NameCase{"QuoteAtTheEnd", "Mix 12\"", true},
                                         NameCase{"QuoteStartsAWord", "Say \"Hi\".wav", false},
                                         NameCase{"QuoteFirst", "\"Hi\".wav", false},
                                         NameCase{"QuoteAndTwoSpaces", "12\"  Mix.wav", false},
                                         NameCase{"QuoteAndATab", "12\"\tMix.wav", false},
                                         NameCase{"QuoteAndALeadingSpace", " 12\".wav", false},
                                         NameCase{"TwoSpacesWithoutAQuote", "a  b.wav", true},
                                         NameCase{"LineBreak", "a\nb.wav", false},
                                         NameCase{"CarriageReturn", "a\rb.wav", false},
                                         NameCase{"Empty", "", false}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
