#include "platform/Cp1252.h"

#include <array>

namespace Cp1252 {

namespace {

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F.
constexpr std::array<char32_t, 32> High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char32_t toUnicode(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? High[byte - 0x80] : char32_t{byte};
}

char fromUnicode(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (std::size_t i = 0; i < High.size(); ++i)
        if (High[i] == cp)
            return static_cast<char>(0x80 + i);
    return '?';
}

std::string toUtf8(std::string_view cp1252Bytes) {
    std::string out;
    out.reserve(cp1252Bytes.size() * 2);
    for (const char c : cp1252Bytes)
        appendUtf8(out, toUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string fromUtf8(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(utf8, i, cp);
        out += length == 0 ? '?' : fromUnicode(cp);
        i += length == 0 ? 1 : length;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80    ? 1
                               : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3
                               : lead >= 0xC2 ? 2
                                              : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size())
        return 0;
    char32_t value = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    cp = value;
    return length;
}

bool isWellFormed(char32_t cp, std::size_t length) {
    switch (length) {
    case 1:
        return cp < 0x80;
    case 2:
        return cp >= 0x80 && cp < 0x800;
    case 3:
        return cp >= 0x800 && cp <= 0xFFFF && (cp < 0xD800 || cp > 0xDFFF);
    case 4:
        return cp >= 0x10000 && cp <= 0x10FFFF;
    default:
        return false;
    }
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(text, i, cp);
        if (length == 0 || !isWellFormed(cp, length))
            return false;
        i += length;
    }
    return true;
}

} // namespace Cp1252
