#pragma once

#include "metadata/DiscId.h"

#include <chrono>
#include <string>
#include <vector>

// Looking a disc up in the MusicBrainz web service: the request, a process-wide limit
// of one request a second, and a parser of the JSON answer that lists the releases
// that fit the disc and picks the one that fits it best.
namespace Metadata {

// An artist credit: the names with their join phrases ("A feat. B"), the same with
// the artists' sort names ("Campbell, Isobel & Lanegan, Mark"), one ID per artist.
struct ArtistCredit {
    std::string Text;
    std::string SortText;
    std::vector<std::string> Ids;
};

struct ReleaseTrack {
    std::string Title;
    std::string Artist;     // the track's artist credit as one text
    std::string ArtistSort; // the same with sort names
    std::vector<std::string> ArtistIds;
    std::string Id;          // the release track's MusicBrainz ID
    std::string RecordingId; // the recording's MusicBrainz ID
    std::string Isrc;        // the recording's first ISRC
    int64_t LengthMs = -1;   // -1 when the service does not know it
};

struct Release {
    std::string Id; // the release's MusicBrainz ID
    std::string Title;
    std::string Artist;     // the release's artist credit as one text
    std::string ArtistSort; // the same with sort names
    std::vector<std::string> ArtistIds;
    std::string Date;    // "1991-09-24", "1991-09", "1991" or empty (checked: digits)
    std::string Country; // "GB", "XE", ... or empty
    std::string Status;  // "official", ... (lower case) or empty
    std::string Barcode, CatalogNumber, Asin;
    std::string ReleaseGroupId;
    std::string AlbumType; // the release group's types, lower case: "album; live"
    int Medium = 1;        // position of the chosen medium within the release
    int MediumCount = 1;   // media of the release
    std::vector<ReleaseTrack> Tracks;
    bool DiscIdMatch = false; // the medium carries this very disc ID
    int64_t Distance = 0;     // how badly the medium fits the disc; 0 fits exactly

    // "Artist - Title", or the title alone without an artist.
    std::string Description() const;
    // The first four characters of Date (digits by then), else empty.
    std::string Year() const;
};

struct LookupResult {
    bool Found = false;
    Release Best;        // when Found
    int Candidates = 0;  // mediums the answer offered
    std::string Message; // one line: what was found, or why nothing was
    // The releases that fit the disc, each with its best medium, in the answer's order:
    // those that carry the disc ID when any does, else those with the disc's track
    // count (else the nearest alone). Best is one of them.
    std::vector<Release> Releases;
};

// The request URL: base + "/ws/2/discid/<id>?toc=...&cdstubs=no&inc=artist-credits+
// recordings+release-groups+labels+isrcs&fmt=json". With the toc the service also
// answers with releases whose track lengths are close when it does not know the disc ID.
std::string LookupUrl(const std::string& base, const std::string& discId, const DiscToc& toc);

// The most a look-up's answer may be, in bytes and in levels of nesting; beyond
// either it is refused whole. Real answers nest about 15 levels deep.
constexpr std::size_t MaxAnswerBytes = std::size_t(16) << 20;
constexpr int MaxAnswerDepth = 100;

// Reads the service's answer to a disc ID look-up (a disc document with "releases",
// or the list of a fuzzy table-of-contents match) and picks the medium that fits
// `toc` best: one that carries `discId` first, then the one whose track count and
// track lengths are nearest. Never throws; malformed, oversized or too deeply nested
// text gives Found = false and a message.
LookupResult ParseLookupAnswer(const std::string& json, const DiscToc& toc,
                               const std::string& discId);

// The address of the service: VELMORA_MUSICBRAINZ_URL when set, else the public one.
std::string MusicBrainzBase();

// Waits until at least `interval` has passed since the previous request of this
// process went out (MusicBrainz asks clients for at most one a second), then
// counts this one. Safe to call from several threads.
void WaitForRequestSlot(std::chrono::milliseconds interval = std::chrono::milliseconds(1000));

// Looks the disc up: one request, at most timeoutSeconds. Never throws. The message
// of a failed look-up is a whole sentence for the user ("MusicBrainz did not answer
// within 10 s").
LookupResult LookUpDisc(const DiscToc& toc, long timeoutSeconds = 10);

} // namespace Metadata
