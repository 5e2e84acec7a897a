// The order of title sources: command line, cdplayer.ini, CD-TEXT, MusicBrainz,
// the track table's names.
#include "metadata/DiscTitles.h"

#include <gtest/gtest.h>

namespace {

using Metadata::CommandLineTitles;
using Metadata::SourceTitles;
using Metadata::TitleSource;

const std::vector<std::string> Names = {"Track01", "Track02", "Track03"};

struct OrderCase {
    const char* name;
    CommandLineTitles commandLine;
    SourceTitles ini, cdText, musicBrainz;
    std::vector<std::string> titles;
    std::vector<TitleSource> sources;
    std::string artist, album;
    std::vector<std::string> trackArtists = {"", "", ""}; // each track's own artist
};

void PrintTo(const OrderCase& row, std::ostream* os) {
    *os << row.name;
}

class TitleOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(TitleOrder, EachTitleFromTheFirstSourceThatHasIt) {
    const OrderCase& row = GetParam();
    const Metadata::DiscTitles d =
        Metadata::ChooseTitles(Names, row.commandLine, row.ini, row.cdText, row.musicBrainz);
    ASSERT_EQ(d.Tracks.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d.Tracks[i].Title, row.titles[i]) << "track " << i + 1;
        EXPECT_EQ(Metadata::SourceName(d.Tracks[i].Source), Metadata::SourceName(row.sources[i]))
            << "track " << i + 1;
        EXPECT_EQ(d.Tracks[i].Artist, row.trackArtists[i]) << "track " << i + 1;
    }
    EXPECT_EQ(d.Artist, row.artist);
    EXPECT_EQ(d.Album, row.album);
}

using S = TitleSource;
const SourceTitles Ini{"Ini Artist", "Ini Album", "1990", {"My One", "", "  "}, {}};
const SourceTitles CdText{"Text Artist", "Text Album", "", {"Text One", "Text Two", ""}, {}};
const SourceTitles Mb{"Mb Artist", "Mb Album", "2001", {"Mb One", "Mb Two", "Mb Three"}, {}};

INSTANTIATE_TEST_SUITE_P(
    Sources, TitleOrder,
    testing::Values(
        OrderCase{"NothingKnown",
                  {},
                  {},
                  {},
                  {},
                  Names,
                  {S::TrackName, S::TrackName, S::TrackName},
                  "",
                  ""},
        OrderCase{"CdTextAlone",
                  {},
                  {},
                  CdText,
                  {},
                  {"Text One", "Text Two", "Track03"},
                  {S::CdText, S::CdText, S::TrackName},
                  "Text Artist",
                  "Text Album"},
        OrderCase{"MusicBrainzFillsTheGaps",
                  {},
                  {},
                  CdText,
                  Mb,
                  {"Text One", "Text Two", "Mb Three"},
                  {S::CdText, S::CdText, S::MusicBrainz},
                  "Text Artist",
                  "Text Album"},
        OrderCase{"UsersTitlesWin",
                  {},
                  Ini,
                  CdText,
                  Mb,
                  {"My One", "Text Two", "Mb Three"},
                  {S::CdPlayerIni, S::CdText, S::MusicBrainz},
                  "Ini Artist",
                  "Ini Album"},
        OrderCase{"CommandLineWinsOverAll",
                  {"Cli Artist", "", {{3, "Cli Three"}, {1, "Cli One"}, {7, "no such track"}}},
                  Ini,
                  CdText,
                  Mb,
                  {"Cli One", "Text Two", "Cli Three"},
                  {S::CommandLine, S::CdText, S::CommandLine},
                  "Cli Artist",
                  "Ini Album"},
        // Each track's own artist: CD-TEXT's before MusicBrainz's, track by track;
        // a blank one counts as none.
        OrderCase{"TrackArtistsCdTextFirst",
                  {"Cli Artist", "", {}},
                  {},
                  {"", "", "", {}, {"Text Guest", " ", ""}},
                  {"", "", "", {}, {"Mb Guest", "Mb Guest Two", ""}},
                  Names,
                  {S::TrackName, S::TrackName, S::TrackName},
                  "Cli Artist",
                  "",
                  {"Text Guest", "Mb Guest Two", ""}},
        OrderCase{"TrackArtistsFromMusicBrainzAlone",
                  {},
                  {},
                  {},
                  {"", "", "", {}, {"", "Mb Guest Two", "Mb Guest Three"}},
                  Names,
                  {S::TrackName, S::TrackName, S::TrackName},
                  "",
                  "",
                  {"", "Mb Guest Two", "Mb Guest Three"}},
        OrderCase{"BlankTitlesCountAsNone",
                  {"  ", "", {{2, " "}}},
                  {"", "", "", {" ", "\t"}, {}},
                  {},
                  {},
                  Names,
                  {S::TrackName, S::TrackName, S::TrackName},
                  "",
                  ""}),
    [](const testing::TestParamInfo<OrderCase>& row) { return row.param.name; });

TEST(TitleOrder, YearFromTheUserThenMusicBrainz) {
    EXPECT_EQ(Metadata::ChooseTitles(Names, {}, Ini, CdText, Mb).Year, "1990");
    EXPECT_EQ(Metadata::ChooseTitles(Names, {}, {}, CdText, Mb).Year, "2001");
    EXPECT_EQ(Metadata::ChooseTitles(Names, {}, {}, CdText, {}).Year, "");
}

TEST(FromRelease, ReleaseTracksGoToTheAudioTracks) {
    Metadata::Release r;
    r.Id = "id";
    r.Title = "Album";
    r.Artist = "Band";
    r.Date = "2004-05";
    r.Tracks = {{"One", "", 1000}, {"Two", "Guest", 1000}};
    // A data track first (mixed-mode disc), then two audio tracks.
    const SourceTitles s = Metadata::FromRelease(r, {{0, false}, {100, true}, {200, true}});
    EXPECT_EQ(s.Titles, (std::vector<std::string>{"", "One", "Two"}));
    EXPECT_EQ(s.TrackArtists, (std::vector<std::string>{"", "", "Guest"}));
    EXPECT_EQ(s.Album, "Album");
    EXPECT_EQ(s.Artist, "Band");
    EXPECT_EQ(s.Year, "2004");
}

TEST(JoinTitles, LookupAddsTitlesAndIds) {
    Metadata::LocalTitles local;
    local.TrackNames = {"Track01", "Track02"};
    local.Tracks = {{0, true}, {1500, true}};
    local.Toc = Metadata::MusicBrainzToc(local.Tracks, 3000);
    local.CdText.Titles = {"From Text", ""};
    Metadata::LookupResult found;
    found.Found = true;
    found.Best.Id = "rel";
    found.Best.Title = "Album";
    found.Best.Artist = "Band";
    found.Best.Tracks = {{"Mb1", "", 20000}, {"Mb2", "", 20000}};
    const Metadata::DiscTitles d = Metadata::JoinTitles(local, found, {});
    EXPECT_EQ(d.Tracks[0].Title, "From Text");
    EXPECT_EQ(d.Tracks[1].Title, "Mb2");
    EXPECT_EQ(d.ReleaseId, "rel");
    EXPECT_EQ(d.Release, "Band - Album");
    EXPECT_EQ(d.DiscId, Metadata::MusicBrainzDiscId(local.Toc));
    EXPECT_FALSE(d.DiscId.empty());
    const Metadata::DiscTitles none = Metadata::JoinTitles(local, {}, {});
    EXPECT_EQ(none.Tracks[1].Title, "Track02");
    EXPECT_EQ(none.ReleaseId, "");
}

} // namespace
