#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

// Private-profile INI files: every call opens the file, does its one read or write
// and closes it again, as the Windows profile calls do.
//
// - Section and key names match without regard to (ASCII) case; surrounding blanks
//   of names and values are not part of them.
// - Lines before the first section, comment lines (";" or "#") and lines without "="
//   are no entries; where a section or a key occurs twice the first one counts.
// - CRLF and LF line ends are both read; a UTF-8 byte-order mark is skipped.
// - Text is UTF-8; a value (or name) that is not valid UTF-8 is read as Windows-1252.
// - A write replaces the file atomically (a temporary file in the same folder renamed
//   over it) and keeps every other line as it was, line ends and byte-order mark included.
namespace ProfileIni {

// The longest value a read returns, in characters.
inline constexpr std::size_t MaxValueLength = 2047;

// A write that the file system refuses; what() is "Unable to write to <path>".
class EProfileWriteError : public std::runtime_error {
public:
    explicit EProfileWriteError(const std::string& path);
    const std::string& path() const { return Path; }

private:
    std::string Path;
};

using Entries = std::vector<std::pair<std::string, std::string>>;

// The value of key in section, or def when the file, section or key is missing.
std::string readString(const std::string& file, std::string_view section, std::string_view key,
                       const std::string& def);

// The value read as an integer (see parseInteger), or def when it is missing or invalid.
int32_t readInteger(const std::string& file, std::string_view section, std::string_view key,
                    int32_t def);

// All entries of the section's first occurrence as key and value, in file order,
// duplicates and empty values included. Empty when the section is missing.
Entries readSection(const std::string& file, std::string_view section);

// Whether the section exists and holds at least one entry.
bool sectionExists(const std::string& file, std::string_view section);

// Sets key in section to value, creating the file, the section and the key as needed.
// Line breaks in value become blanks, so that a value stays on its line.
// Throws EProfileWriteError when the file (owner write bit clear, not a regular file,
// unreadable) or its folder cannot be written; the old file is then left untouched.
void writeString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value);

// One key to set by writeStrings.
struct Assignment {
    std::string section;
    std::string key;
    std::string value;
};

// Sets several keys in one replacement of the file: the result is that of calling
// writeString for each in order, but the file is either fully updated or, when the
// write fails (EProfileWriteError), left exactly as it was.
void writeStrings(const std::string& file, const std::vector<Assignment>& assignments);

// The call that writes the new file's bytes (::write by default). Tests put in one that
// fails partway to see that the old file survives; returns the call it replaces.
using WriteCall = ssize_t (*)(int fd, const void* data, std::size_t size);
WriteCall setWriteCall(WriteCall call);

// The integer rule: text of more than two characters that begins "0x" or "0X" is
// hexadecimal (up to 8 digits; 0x80000000 and above wrap to negative numbers as in a
// 32-bit register); otherwise an optional sign and decimal digits within the 32-bit
// range. Anything else (empty, "0x", "12a", " 1 2") is no integer.
bool parseInteger(std::string_view text, int32_t& result);

// Text from the file as UTF-8: kept when valid UTF-8, otherwise decoded as Windows-1252.
std::string decodeText(std::string_view bytes);

} // namespace ProfileIni
