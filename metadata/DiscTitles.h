#pragma once

#include "metadata/DiscId.h"
#include "metadata/Id3v2Tag.h"
#include "metadata/MusicBrainz.h"
#include "metadata/ReleaseChoice.h"
#include "metadata/TrackTags.h"

#include <map>
#include <string>
#include <vector>

class TCDRIP;

// Where a disc's titles come from, and which source wins: titles given on the
// command line, then the user's own in the disc's cdplayer.ini section, then the
// disc's CD-TEXT, then MusicBrainz, then the track table's names ("Track01").
// Titles found here are never written to cdplayer.ini by this code: the front ends
// save them only when the user asks to.
namespace Metadata {

enum class TitleSource { CommandLine, CdPlayerIni, CdText, MusicBrainz, TrackName };

// "command line", "cdplayer.ini", "CD-TEXT", "MusicBrainz", "track number".
const char* SourceName(TitleSource source);

// What one source knows. Entry i of the lists belongs to entry i of the disc's track
// table (data tracks included); an empty text means "not known here".
struct SourceTitles {
    std::string Artist, Album, Year;
    std::vector<std::string> Titles;
    std::vector<std::string> TrackArtists;
};

// Titles from the command line: Titles maps a 1-based track number to its title.
struct CommandLineTitles {
    std::string Artist, Album;
    std::map<int, std::string> Titles;
    bool empty() const { return Artist.empty() && Album.empty() && Titles.empty(); }
};

struct TrackTitle {
    std::string Title;
    std::string Artist; // the track's own artist; empty when it is the disc's
    TitleSource Source = TitleSource::TrackName;
    ReleaseTrack Found; // the chosen release's track for this entry; empty: none
    std::string Isrc;   // the disc's own ISRC of the track; empty: none
};

struct DiscTitles {
    std::string Artist, Album, Year; // empty when no source knows them
    TitleSource ArtistSource = TitleSource::TrackName;
    TitleSource AlbumSource = TitleSource::TrackName;
    std::vector<TrackTitle> Tracks; // one per entry of the track table
    std::string Date;               // the full release date when a source knows it, else Year
    // From the MusicBrainz look-up when it found a release.
    std::string ReleaseId, DiscId, Release;
    Metadata::Release Chosen;                // the release taken (Id empty: none)
    std::vector<Metadata::Release> Releases; // every release that fits, in the answer's order
    std::size_t ChosenIndex = 0;             // of Chosen in Releases
    std::string ChosenBy;     // why it was taken ("your choice", "your country (GB)")
    std::string ReleaseError; // a wanted release that is not among them
    // The chosen release's front cover for the job (null: none), and whether the
    // tracks' tags carry it or only the cover file beside them does.
    std::shared_ptr<const CoverImage> Cover;
    bool EmbedCover = true;
};

// Picks each title from the first source that has a non-blank one, in the order
// above. `trackNames` are the track table's names; their count is the disc's.
DiscTitles ChooseTitles(const std::vector<std::string>& trackNames,
                        const CommandLineTitles& commandLine, const SourceTitles& cdPlayerIni,
                        const SourceTitles& cdText, const SourceTitles& musicBrainz);

// What the MusicBrainz release says, laid over the disc's track table: the release's
// tracks go to the audio tracks in order.
SourceTitles FromRelease(const Release& release, const std::vector<TocTrack>& tracks);

// ---- Reading the sources of the disc in the ripper's active drive ----

// The ripper's track table as the disc ID wants it, and its lead-out.
std::vector<TocTrack> TrackTable(const TCDRIP& ripper);
int32_t LeadOut(const TCDRIP& ripper);
DiscToc MusicBrainzToc(const TCDRIP& ripper);

// The disc's cdplayer.ini section (nothing when it has none).
SourceTitles ReadCdPlayerIni(const TCDRIP& ripper);
// The disc's CD-TEXT through the CD ripping library (nothing when it has none).
SourceTitles ReadCdText(const TCDRIP& ripper);

// Everything but the look-up: what the front ends show at once.
struct LocalTitles {
    std::vector<std::string> TrackNames;
    SourceTitles CdPlayerIni, CdText;
    std::vector<TocTrack> Tracks;
    DiscToc Toc;
    std::string Mcn;                // the disc's media catalogue number; empty: none
    std::vector<std::string> Isrcs; // per entry of the track table; empty: none
    std::string SavedRelease;       // the release kept in the disc's cdplayer.ini section
};
LocalTitles ReadLocalTitles(const TCDRIP& ripper);

// Joins the local sources, the look-up's result (may be absent: Found = false) and the
// command line. Of several releases it takes `wantedRelease` (a number into the list of
// releases that fit, or an MBID; --release or the window's choice), else the one saved
// in cdplayer.ini, else the one the disc's evidence points to.
DiscTitles JoinTitles(const LocalTitles& local, const LookupResult& lookup,
                      const CommandLineTitles& commandLine,
                      const std::string& wantedRelease = std::string());

// The tag fields of entry `index` of the ripper's track table: its title and artist
// (the disc's artist when it has none of its own), the album, the disc's artist as
// album artist, its track number of the audio tracks' count, the date, the disc's
// place in the release, the release's facts and the MusicBrainz IDs. Sort names and
// artist IDs go with an artist only when it is MusicBrainz's credit; the disc's own
// ISRC wins over MusicBrainz's.
TagFields TrackTags(const DiscTitles& titles, const TCDRIP& ripper, int index);
// The same over a track table given as its entries' track numbers and audio flags.
TagFields TrackTags(const DiscTitles& titles, const std::vector<TocTrack>& tracks,
                    const std::vector<int>& trackNumbers, int index);

// One line on a release for the user to choose by: "Title (Artist); 2001-10-15; GB;
// barcode 5051083000013; catalog number VEL 1; MBID", the unknown ones left out.
std::string ReleaseLine(const Release& release);

// The note of a look-up that found nothing, whole: its reason and where the titles
// come from instead ("MusicBrainz did not answer within 10 s; titles from CD-TEXT").
std::string LookupNote(const LookupResult& lookup, const DiscTitles& titles);

// The section key under which the chosen release is kept in cdplayer.ini.
constexpr const char* SavedReleaseKey = "release";

} // namespace Metadata
