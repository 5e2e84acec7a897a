#include "encoding/TagComments.h"

#include "metadata/Id3v2Tag.h"

namespace Encoding {

TVorbisComments CommentsOf(const Metadata::TagFields& t) {
    TVorbisComments c;
    const auto text = [&c](const char* name, const std::string& value) {
        if (!value.empty()) {
            c.push_back({name, value});
        }
    };
    const auto number = [&c](const char* name, int value) {
        if (value > 0) {
            c.push_back({name, std::to_string(value)});
        }
    };
    text("TITLE", t.Title);
    text("ARTIST", t.Artist);
    text("ALBUM", t.Album);
    text("ALBUMARTIST", t.AlbumArtist);
    text("DATE", t.Date);
    number("TRACKNUMBER", t.Track);
    number("TRACKTOTAL", t.TrackTotal);
    text("MUSICBRAINZ_ALBUMID", t.ReleaseId);
    text("MUSICBRAINZ_DISCID", t.DiscId);
    return c;
}

std::optional<TPicture> PictureOf(const Metadata::TagFields&) {
    return std::nullopt; // the record has no cover yet
}

} // namespace Encoding
