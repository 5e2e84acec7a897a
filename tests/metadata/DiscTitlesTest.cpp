// The order of title sources: command line, cdplayer.ini, CD-TEXT, MusicBrainz,
// the track table's names.
#include "metadata/DiscTitles.h"

#include <gtest/gtest.h>

namespace {

using Metadata::CommandLineTitles;
using Metadata::SourceTitles;
using Metadata::TitleSource;

const std::vector<std::string> Names = {"Track01", "Track02", "Track03"};

Metadata::ReleaseTrack MbTrack(const std::string& title, const std::string& artist, int64_t ms) {
    Metadata::ReleaseTrack t;
    t.Title = title;
    t.Artist = artist;
    t.LengthMs = ms;
    return t;
}

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
    r.Tracks = {MbTrack("One", "", 1000), MbTrack("Two", "Guest", 1000)};
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
    found.Best.Tracks = {MbTrack("Mb1", "", 20000), MbTrack("Mb2", "", 20000)};
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

// ---- The chosen release's facts in every track's record

Metadata::Release SessionRelease(const std::string& id, const std::string& country) {
    Metadata::Release r;
    r.Id = id;
    r.Title = "Sessions";
    r.Artist = "Isobel Campbell & Mark Lanegan";
    r.ArtistSort = "Campbell, Isobel & Lanegan, Mark";
    r.ArtistIds = {"artist-1", "artist-2"};
    r.Date = "2001-10-15";
    r.Country = country;
    r.Status = "official";
    r.Barcode = "5051083000013";
    r.CatalogNumber = "VEL 1";
    r.Asin = "B0001";
    r.ReleaseGroupId = "group-1";
    r.AlbumType = "album";
    r.Medium = 4;
    r.MediumCount = 4;
    r.DiscIdMatch = true;
    Metadata::ReleaseTrack one = MbTrack("Mb1", "", 20000);
    one.Id = "track-1";
    one.RecordingId = "recording-1";
    one.Isrc = "USMB10000001";
    Metadata::ReleaseTrack two = MbTrack("Mb2", "Mark Lanegan", 20000);
    two.ArtistSort = "Lanegan, Mark";
    two.ArtistIds = {"artist-2"};
    two.Id = "track-2";
    two.RecordingId = "recording-2";
    two.Isrc = "USMB10000002";
    r.Tracks = {one, two};
    return r;
}

// A data track first (mixed-mode disc), then two audio tracks.
Metadata::LocalTitles MixedDisc() {
    Metadata::LocalTitles local;
    local.TrackNames = {"Track01", "Track02", "Track03"};
    local.Tracks = {{0, false}, {1500, true}, {3000, true}};
    local.Toc = Metadata::MusicBrainzToc(local.Tracks, 4500);
    return local;
}

Metadata::LookupResult TwoReleases() {
    Metadata::LookupResult found;
    found.Found = true;
    found.Releases = {SessionRelease("rel-us", "US"), SessionRelease("rel-gb", "GB")};
    found.Best = found.Releases[0];
    return found;
}

TEST(TrackTags, EveryFieldOfTheRecord) {
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANG");
    Metadata::LocalTitles local = MixedDisc();
    local.Isrcs = {"", "", "DEDISC000003"}; // the disc's own ISRC of track 3
    const Metadata::DiscTitles d = Metadata::JoinTitles(local, TwoReleases(), {});
    EXPECT_EQ(d.ChosenIndex, 0u);
    EXPECT_EQ(d.ChosenBy, "listed first");
    EXPECT_EQ(d.Releases.size(), 2u);
    EXPECT_EQ(d.Date, "2001-10-15");
    EXPECT_EQ(d.Year, "2001");

    const std::vector<Metadata::TocTrack> tracks = local.Tracks;
    const std::vector<int> numbers = {1, 2, 3};
    const Metadata::TagFields a = Metadata::TrackTags(d, tracks, numbers, 1);
    EXPECT_EQ(a.Title, "Mb1");
    EXPECT_EQ(a.Artist, "Isobel Campbell & Mark Lanegan");
    EXPECT_EQ(a.ArtistSort, "Campbell, Isobel & Lanegan, Mark") << "the release's credit";
    EXPECT_EQ(a.ArtistIds, (std::vector<std::string>{"artist-1", "artist-2"}));
    EXPECT_EQ(a.RecordingId, "recording-1");
    EXPECT_EQ(a.ReleaseTrackId, "track-1");
    EXPECT_EQ(a.Isrc, "USMB10000001");
    EXPECT_EQ(a.Track, 2);
    EXPECT_EQ(a.TrackTotal, 2);
    EXPECT_EQ(a.Album, "Sessions");
    EXPECT_EQ(a.AlbumArtist, "Isobel Campbell & Mark Lanegan");
    EXPECT_EQ(a.AlbumArtistSort, "Campbell, Isobel & Lanegan, Mark");
    EXPECT_EQ(a.AlbumArtistIds, (std::vector<std::string>{"artist-1", "artist-2"}));
    EXPECT_EQ(a.Date, "2001-10-15");
    EXPECT_EQ(a.Disc, 4);
    EXPECT_EQ(a.DiscTotal, 4);
    EXPECT_EQ(a.ReleaseId, "rel-us");
    EXPECT_EQ(a.ReleaseGroupId, "group-1");
    EXPECT_EQ(a.DiscId, Metadata::MusicBrainzDiscId(local.Toc));
    EXPECT_EQ(a.AlbumType, "album");
    EXPECT_EQ(a.AlbumStatus, "official");
    EXPECT_EQ(a.Country, "US");
    EXPECT_EQ(a.Barcode, "5051083000013");
    EXPECT_EQ(a.CatalogNumber, "VEL 1");
    EXPECT_EQ(a.Asin, "B0001");
    EXPECT_EQ(a.Cover, nullptr);

    const Metadata::TagFields b = Metadata::TrackTags(d, tracks, numbers, 2);
    EXPECT_EQ(b.Artist, "Mark Lanegan");
    EXPECT_EQ(b.ArtistSort, "Lanegan, Mark") << "the track's own credit";
    EXPECT_EQ(b.ArtistIds, (std::vector<std::string>{"artist-2"}));
    EXPECT_EQ(b.Isrc, "DEDISC000003") << "the disc's ISRC wins";
    EXPECT_EQ(b.RecordingId, "recording-2");
    EXPECT_EQ(b.Track, 3);
}

TEST(TrackTags, ArtistOfAnotherSourceGetsNoSortNameOrIds) {
    Metadata::LocalTitles local = MixedDisc();
    local.CdText.Artist = "Campbell and Lanegan";
    local.CdText.TrackArtists = {"", "", "Someone Else"};
    const Metadata::DiscTitles d = Metadata::JoinTitles(local, TwoReleases(), {});
    const Metadata::TagFields a = Metadata::TrackTags(d, local.Tracks, {1, 2, 3}, 1);
    EXPECT_EQ(a.Artist, "Campbell and Lanegan");
    EXPECT_EQ(a.ArtistSort, "");
    EXPECT_TRUE(a.ArtistIds.empty());
    EXPECT_EQ(a.AlbumArtistSort, "");
    EXPECT_TRUE(a.AlbumArtistIds.empty());
    // The IDs of the release and its tracks still hold: the disc is the same.
    EXPECT_EQ(a.RecordingId, "recording-1");
    EXPECT_EQ(a.ReleaseId, "rel-us");
    const Metadata::TagFields b = Metadata::TrackTags(d, local.Tracks, {1, 2, 3}, 2);
    EXPECT_EQ(b.Artist, "Someone Else");
    EXPECT_EQ(b.ArtistSort, "");
}

TEST(TrackTags, NoReleaseNoReleaseFacts) {
    Metadata::LocalTitles local = MixedDisc();
    local.CdPlayerIni.Year = "1987";
    const Metadata::DiscTitles d = Metadata::JoinTitles(local, {}, {});
    const Metadata::TagFields a = Metadata::TrackTags(d, local.Tracks, {1, 2, 3}, 1);
    EXPECT_EQ(a.Date, "1987");
    EXPECT_EQ(a.Disc, 0) << "no disc number without a release: nothing says it";
    EXPECT_EQ(a.DiscTotal, 0);
    EXPECT_EQ(a.ReleaseId, "");
    EXPECT_EQ(a.RecordingId, "");
    EXPECT_EQ(a.Isrc, "");
}

TEST(TrackTags, SavedYearTakesTheReleasesFullDate) {
    Metadata::LocalTitles local = MixedDisc();
    local.CdPlayerIni.Year = "2001"; // a year saved from an earlier look-up
    const Metadata::DiscTitles same = Metadata::JoinTitles(local, TwoReleases(), {});
    EXPECT_EQ(same.Date, "2001-10-15");
    local.CdPlayerIni.Year = "1999"; // the user's own year
    const Metadata::DiscTitles other = Metadata::JoinTitles(local, TwoReleases(), {});
    EXPECT_EQ(other.Date, "1999");
}

struct PickCase {
    const char* name;
    std::string saved, wanted, country;
    std::string releaseId, chosenBy, error;
};

void PrintTo(const PickCase& row, std::ostream* os) {
    *os << row.name;
}

class ReleasePick : public testing::TestWithParam<PickCase> {};

TEST_P(ReleasePick, WantedThenSavedThenEvidence) {
    const PickCase& row = GetParam();
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", row.country.c_str(), 1);
    Metadata::LocalTitles local = MixedDisc();
    local.SavedRelease = row.saved;
    const Metadata::DiscTitles d = Metadata::JoinTitles(local, TwoReleases(), {}, row.wanted);
    ::unsetenv("LANG");
    EXPECT_EQ(d.ReleaseId, row.releaseId);
    EXPECT_EQ(d.Chosen.Id, row.releaseId);
    EXPECT_EQ(d.Releases.at(d.ChosenIndex).Id, row.releaseId);
    EXPECT_EQ(d.ChosenBy, row.chosenBy);
    EXPECT_EQ(d.ReleaseError, row.error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReleasePick,
    testing::Values(PickCase{"Evidence", "", "", "en_GB.UTF-8", "rel-gb", "your country (GB)", ""},
                    PickCase{"SavedBeatsEvidence", "rel-us", "", "en_GB.UTF-8", "rel-us",
                             "saved in cdplayer.ini", ""},
                    PickCase{"WantedBeatsSaved", "rel-us", "2", "", "rel-gb", "your choice", ""},
                    PickCase{"SavedNoLongerListed", "rel-gone", "", "en_GB.UTF-8", "rel-gb",
                             "your country (GB)", ""},
                    PickCase{
                        "WantedNotListed", "rel-us", "rel-gone", "en_GB.UTF-8", "rel-us",
                        "saved in cdplayer.ini",
                        "release rel-gone is not one of the 2 MusicBrainz lists for this disc"}),
    [](const testing::TestParamInfo<PickCase>& row) { return row.param.name; });

struct NoteCase {
    const char* name;
    Metadata::SourceTitles cdText, ini;
    std::string note;
};

void PrintTo(const NoteCase& row, std::ostream* os) {
    *os << row.name;
}

class LookupNote : public testing::TestWithParam<NoteCase> {};

TEST_P(LookupNote, SaysWhereTheTitlesCameFromInstead) {
    const NoteCase& row = GetParam();
    Metadata::LocalTitles local = MixedDisc();
    local.CdText = row.cdText;
    local.CdPlayerIni = row.ini;
    Metadata::LookupResult failed;
    failed.Message = "MusicBrainz did not answer within 10 s";
    const Metadata::DiscTitles d = Metadata::JoinTitles(local, failed, {});
    EXPECT_EQ(Metadata::LookupNote(failed, d), row.note);
    EXPECT_EQ(Metadata::LookupNote(TwoReleases(), d), "") << "found: nothing to say";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LookupNote,
    testing::Values(
        NoteCase{"TrackNumbers",
                 {},
                 {},
                 "MusicBrainz did not answer within 10 s; titles from track numbers"},
        NoteCase{"CdTextAndTrackNumbers",
                 {"", "", "", {"", "Eins", ""}, {}},
                 {},
                 "MusicBrainz did not answer within 10 s; titles from track numbers and CD-TEXT"},
        NoteCase{"ThreeSources",
                 {"", "", "", {"", "Eins", ""}, {}},
                 {"", "", "", {"Data", "", ""}, {}},
                 "MusicBrainz did not answer within 10 s; titles from cdplayer.ini, CD-TEXT and "
                 "track numbers"}),
    [](const testing::TestParamInfo<NoteCase>& row) { return row.param.name; });
} // namespace
