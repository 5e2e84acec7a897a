#pragma once

#include "metadata/DiscId.h"
#include "metadata/Id3v2Tag.h"
#include "metadata/MusicBrainz.h"

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
};

struct DiscTitles {
    std::string Artist, Album, Year; // empty when no source knows them
    TitleSource ArtistSource = TitleSource::TrackName;
    TitleSource AlbumSource = TitleSource::TrackName;
    std::vector<TrackTitle> Tracks; // one per entry of the track table
    // From the MusicBrainz look-up when it found a release.
    std::string ReleaseId, DiscId, Release;
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
};
LocalTitles ReadLocalTitles(const TCDRIP& ripper);

// Joins the local sources, the look-up's result (may be absent: Found = false) and the
// command line.
DiscTitles JoinTitles(const LocalTitles& local, const LookupResult& lookup,
                      const CommandLineTitles& commandLine);

// The ID3v2 fields of entry `index` of the ripper's track table: its title and artist
// (the disc's artist when it has none of its own), the album, the disc's artist as
// album artist, its track number of the audio tracks' count, the year and the
// MusicBrainz IDs.
TagFields TrackTags(const DiscTitles& titles, const TCDRIP& ripper, int index);

} // namespace Metadata
