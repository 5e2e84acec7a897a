#include "encoding/TagComments.h"

#include "metadata/TrackTags.h"

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
    // A list is one comment per entry, as taggers keep a tag of several values.
    const auto list = [&text](const char* name, const std::vector<std::string>& values) {
        for (const std::string& v : values) {
            text(name, v);
        }
    };
    // The release group's types are one text ("album; live"): one comment per type.
    const auto types = [&text](const char* name, const std::string& value) {
        std::size_t from = 0;
        while (from <= value.size()) {
            std::size_t to = value.find(';', from);
            to = to == std::string::npos ? value.size() : to;
            std::size_t b = from, e = to;
            while (b < e && value[b] == ' ') {
                ++b;
            }
            while (e > b && value[e - 1] == ' ') {
                --e;
            }
            text(name, value.substr(b, e - b));
            from = to + 1;
        }
    };
    text("TITLE", t.Title);
    text("ARTIST", t.Artist);
    text("ARTISTSORT", t.ArtistSort);
    text("ALBUM", t.Album);
    text("ALBUMARTIST", t.AlbumArtist);
    text("ALBUMARTISTSORT", t.AlbumArtistSort);
    text("DATE", t.Date);
    number("TRACKNUMBER", t.Track);
    number("TRACKTOTAL", t.TrackTotal);
    number("DISCNUMBER", t.Disc);
    number("DISCTOTAL", t.DiscTotal);
    text("ISRC", t.Isrc);
    text("MUSICBRAINZ_TRACKID", t.RecordingId);
    text("MUSICBRAINZ_RELEASETRACKID", t.ReleaseTrackId);
    list("MUSICBRAINZ_ARTISTID", t.ArtistIds);
    list("MUSICBRAINZ_ALBUMARTISTID", t.AlbumArtistIds);
    text("MUSICBRAINZ_ALBUMID", t.ReleaseId);
    text("MUSICBRAINZ_RELEASEGROUPID", t.ReleaseGroupId);
    text("MUSICBRAINZ_DISCID", t.DiscId);
    types("RELEASETYPE", t.AlbumType);
    text("RELEASESTATUS", t.AlbumStatus);
    text("RELEASECOUNTRY", t.Country);
    text("BARCODE", t.Barcode);
    text("CATALOGNUMBER", t.CatalogNumber);
    text("ASIN", t.Asin);
    return c;
}

std::optional<TPicture> PictureOf(const Metadata::TagFields& t) {
    if (!t.Cover || t.Cover->Bytes.empty()) {
        return std::nullopt;
    }
    TPicture p;
    p.Type = 3; // the front cover
    p.Mime = t.Cover->Mime;
    p.Data = t.Cover->Bytes;
    return p;
}

} // namespace Encoding
