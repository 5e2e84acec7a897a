// The MusicBrainz disc ID through libdiscid and the table of contents it is made from.
#include "metadata/DiscId.h"

#include <gtest/gtest.h>

namespace {

using Metadata::DiscToc;
using Metadata::TocTrack;

// The example of the MusicBrainz web service documentation: a twelve-track disc whose
// disc ID is I5l9cCSFccLKFEKS.7wqSZAorPU- (offsets and lead-out with the 150-sector
// lead-in).
const std::vector<int> ExampleOffsets = {150,    22767,  41887,  58317,  72102,  91375,
                                         104652, 115380, 132165, 143932, 159870, 174597};
constexpr int ExampleLeadOut = 267257;
constexpr const char* ExampleId = "I5l9cCSFccLKFEKS.7wqSZAorPU-";

std::vector<TocTrack> ExampleTracks() {
    std::vector<TocTrack> tracks;
    for (int offset : ExampleOffsets)
        tracks.push_back({offset - 150, true});
    return tracks;
}

TEST(DiscId, PublishedExample) {
    EXPECT_EQ(Metadata::MusicBrainzDiscId(1, ExampleLeadOut, ExampleOffsets), ExampleId);
}

TEST(DiscId, TocFromTheTrackTable) {
    // Logical sector numbers: the lead-out starts at 267257 - 150.
    const DiscToc toc = Metadata::MusicBrainzToc(ExampleTracks(), ExampleLeadOut - 150);
    EXPECT_EQ(toc.Offsets, ExampleOffsets);
    EXPECT_EQ(toc.LeadOut, ExampleLeadOut);
    EXPECT_EQ(toc.Last(), 12);
    EXPECT_EQ(Metadata::MusicBrainzDiscId(toc), ExampleId);
    EXPECT_EQ(Metadata::TocQuery(toc), "1+12+267257+150+22767+41887+58317+72102+91375+104652+"
                                       "115380+132165+143932+159870+174597");
    // Track 1: 22767 - 150 sectors = 22617 / 75 s = 301.56 s.
    EXPECT_EQ(toc.TrackMs(0), 301560);
    EXPECT_EQ(toc.TrackMs(11), int64_t(267257 - 174597) * 1000 / 75);
    EXPECT_EQ(toc.TrackMs(12), 0);
}

TEST(DiscId, EnhancedCdLeavesItsDataTrackOut) {
    // A data session starting 11400 sectors after the audio's lead-out: same disc ID.
    std::vector<TocTrack> tracks = ExampleTracks();
    tracks.push_back({ExampleLeadOut - 150 + 11400, false});
    const DiscToc toc = Metadata::MusicBrainzToc(tracks, 400000);
    EXPECT_EQ(toc.Offsets.size(), 12u);
    EXPECT_EQ(toc.LeadOut, ExampleLeadOut);
    EXPECT_EQ(Metadata::MusicBrainzDiscId(toc), ExampleId);
}

TEST(DiscId, DataTrackInTheSameSession) {
    // Audio at 0 and 1500, data at 3150 after a 150-sector pregap: no room for 11400
    // sectors between the sessions, so the audio ends where the data starts.
    const DiscToc toc = Metadata::MusicBrainzToc({{0, true}, {1500, true}, {3150, false}}, 3900);
    EXPECT_EQ(toc.Offsets, (std::vector<int>{150, 1650}));
    EXPECT_EQ(toc.LeadOut, 3150 + 150);
    EXPECT_NE(Metadata::MusicBrainzDiscId(toc), "");
}

TEST(DiscId, DataOnlyDiscHasNoId) {
    const DiscToc toc = Metadata::MusicBrainzToc({{0, false}}, 5000);
    EXPECT_TRUE(toc.Offsets.empty());
    EXPECT_EQ(Metadata::MusicBrainzDiscId(toc), "");
}

TEST(DiscId, ImpossibleTablesAreRefused) {
    EXPECT_EQ(Metadata::MusicBrainzDiscId(1, 1000, {}), "");
    EXPECT_EQ(Metadata::MusicBrainzDiscId(0, 1000, {150}), "");
    EXPECT_EQ(Metadata::MusicBrainzDiscId(1, 1000, std::vector<int>(100, 150)), "");
    EXPECT_EQ(Metadata::MusicBrainzDiscId(99, 1000, {150, 300}), ""); // track 100
    EXPECT_EQ(Metadata::MusicBrainzDiscId(1, 100, {150}), "");        // lead-out first
    EXPECT_NE(Metadata::MusicBrainzDiscId(1, 1000, {150}), "");
}

} // namespace
