#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the tags of one ripped track say, whatever the file format: the ID3v2 writer
// (metadata/Id3v2Tag.h) and the Vorbis comment writers read this one record, so that
// an MP3, a FLAC and an Opus file of one track carry the same facts. Every text is
// UTF-8; an empty text, an empty list or a 0 means "not known": no frame or comment.
namespace Metadata {

// The release's front cover, as fetched once per job and shared by its tracks.
struct CoverImage {
    std::vector<uint8_t> Bytes;
    std::string Mime;      // "image/jpeg" or "image/png", from the bytes themselves
    std::string Extension; // "jpg" or "png"
};

struct TagFields {
    // ---- the track
    std::string Title;                  // TIT2 / TITLE
    std::string Artist;                 // TPE1 / ARTIST: the track's credit as one text
    std::string ArtistSort;             // TSOP / ARTISTSORT: sort names with join phrases
    std::vector<std::string> ArtistIds; // MusicBrainz Artist Id: one per credited artist
    std::string RecordingId;            // UFID http://musicbrainz.org / MUSICBRAINZ_TRACKID
    std::string ReleaseTrackId;         // MusicBrainz Release Track Id
    std::string Isrc;                   // TSRC / ISRC: the disc's own when it has one
    int Track = 0, TrackTotal = 0;      // TRCK "n/total"

    // ---- the release (the same for every track of the job)
    std::string Album;                       // TALB / ALBUM
    std::string AlbumArtist;                 // TPE2 / ALBUMARTIST
    std::string AlbumArtistSort;             // TSO2 / ALBUMARTISTSORT
    std::vector<std::string> AlbumArtistIds; // MusicBrainz Album Artist Id
    std::string Date;                        // TDRC / DATE: "2001", "2001-10" or "2001-10-15"
    int Disc = 0, DiscTotal = 0;             // TPOS "n/total"; 0: not known
    std::string ReleaseId;                   // MusicBrainz Album Id
    std::string ReleaseGroupId;              // MusicBrainz Release Group Id
    std::string DiscId;                      // MusicBrainz Disc Id
    std::string AlbumType;                   // "album", "album; live" (lower case)
    std::string AlbumStatus;                 // "official", "promotion", ...
    std::string Country;                     // MusicBrainz Album Release Country: "GB", "XE"
    std::string Barcode;                     // BARCODE
    std::string CatalogNumber;               // CATALOGNUMBER
    std::string Asin;                        // ASIN

    // The front cover to embed (APIC front cover / METADATA_BLOCK_PICTURE); null: none.
    std::shared_ptr<const CoverImage> Cover;
};

} // namespace Metadata
