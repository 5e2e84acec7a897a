#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Windows-1252 (the code page of ID3v1 tags and of old INI files) to and from UTF-8.
namespace Cp1252 {

// The Unicode code point of a Windows-1252 byte. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same number,
// as the Windows conversion does, so they survive a round trip.
char32_t toUnicode(unsigned char byte);
// The Windows-1252 byte of a code point; '?' for one the code page cannot hold.
char fromUnicode(char32_t cp);

// Windows-1252 bytes as UTF-8.
std::string toUtf8(std::string_view cp1252Bytes);
// UTF-8 text as Windows-1252 bytes. A character outside the code page becomes '?', and
// so does every byte that starts no UTF-8 sequence.
std::string fromUtf8(std::string_view utf8);

// Appends a code point below U+10000 as UTF-8.
void appendUtf8(std::string& out, char32_t cp);
// Reads the UTF-8 sequence at text[i] by its lead and continuation bytes: stores its
// code point in cp and returns its length, or returns 0 when the bytes there start no
// sequence (cp is then unchanged). Overlong forms, surrogates and code points above
// U+10FFFF are read like any other; isWellFormed() tells them apart.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp);
// Whether a sequence of `length` bytes that decodeUtf8() read as cp is well-formed
// UTF-8: the shortest form, no surrogate, at most U+10FFFF.
bool isWellFormed(char32_t cp, std::size_t length);
// Whether the whole text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

} // namespace Cp1252
