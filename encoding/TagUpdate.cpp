#include "encoding/TagUpdate.h"

#include "encoding/FlacEncoder.h"
#include "encoding/OggOpusTags.h"

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tstring.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace Encoding {

namespace {

// A header bigger than this (a cover of many megabytes) is not ours to rewrite.
constexpr std::size_t MaxHeaderBytes = std::size_t{64} << 20;
constexpr std::size_t ReadPiece = std::size_t{1} << 20;

struct TFd {
    int Fd = -1;
    ~TFd() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
};

// Reads up to `count` more bytes onto `data`; the number read, or -1 with errno.
ssize_t ReadMore(int fd, std::vector<uint8_t>& data, std::size_t count) {
    const std::size_t old = data.size();
    data.resize(old + count);
    ssize_t n = 0;
    do {
        n = ::read(fd, data.data() + old, count);
    } while (n < 0 && errno == EINTR);
    data.resize(old + static_cast<std::size_t>(n > 0 ? n : 0));
    return n;
}

std::size_t HeaderLength(TTaggedFormat format, const std::vector<uint8_t>& data) {
    return format == TTaggedFormat::Flac ? FlacMetadataLength(data.data(), data.size())
                                         : OpusHeaderLength(data.data(), data.size());
}

// The new header bytes for the old `header` bytes.
bool NewHeader(TTaggedFormat format, std::vector<uint8_t>& header, const TVorbisComments& set,
               std::string* error) {
    if (format == TTaggedFormat::Opus) {
        return PatchOpusTags(header, set, error);
    }
    uint64_t offset = 0;
    std::size_t replaced = 0;
    std::vector<uint8_t> bytes;
    if (!FlacCommentPatch(header, set, offset, replaced, bytes, error)) {
        return false;
    }
    const auto at = header.begin() + static_cast<long>(offset);
    header.erase(at, at + static_cast<long>(replaced));
    header.insert(header.begin() + static_cast<long>(offset), bytes.begin(), bytes.end());
    return true;
}

bool Written(TByteSink& out, const std::vector<uint8_t>& data, std::string* error) {
    if (!data.empty() && !out.Append(data.data(), data.size())) {
        *error = out.Error();
        return false;
    }
    return true;
}

} // namespace

bool CopyWithComments(const std::string& path, TTaggedFormat format, const TVorbisComments& set,
                      TByteSink& out, std::string* error) {
    TFd in;
    in.Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.Fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> data;
    std::size_t header = 0;
    while ((header = HeaderLength(format, data)) == 0) {
        const ssize_t n = ReadMore(in.Fd, data, ReadPiece);
        if (n < 0) {
            *error = std::strerror(errno);
            return false;
        }
        if (n == 0 || data.size() > MaxHeaderBytes) {
            *error = format == TTaggedFormat::Flac ? "not a FLAC file" : "not an Ogg Opus file";
            return false;
        }
    }
    std::vector<uint8_t> rest(data.begin() + static_cast<long>(header), data.end());
    data.resize(header);
    return NewHeader(format, data, set, error) && Written(out, data, error) &&
           Written(out, rest, error) && out.AppendFrom(in.Fd, error);
}

bool WriteId3UserTexts(const std::string& path, const TVorbisComments& set, std::string* error) {
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid()) {
        *error = "cannot read the MP3 file";
        return false;
    }
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    for (const TComment& c : set) {
        const TagLib::String name(c.Name, TagLib::String::UTF8);
        while (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, name)) {
            tag->removeFrame(old);
        }
        auto frame =
            std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF8);
        frame->setDescription(name);
        frame->setText(TagLib::String(c.Value, TagLib::String::UTF8));
        tag->addFrame(frame.release());
    }
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate)) {
        *error = "cannot write the ID3v2 tag";
        return false;
    }
    return true;
}

} // namespace Encoding
