#include "metadata/Id3v2Tag.h"

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tstring.h>

#include <memory>

namespace Metadata {

namespace {

TagLib::String Utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

void SetText(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text) {
    tag.removeFrames(id);
    if (text.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id),
                                                                          TagLib::String::UTF8);
    frame->setText(Utf8(text));
    tag.addFrame(frame.release()); // the tag owns its frames
}

void SetUserText(TagLib::ID3v2::Tag& tag, const char* description, const std::string& text) {
    while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description))
        tag.removeFrame(old);
    if (text.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF8);
    frame->setDescription(description);
    frame->setText(Utf8(text));
    tag.addFrame(frame.release());
}

std::string TrackText(int track, int total) {
    if (track <= 0)
        return {};
    return total > 0 ? std::to_string(track) + "/" + std::to_string(total) : std::to_string(track);
}

} // namespace

bool WriteId3v2Tag(const std::string& path, const TagFields& f, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    // No audio properties: they are not needed and would cost a scan of the file.
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid() || file.firstFrameOffset() < 0)
        return fail("cannot read " + path + " as an MP3 file");
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    SetText(*tag, "TIT2", f.Title);
    SetText(*tag, "TPE1", f.Artist);
    SetText(*tag, "TALB", f.Album);
    SetText(*tag, "TPE2", f.AlbumArtist);
    SetText(*tag, "TRCK", TrackText(f.Track, f.TrackTotal));
    SetText(*tag, "TDRC", f.Year);
    SetUserText(*tag, "MusicBrainz Album Id", f.ReleaseId);
    SetUserText(*tag, "MusicBrainz Disc Id", f.DiscId);
    // Only the ID3v2 tag is written: no other tag is stripped, and nothing is copied
    // into the ID3v1 tag, which keeps its bytes.
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate))
        return fail("cannot write the ID3v2 tag of " + path);
    return true;
}

} // namespace Metadata
