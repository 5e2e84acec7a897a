#include "encoding/OggOpusTags.h"

#include <array>
#include <cstring>

namespace Encoding {

namespace {

constexpr std::size_t PageHeaderBytes = 27; // up to the segment table
constexpr std::size_t CrcOffset = 22;
constexpr char TagsMagic[] = "OpusTags";
constexpr std::size_t TagsMagicBytes = 8;

std::array<uint32_t, 256> CrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int k = 0; k < 8; ++k) {
            r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
        }
        table[i] = r;
    }
    return table;
}

struct TPage {
    std::size_t Offset = 0;
    std::size_t BodyOffset = 0;
    std::size_t End = 0;
    std::vector<uint8_t> Lacing;
};

bool ReadPage(const uint8_t* data, std::size_t size, std::size_t pos, TPage& page) {
    if (size < pos || size - pos < PageHeaderBytes || std::memcmp(data + pos, "OggS", 4) != 0) {
        return false;
    }
    const std::size_t segments = data[pos + 26];
    if (size - pos - PageHeaderBytes < segments) {
        return false;
    }
    page.Offset = pos;
    page.BodyOffset = pos + PageHeaderBytes + segments;
    page.Lacing.assign(data + pos + PageHeaderBytes, data + page.BodyOffset);
    std::size_t body = 0;
    for (uint8_t l : page.Lacing) {
        body += l;
    }
    page.End = page.BodyOffset + body;
    return page.End <= size;
}

// Where the bytes of one packet lie in the stream: (offset, length) pieces in order.
using TSpans = std::vector<std::pair<std::size_t, std::size_t>>;

// The pieces of packet `wanted` (0 the first) and the pages they are on; false when the
// bytes end before it does.
bool FindPacket(const uint8_t* data, std::size_t size, int wanted, TSpans& spans,
                std::vector<std::size_t>& pages, std::size_t& end) {
    spans.clear();
    pages.clear();
    int packet = 0;
    std::size_t pos = 0;
    TPage page;
    while (ReadPage(data, size, pos, page)) {
        std::size_t at = page.BodyOffset;
        for (uint8_t l : page.Lacing) {
            if (packet == wanted) {
                if (spans.empty() || spans.back().first + spans.back().second != at) {
                    spans.push_back({at, 0});
                }
                spans.back().second += l;
                if (pages.empty() || pages.back() != page.Offset) {
                    pages.push_back(page.Offset);
                }
            }
            at += l;
            if (l < 255) {
                if (packet == wanted) {
                    end = page.End;
                    return true;
                }
                ++packet;
            }
        }
        pos = page.End;
    }
    return false;
}

std::vector<uint8_t> Gather(const uint8_t* data, const TSpans& spans) {
    std::vector<uint8_t> packet;
    for (const auto& [offset, length] : spans) {
        packet.insert(packet.end(), data + offset, data + offset + length);
    }
    return packet;
}

} // namespace

uint32_t OggCrc(const uint8_t* data, std::size_t size) {
    static const std::array<uint32_t, 256> table = CrcTable();
    uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    }
    return crc;
}

std::size_t OpusHeaderLength(const uint8_t* data, std::size_t size) {
    TSpans spans;
    std::vector<std::size_t> pages;
    std::size_t end = 0;
    return FindPacket(data, size, 1, spans, pages, end) ? end : 0;
}

bool OpusTagsOf(const std::vector<uint8_t>& head, std::string& vendor, TVorbisComments& comments) {
    TSpans spans;
    std::vector<std::size_t> pages;
    std::size_t end = 0;
    if (!FindPacket(head.data(), head.size(), 1, spans, pages, end)) {
        return false;
    }
    const std::vector<uint8_t> packet = Gather(head.data(), spans);
    std::size_t used = 0;
    return packet.size() >= TagsMagicBytes &&
           std::memcmp(packet.data(), TagsMagic, TagsMagicBytes) == 0 &&
           ParseComments(packet.data() + TagsMagicBytes, packet.size() - TagsMagicBytes, vendor,
                         comments, used);
}

bool PatchOpusTags(std::vector<uint8_t>& head, const TVorbisComments& set, std::string* error) {
    TSpans spans;
    std::vector<std::size_t> pages;
    std::size_t end = 0;
    std::string vendor;
    TVorbisComments comments;
    if (!FindPacket(head.data(), head.size(), 1, spans, pages, end) ||
        !OpusTagsOf(head, vendor, comments)) {
        *error = "the Opus file has no readable comment header";
        return false;
    }
    std::size_t length = 0;
    for (const auto& span : spans) {
        length += span.second;
    }
    std::vector<uint8_t> packet(TagsMagic, TagsMagic + TagsMagicBytes);
    const std::vector<uint8_t> body = SerializeComments(vendor, MergeComments(comments, set));
    packet.insert(packet.end(), body.begin(), body.end());
    if (packet.size() > length) {
        *error = "no room for the tags in the Opus comment header";
        return false;
    }
    // Zeros after the comments are padding: its first byte's lowest bit is 0.
    packet.resize(length, 0);
    std::size_t taken = 0;
    for (const auto& [offset, count] : spans) {
        std::memcpy(head.data() + offset, packet.data() + taken, count);
        taken += count;
    }
    for (std::size_t offset : pages) {
        TPage page;
        ReadPage(head.data(), head.size(), offset, page);
        std::memset(head.data() + offset + CrcOffset, 0, 4);
        const uint32_t crc = OggCrc(head.data() + offset, page.End - offset);
        for (int i = 0; i < 4; ++i) {
            head[offset + CrcOffset + static_cast<std::size_t>(i)] =
                static_cast<uint8_t>(crc >> (8 * i));
        }
    }
    return true;
}

} // namespace Encoding
