#pragma once

#include "encoding/VorbisComments.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The comment header (OpusTags) of an Ogg Opus file: its second packet, on the pages
// after the first. The encoder leaves padding at the end of the packet, so that comments
// can be changed later by rewriting those pages at the same length: nothing after them
// moves, and only their checksums change.
namespace Encoding {

// The Ogg page checksum (CRC-32, polynomial 0x04C11DB7, not reflected) of `size` bytes.
uint32_t OggCrc(const uint8_t* data, std::size_t size);

// The bytes from the start that hold the pages of the first two packets (OpusHead and
// OpusTags); 0 when `size` bytes do not hold them all yet or are no Ogg stream.
std::size_t OpusHeaderLength(const uint8_t* data, std::size_t size);

// The comments of the OpusTags packet in `head` (at least OpusHeaderLength bytes).
bool OpusTagsOf(const std::vector<uint8_t>& head, std::string& vendor, TVorbisComments& comments);

// Puts `set` into the comments of `head` in place, at the same packet length (the
// padding shrinks), and recomputes the checksums of the pages it changed. False (with
// `head` unchanged) when there is no OpusTags packet or the padding is too small.
bool PatchOpusTags(std::vector<uint8_t>& head, const TVorbisComments& set, std::string* error);

} // namespace Encoding
