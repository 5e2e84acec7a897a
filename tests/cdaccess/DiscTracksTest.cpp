// The one record of a disc's tracks, built from the table of contents as the library
// gives it, and the one rule for the lengths shown.
#include "ripjob/DiscTracks.h"

#include <gtest/gtest.h>

namespace {

struct LayoutRow {
    const char* name;
    std::vector<TocEntryFigures> entries;
    TocEntryFigures leadOut;
    std::vector<DiscTrack> expected;
    int firstAudio, lastAudio;
    int32_t hidden; // sectors of the hidden track before track 1 (track 0); 0: none
};

void PrintTo(const LayoutRow& row, std::ostream* os) {
    *os << row.name;
}

constexpr TrackKind A = TrackKind::Audio;
constexpr TrackKind D = TrackKind::Data;

class DiscTracksLayout : public testing::TestWithParam<LayoutRow> {};

TEST_P(DiscTracksLayout, EveryFieldOfEveryTrack) {
    const LayoutRow& row = GetParam();
    const DiscTracks disc = BuildDiscTracks(row.entries, row.leadOut);
    EXPECT_EQ(disc.LeadOut, row.leadOut.Start);
    ASSERT_EQ(disc.Count(), static_cast<int>(row.expected.size()));
    for (std::size_t i = 0; i < row.expected.size(); ++i) {
        SCOPED_TRACE("track " + std::to_string(i + 1));
        const DiscTrack& t = disc.Tracks[i];
        const DiscTrack& e = row.expected[i];
        EXPECT_EQ(t.Number, e.Number);
        EXPECT_EQ(t.Kind, e.Kind);
        EXPECT_EQ(t.FirstSector, e.FirstSector);
        EXPECT_EQ(t.LastSector, e.LastSector);
        EXPECT_EQ(t.FirstAudio, e.FirstAudio);
        EXPECT_EQ(t.LastAudio, e.LastAudio);
        EXPECT_EQ(t.LastBeforeGap, e.LastBeforeGap);
        EXPECT_EQ(disc.Find(e.Number), &t);
    }
    if (row.hidden == 0) {
        EXPECT_EQ(disc.Find(0), nullptr);
        EXPECT_EQ(disc.Hidden.AudioSectors(), 0);
    } else {
        const DiscTrack* h = disc.Find(0);
        ASSERT_EQ(h, &disc.Hidden);
        EXPECT_EQ(h->Number, 0);
        EXPECT_EQ(h->Kind, A);
        EXPECT_EQ(h->FirstSector, 0);
        EXPECT_EQ(h->LastSector, row.hidden - 1);
        EXPECT_EQ(h->FirstAudio, 0);
        EXPECT_EQ(h->LastAudio, row.hidden - 1);
        EXPECT_EQ(h->LastBeforeGap, row.hidden - 1);
        EXPECT_EQ(h->AudioSectors(), row.hidden);
    }
    EXPECT_EQ(disc.Find(-1), nullptr);
    EXPECT_EQ(disc.Find(disc.Count() + 1), nullptr);
    EXPECT_EQ(disc.FirstAudioNumber(), row.firstAudio);
    EXPECT_EQ(disc.LastAudioNumber(), row.lastAudio);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DiscTracksLayout,
    testing::Values(
        // Two audio tracks: each one's audio is its whole extent.
        LayoutRow{"AudioOnly",
                  {{0, 0, true}, {900, 0, true}},
                  {1600, 0, false},
                  {{1, A, 0, 899, 0, 899, 899}, {2, A, 900, 1599, 900, 1599, 1599}},
                  1,
                  2,
                  0},
        // An image's Enhanced CD: the data track's 150-sector pregap is no track's audio.
        LayoutRow{"DataTrackOnAnImage",
                  {{0, 0, true}, {900, 0, true}, {1750, 150, false}},
                  {2050, 0, false},
                  {{1, A, 0, 899, 0, 899, 899},
                   {2, A, 900, 1749, 900, 1599, 1599},
                   {3, D, 1750, 2049, 1750, 1749, 2049}},
                  1,
                  2,
                  0},
        // Two sessions: 11,400 sectors (the data pregap, the first session's lead-out and
        // the second's lead-in) between the last audio sector and the data track.
        LayoutRow{"SecondSession",
                  {{0, 0, true}, {13050, 11400, false}},
                  {20000, 0, false},
                  {{1, A, 0, 13049, 0, 1649, 1649}, {2, D, 13050, 19999, 13050, 13049, 19999}},
                  1,
                  1,
                  0},
        // A data track first (mixed mode): the audio after it starts at its own start.
        LayoutRow{"DataFirst",
                  {{0, 0, false}, {4000, 0, true}},
                  {5000, 0, false},
                  {{1, D, 0, 3999, 0, -1, 3999}, {2, A, 4000, 4999, 4000, 4999, 4999}},
                  2,
                  2,
                  0},
        // Audio before track 1's start: the hidden track, sectors 0 to 149.
        LayoutRow{"HiddenTrackBeforeTrackOne",
                  {{150, 0, true}, {900, 0, true}},
                  {1600, 0, false},
                  {{1, A, 150, 899, 150, 899, 899}, {2, A, 900, 1599, 900, 1599, 1599}},
                  1,
                  2,
                  150},
        // The limit: one sector before track 1 is a hidden track (start 0 is none, above).
        LayoutRow{"OneSectorBeforeTrackOne",
                  {{1, 0, true}},
                  {900, 0, false},
                  {{1, A, 1, 899, 1, 899, 899}},
                  1,
                  1,
                  1},
        // A data track first after sector 0: no audio before it.
        LayoutRow{"DataFirstAfterSectorZero",
                  {{150, 0, false}, {4000, 0, true}},
                  {5000, 0, false},
                  {{1, D, 150, 3999, 150, 149, 3999}, {2, A, 4000, 4999, 4000, 4999, 4999}},
                  2,
                  2,
                  0},
        LayoutRow{"NoTracks", {}, {0, 0, false}, {}, 0, 0, 0}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(DiscTracksLayout, SectorCounts) {
    const DiscTracks disc =
        BuildDiscTracks({{0, 0, true}, {900, 0, true}, {1750, 150, false}}, {2050, 0, false});
    EXPECT_EQ(disc.Tracks[1].Sectors(), 850);
    EXPECT_EQ(disc.Tracks[1].AudioSectors(), 700);
    EXPECT_EQ(disc.Tracks[1].ShownSectors(), 700);
    EXPECT_EQ(disc.Tracks[2].AudioSectors(), 0);
    EXPECT_EQ(disc.Tracks[2].ShownSectors(), 300);
}

struct LengthRow {
    const char* name;
    int64_t sectors;
    const char* text;
};

class LengthRule : public testing::TestWithParam<LengthRow> {};

// Whole seconds, the fraction cut off, in sectors and in seconds alike.
TEST_P(LengthRule, CutToWholeSeconds) {
    EXPECT_EQ(LengthText(GetParam().sectors), GetParam().text);
    EXPECT_EQ(LengthTextOfSeconds(GetParam().sectors / 75.0), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Rows, LengthRule,
                         testing::Values(LengthRow{"Zero", 0, "0:00"},
                                         LengthRow{"Negative", -75, "0:00"},
                                         LengthRow{"JustBelowOneSecond", 74, "0:00"},
                                         LengthRow{"OneSecond", 75, "0:01"},
                                         // 2000 sectors are 26.67 s
                                         LengthRow{"TwoThousandSectors", 2000, "0:26"},
                                         LengthRow{"JustBelowAMinute", 4499, "0:59"},
                                         LengthRow{"OneMinute", 4500, "1:00"},
                                         LengthRow{"LongTrack", 80 * 4500 + 74, "80:00"}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
