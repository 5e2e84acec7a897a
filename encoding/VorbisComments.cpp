#include "encoding/VorbisComments.h"

#include <algorithm>
#include <cstring>

namespace Encoding {

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

void PutLe32(std::vector<uint8_t>& out, std::size_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint32_t Be16(const uint8_t* p) {
    return uint32_t{p[0]} << 8 | uint32_t{p[1]};
}

// Reads a length-prefixed string at `pos`; false when it runs past `size`.
bool ReadString(const uint8_t* data, std::size_t size, std::size_t& pos, std::string& text) {
    if (size - pos < 4) {
        return false;
    }
    const uint32_t length = Le32(data + pos);
    pos += 4;
    if (size - pos < length) {
        return false;
    }
    text.assign(reinterpret_cast<const char*>(data + pos), length);
    pos += length;
    return true;
}

bool PngSize(const std::vector<uint8_t>& d, uint32_t& width, uint32_t& height, uint32_t& depth) {
    // Signature (8), IHDR length and type (8), width, height, bit depth, colour type.
    if (d.size() < 26 || std::memcmp(d.data() + 12, "IHDR", 4) != 0) {
        return false;
    }
    width = Be32(d.data() + 16);
    height = Be32(d.data() + 20);
    const uint32_t bits = d[24];
    // Samples a pixel by colour type: grey 1, RGB 3, palette 1, grey+alpha 2, RGBA 4.
    static constexpr uint32_t samples[] = {1, 0, 3, 1, 2, 0, 4};
    depth = d[25] < 7 ? bits * samples[d[25]] : 0;
    return true;
}

bool JpegSize(const std::vector<uint8_t>& d, uint32_t& width, uint32_t& height, uint32_t& depth) {
    std::size_t pos = 2;
    while (pos + 4 <= d.size()) {
        if (d[pos] != 0xFF) {
            return false;
        }
        const uint8_t marker = d[pos + 1];
        if (marker == 0xFF) {
            ++pos; // fill byte
            continue;
        }
        const std::size_t length = Be16(d.data() + pos + 2);
        // Start of frame markers: C0 to CF except C4 (Huffman), C8 (reserved), CC (arithmetic).
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (pos + 10 > d.size()) {
                return false;
            }
            height = Be16(d.data() + pos + 5);
            width = Be16(d.data() + pos + 7);
            depth = uint32_t{d[pos + 4]} * d[pos + 9];
            return true;
        }
        pos += 2 + length;
    }
    return false;
}

} // namespace

bool ImageSize(const std::vector<uint8_t>& data, uint32_t& width, uint32_t& height,
               uint32_t& depth) {
    static constexpr uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data.size() >= 8 && std::memcmp(data.data(), png, 8) == 0) {
        return PngSize(data, width, height, depth);
    }
    if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        return JpegSize(data, width, height, depth);
    }
    return false;
}

std::vector<uint8_t> PictureBlock(const TPicture& picture) {
    std::vector<uint8_t> out;
    const auto put32 = [&out](uint64_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<uint8_t>(v >> shift));
        }
    };
    const auto putText = [&](const std::string& text) {
        put32(text.size());
        out.insert(out.end(), text.begin(), text.end());
    };
    uint32_t width = 0, height = 0, depth = 0;
    ImageSize(picture.Data, width, height, depth);
    out.reserve(32 + picture.Mime.size() + picture.Description.size() + picture.Data.size());
    put32(picture.Type);
    putText(picture.Mime);
    putText(picture.Description);
    put32(width);
    put32(height);
    put32(depth);
    put32(0); // colours: only for an indexed image, which a cover is not asked to be
    put32(picture.Data.size());
    out.insert(out.end(), picture.Data.begin(), picture.Data.end());
    return out;
}

std::string Base64(const std::vector<uint8_t>& bytes) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (const std::size_t left = bytes.size() - i; left > 0) {
        const uint32_t v = uint32_t{bytes[i]} << 16 | (left == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += left == 2 ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool ValidCommentName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](char c) { return c >= 0x20 && c <= 0x7D && c != '='; });
}

TVorbisComments MergeComments(const TVorbisComments& comments, const TVorbisComments& set) {
    TVorbisComments merged;
    std::vector<bool> placed(set.size(), false);
    for (const TComment& c : comments) {
        const auto it = std::find_if(set.begin(), set.end(),
                                     [&](const TComment& s) { return SameName(s.Name, c.Name); });
        if (it == set.end()) {
            merged.push_back(c);
            continue;
        }
        const auto index = static_cast<std::size_t>(it - set.begin());
        if (!placed[index]) {
            merged.push_back(*it);
            placed[index] = true;
        }
    }
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (!placed[i]) {
            merged.push_back(set[i]);
        }
    }
    return merged;
}

std::vector<uint8_t> SerializeComments(const std::string& vendor, const TVorbisComments& comments) {
    std::vector<uint8_t> out;
    PutLe32(out, vendor.size());
    out.insert(out.end(), vendor.begin(), vendor.end());
    PutLe32(out, comments.size());
    for (const TComment& c : comments) {
        PutLe32(out, c.Name.size() + 1 + c.Value.size());
        out.insert(out.end(), c.Name.begin(), c.Name.end());
        out.push_back('=');
        out.insert(out.end(), c.Value.begin(), c.Value.end());
    }
    return out;
}

bool ParseComments(const uint8_t* data, std::size_t size, std::string& vendor,
                   TVorbisComments& comments, std::size_t& used) {
    std::size_t pos = 0;
    comments.clear();
    if (!ReadString(data, size, pos, vendor) || size - pos < 4) {
        return false;
    }
    const uint32_t count = Le32(data + pos);
    pos += 4;
    for (uint32_t i = 0; i < count; ++i) {
        std::string entry;
        if (!ReadString(data, size, pos, entry)) {
            return false;
        }
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        comments.push_back({entry.substr(0, equals), entry.substr(equals + 1)});
    }
    used = pos;
    return true;
}

std::optional<std::string> FindComment(const TVorbisComments& comments, const std::string& name) {
    for (const TComment& c : comments) {
        if (SameName(c.Name, name)) {
            return c.Value;
        }
    }
    return std::nullopt;
}

} // namespace Encoding
