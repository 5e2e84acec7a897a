#pragma once

#include "encoding/VorbisComments.h"

#include <optional>

namespace Metadata {
struct TagFields;
}

namespace Encoding {

// The tag record of one track as the Vorbis comments of its FLAC or Opus file, under the
// names taggers write and read: TITLE, ARTIST, ALBUM, ALBUMARTIST, DATE, TRACKNUMBER,
// TRACKTOTAL, DISCNUMBER, DISCTOTAL, ISRC, ARTISTSORT, ALBUMARTISTSORT, the MusicBrainz
// IDs (MUSICBRAINZ_TRACKID is the recording's), BARCODE, CATALOGNUMBER, ASIN,
// RELEASETYPE, RELEASESTATUS and RELEASECOUNTRY. A field that is not known (empty, 0)
// gives no comment; a list gives one comment per entry.
TVorbisComments CommentsOf(const Metadata::TagFields& tags);

// The record's cover as the file's front cover picture; none without a cover.
std::optional<TPicture> PictureOf(const Metadata::TagFields& tags);

} // namespace Encoding
