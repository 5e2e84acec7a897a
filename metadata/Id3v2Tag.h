#pragma once

#include <string>

// The ID3v2.4 tag at the start of an MP3 file, written with TagLib beside the ID3v1
// tag at its end (which stays byte for byte as it was, last in the file).
namespace Metadata {

struct TagFields {
    std::string Title, Artist, Album, AlbumArtist, Year; // UTF-8; empty: no frame
    int Track = 0, TrackTotal = 0;                       // 0: not known
    std::string ReleaseId, DiscId;                       // MusicBrainz IDs; empty: no frame
};

// Writes the tag (TIT2, TPE1, TALB, TPE2, TRCK "n/total", TDRC, and TXXX frames
// "MusicBrainz Album Id" and "MusicBrainz Disc Id" as MusicBrainz's tag mapping names
// them), text in UTF-8, replacing an ID3v2 tag the file had. False with the reason
// in *error when the file cannot be read as MP3 or cannot be written.
bool WriteId3v2Tag(const std::string& path, const TagFields& fields, std::string* error);

} // namespace Metadata
