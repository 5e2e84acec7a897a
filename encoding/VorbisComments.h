#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Vorbis comments, the tags of FLAC and Opus files: NAME=value pairs (UTF-8) after a
// vendor string, each length a 32-bit little-endian number.
namespace Encoding {

struct TComment {
    std::string Name; // ASCII 0x20 to 0x7D without '='; compared case-insensitively
    std::string Value;
    bool operator==(const TComment&) const = default;
};
using TVorbisComments = std::vector<TComment>;

// A picture for the file (a FLAC PICTURE block; METADATA_BLOCK_PICTURE in Opus).
struct TPicture {
    uint32_t Type = 3; // 3: the front cover
    std::string Mime;  // "image/jpeg", "image/png"
    std::string Description;
    std::vector<uint8_t> Data;
};

// The size of a JPEG or PNG image and its bits per pixel; false for anything else or an
// image cut short before its size.
bool ImageSize(const std::vector<uint8_t>& data, uint32_t& width, uint32_t& height,
               uint32_t& depth);

// The picture as a FLAC PICTURE block's body (type, MIME type, description, width,
// height, bits per pixel and colours as the image's bytes say, then the bytes): what a
// FLAC file stores and what Opus keeps, in base64, as METADATA_BLOCK_PICTURE.
std::vector<uint8_t> PictureBlock(const TPicture& picture);

// The bytes in base64 (the standard alphabet, padded with '=').
std::string Base64(const std::vector<uint8_t>& bytes);

// True for a name a comment may have: one or more of 0x20 to 0x7D except '='.
bool ValidCommentName(const std::string& name);

// The comments with every one of `set` in place: a name already there (in any case) is
// replaced where it first stood and its other entries dropped; a new name goes last.
TVorbisComments MergeComments(const TVorbisComments& comments, const TVorbisComments& set);

// The comment list as stored: vendor length, vendor, count, then length and NAME=value
// of each (no framing bit).
std::vector<uint8_t> SerializeComments(const std::string& vendor, const TVorbisComments& comments);

// Reads a comment list from `size` bytes; `used` gets how many it took. False when the
// lengths run past the end or a comment has no '='.
bool ParseComments(const uint8_t* data, std::size_t size, std::string& vendor,
                   TVorbisComments& comments, std::size_t& used);

// The value of the first comment called `name` (any case); none when there is none.
std::optional<std::string> FindComment(const TVorbisComments& comments, const std::string& name);

} // namespace Encoding
