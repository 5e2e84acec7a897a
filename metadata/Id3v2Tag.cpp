#include "metadata/Id3v2Tag.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tstring.h>
#include <taglib/tstringlist.h>
#include <taglib/uniquefileidentifierframe.h>

#include <memory>

namespace Metadata {

namespace {

// The owner under which taggers keep the MusicBrainz recording ID.
constexpr const char* MusicBrainzOwner = "http://musicbrainz.org";

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

// One TXXX frame with one value per entry of `values` (ID3v2.4 separates them by NUL).
void SetUserText(TagLib::ID3v2::Tag& tag, const char* description,
                 const std::vector<std::string>& values) {
    while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, description))
        tag.removeFrame(old);
    TagLib::StringList list;
    for (const std::string& v : values)
        if (!v.empty())
            list.append(Utf8(v));
    if (list.isEmpty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(
        Utf8(description), list, TagLib::String::UTF8);
    tag.addFrame(frame.release());
}

void SetUserText(TagLib::ID3v2::Tag& tag, const char* description, const std::string& text) {
    SetUserText(tag, description, std::vector<std::string>{text});
}

void SetRecordingId(TagLib::ID3v2::Tag& tag, const std::string& id) {
    for (TagLib::ID3v2::Frame* old : TagLib::ID3v2::FrameList(tag.frameList("UFID"))) {
        auto* ufid = dynamic_cast<TagLib::ID3v2::UniqueFileIdentifierFrame*>(old);
        if (ufid != nullptr && ufid->owner() == MusicBrainzOwner)
            tag.removeFrame(old);
    }
    if (id.empty())
        return;
    tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame(
        MusicBrainzOwner, TagLib::ByteVector(id.data(), static_cast<unsigned>(id.size()))));
}

void SetFrontCover(TagLib::ID3v2::Tag& tag, const CoverImage* cover) {
    tag.removeFrames("APIC");
    if (cover == nullptr || cover->Bytes.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    frame->setTextEncoding(TagLib::String::UTF8);
    frame->setMimeType(cover->Mime);
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(reinterpret_cast<const char*>(cover->Bytes.data()),
                                         static_cast<unsigned>(cover->Bytes.size())));
    tag.addFrame(frame.release());
}

void SetFrames(TagLib::ID3v2::Tag& tag, const TagFields& f) {
    SetText(tag, "TIT2", f.Title);
    SetText(tag, "TPE1", f.Artist);
    SetText(tag, "TALB", f.Album);
    SetText(tag, "TPE2", f.AlbumArtist);
    SetText(tag, "TSOP", f.ArtistSort);
    SetText(tag, "TSO2", f.AlbumArtistSort);
    SetText(tag, "TRCK", NumberOfTotal(f.Track, f.TrackTotal));
    SetText(tag, "TPOS", NumberOfTotal(f.Disc, f.DiscTotal));
    SetText(tag, "TDRC", f.Date);
    SetText(tag, "TSRC", f.Isrc);
    SetRecordingId(tag, f.RecordingId);
    SetUserText(tag, "MusicBrainz Album Id", f.ReleaseId);
    SetUserText(tag, "MusicBrainz Disc Id", f.DiscId);
    SetUserText(tag, "MusicBrainz Release Track Id", f.ReleaseTrackId);
    SetUserText(tag, "MusicBrainz Artist Id", f.ArtistIds);
    SetUserText(tag, "MusicBrainz Album Artist Id", f.AlbumArtistIds);
    SetUserText(tag, "MusicBrainz Release Group Id", f.ReleaseGroupId);
    SetUserText(tag, "MusicBrainz Album Type", f.AlbumType);
    SetUserText(tag, "MusicBrainz Album Status", f.AlbumStatus);
    SetUserText(tag, "MusicBrainz Album Release Country", f.Country);
    SetUserText(tag, "BARCODE", f.Barcode);
    SetUserText(tag, "CATALOGNUMBER", f.CatalogNumber);
    SetUserText(tag, "ASIN", f.Asin);
    SetFrontCover(tag, f.Cover.get());
}

} // namespace

std::string NumberOfTotal(int number, int total) {
    if (number <= 0)
        return {};
    return total > 0 ? std::to_string(number) + "/" + std::to_string(total)
                     : std::to_string(number);
}

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
    SetFrames(*file.ID3v2Tag(true), f);
    // Only the ID3v2 tag is written: no other tag is stripped, and nothing is copied
    // into the ID3v1 tag, which keeps its bytes.
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate))
        return fail("cannot write the ID3v2 tag of " + path);
    return true;
}

} // namespace Metadata
