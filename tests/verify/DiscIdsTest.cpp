#include "verify/DiscIds.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A table of contents given as published: start offsets from the disc start (LBA,
// track 1 normally at 150), a lead-out, and which tracks hold data.
struct DiscCase {
    std::string Name;
    std::vector<int32_t> Lba;
    int32_t LeadOutLba;
    std::vector<int> DataTracks; // 1-based
    std::string AccurateRip;     // empty: not published
    std::string Cddb;
    std::string MusicBrainz; // empty: not published
};

DiscToc TocOf(const DiscCase& c) {
    DiscToc toc;
    for (std::size_t i = 0; i < c.Lba.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const bool data =
            std::find(c.DataTracks.begin(), c.DataTracks.end(), number) != c.DataTracks.end();
        toc.Tracks.push_back({c.Lba[i] - kLeadInSectors, !data});
    }
    toc.LeadOut = c.LeadOutLba - kLeadInSectors;
    return toc;
}

class DiscIds : public testing::TestWithParam<DiscCase> {};

TEST_P(DiscIds, MatchPublishedValues) {
    const DiscCase& c = GetParam();
    const DiscToc toc = TocOf(c);
    EXPECT_EQ(Hex8(CddbDiscId(toc)), c.Cddb);
    if (!c.AccurateRip.empty()) {
        EXPECT_EQ(AccurateRipDiscIds(toc).Text(), c.AccurateRip);
    }
    if (!c.MusicBrainz.empty()) {
        EXPECT_EQ(MusicBrainzDiscId(toc), c.MusicBrainz);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Published, DiscIds,
    testing::Values(
        // The four-track example of the AccurateRip ID format.
        DiscCase{"FourAudioTracks",
                 {150, 11563, 25174, 45863},
                 55370,
                 {},
                 "004-0002189a-00087f33-1f02e004",
                 "1f02e004",
                 ""},
        // An Enhanced CD (ten audio tracks, then a data track in a second session): the
        // AccurateRip IDs count the real lead-out (333651 + 150), the CDDB ID all eleven
        // tracks, and the MusicBrainz ID ends the audio 11400 sectors before the data
        // track (sectors 270335). Values as dBpoweramp, EAC and MusicBrainz publish
        // them for "Liquid" by Recoil.
        DiscCase{"EnhancedCd",
                 {150, 12767, 40487, 63225, 93410, 118115, 151865, 184340, 215260, 247455, 281735},
                 333801,
                 {11},
                 "010-00164419-00b9f6e2-9e11600b",
                 "9e11600b",
                 "9AQWqQ0eCCwktwPPrIUIYkUw2Uo-"},
        // A mixed-mode CD (data track first, 28 audio tracks): only the audio tracks
        // count, numbered 1 to 28, as EAC computes "Mortal Kombat Trilogy".
        DiscCase{"MixedModeCd",
                 {150,    66728,  76502,  85963,  93760,  104048, 116066, 124743, 134206, 142916,
                  151852, 160720, 169425, 178731, 188459, 196711, 206354, 214845, 223686, 225746,
                  226384, 232668, 239447, 239931, 244989, 254264, 260066, 261222, 261674},
                 261976,
                 {1},
                 "028-00517a54-05a845d2-af0da31d",
                 "af0da31d",
                 ""},
        // A ten-track audio CD from a published rip log (MusicBrainz TOC
        // "1 10 181450 150 22252 ...").
        DiscCase{"TenAudioTracks",
                 {150, 22252, 56042, 70572, 84872, 97275, 114635, 131212, 148077, 163817},
                 181450,
                 {},
                 "",
                 "9409710a",
                 "6RUIx_6VkCmJ2VlmKb.IaINLagY-"}),
    [](const testing::TestParamInfo<DiscCase>& row) { return row.param.Name; });

TEST(DiscIdsEdge, EmptyTableGivesNoMusicBrainzId) {
    EXPECT_EQ(MusicBrainzDiscId(DiscToc{}), "");
    EXPECT_EQ(CddbDiscId(DiscToc{}), 0u);
}

TEST(DiscIdsEdge, DataOnlyDiscGivesNoMusicBrainzId) {
    DiscToc toc;
    toc.Tracks.push_back({0, false});
    toc.LeadOut = 1000;
    EXPECT_EQ(MusicBrainzDiscId(toc), "");
    EXPECT_EQ(AccurateRipDiscIds(toc).AudioTracks, 0);
}

} // namespace

namespace {

// A disc image with its data track right after the audio (no room for a session gap):
// the audio ends where the data starts, as on a disc without the data track.
TEST(DiscIdsEdge, DataTrackWithoutSessionGapEndsTheAudio) {
    DiscToc withData;
    withData.Tracks = {{0, true}, {1500, true}, {3000, false}};
    withData.LeadOut = 3300;
    DiscToc audioOnly;
    audioOnly.Tracks = {{0, true}, {1500, true}};
    audioOnly.LeadOut = 3000;
    EXPECT_FALSE(MusicBrainzDiscId(withData).empty());
    EXPECT_EQ(MusicBrainzDiscId(withData), MusicBrainzDiscId(audioOnly));
}

} // namespace
