#include "platform/ProfileIni.h"

#include "platform/Cp1252.h"
#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ProfileIni {

EProfileWriteError::EProfileWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), Path(path) {}

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::string_view Blanks = " \t";

// One line of the file as it was read: its bytes and its line end ("", "\n" or "\r\n").
struct Line {
    std::string text;
    std::string eol;
};

struct Document {
    bool bom = false;
    std::string eolStyle = "\n";
    std::vector<Line> lines;
};

// What one line means for reading.
enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name; // section name or key, raw bytes
    std::string_view value;
};

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(Blanks);
    return s.substr(first, last - first + 1);
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view raw, std::string_view wanted) {
    const std::string decoded = decodeText(raw);
    if (decoded.size() != wanted.size())
        return false;
    for (std::size_t i = 0; i < decoded.size(); ++i)
        if (lowerAscii(decoded[i]) != lowerAscii(wanted[i]))
            return false;
    return true;
}

ParsedLine parseLine(std::string_view text) {
    const std::string_view s = trim(text);
    ParsedLine parsed;
    if (s.empty() || s.front() == ';' || s.front() == '#')
        return parsed;
    if (s.front() == '[') {
        const auto close = s.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = LineKind::Section;
            parsed.name = trim(s.substr(1, close - 1));
        }
        return parsed;
    }
    const auto eq = s.find('=');
    if (eq == std::string_view::npos || trim(s.substr(0, eq)).empty())
        return parsed;
    parsed.kind = LineKind::Entry;
    parsed.name = trim(s.substr(0, eq));
    parsed.value = trim(s.substr(eq + 1));
    return parsed;
}

Document parseDocument(std::string_view bytes) {
    Document doc;
    if (bytes.substr(0, Bom.size()) == Bom) {
        doc.bom = true;
        bytes.remove_prefix(Bom.size());
    }
    const auto firstLf = bytes.find('\n');
    if (firstLf != std::string_view::npos && firstLf > 0 && bytes[firstLf - 1] == '\r')
        doc.eolStyle = "\r\n";
    while (!bytes.empty()) {
        const auto lf = bytes.find('\n');
        Line line;
        line.text = std::string(bytes.substr(0, lf));
        if (lf != std::string_view::npos) {
            line.eol = "\n";
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.eol = "\r\n";
            }
            bytes.remove_prefix(lf + 1);
        } else {
            bytes = {};
        }
        doc.lines.push_back(std::move(line));
    }
    return doc;
}

std::string serialize(const Document& doc) {
    std::string out;
    if (doc.bom)
        out += Bom;
    for (const Line& line : doc.lines)
        out += line.text + line.eol;
    return out;
}

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readBytes(const std::string& file) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return std::nullopt;
    std::string bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return std::nullopt;
    return bytes;
}

Document loadForReading(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return parseDocument(readBytes(file).value_or(std::string()));
}

// Index range [begin, end) of the lines that belong to the section's first
// occurrence (the header excluded), or nothing.
struct SectionRange {
    std::size_t header = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::optional<SectionRange> findSection(const Document& doc, std::string_view section) {
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        const ParsedLine p = parseLine(doc.lines[i].text);
        if (p.kind != LineKind::Section || !sameName(p.name, section))
            continue;
        SectionRange range{i, i + 1, i + 1};
        while (range.end < doc.lines.size() &&
               parseLine(doc.lines[range.end].text).kind != LineKind::Section)
            ++range.end;
        return range;
    }
    return std::nullopt;
}

// Cuts decoded text after MaxValueLength characters (UTF-8 code points).
std::string limitLength(std::string text) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80 && chars++ == MaxValueLength)
            return text.substr(0, i);
    }
    return text;
}

std::string valueText(std::string_view raw) {
    return limitLength(decodeText(raw));
}

std::string oneLine(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

void checkName(std::string_view name, std::string_view forbidden) {
    if (trim(name).empty() || name.find_first_of(forbidden) != std::string_view::npos)
        throw std::invalid_argument("Invalid profile name: " + std::string(name));
}

void setEntry(Document& doc, std::string_view section, std::string_view key,
              const std::string& entry) {
    const auto range = findSection(doc, section);
    if (!range) {
        if (!doc.lines.empty() && doc.lines.back().eol.empty())
            doc.lines.back().eol = doc.eolStyle;
        if (!doc.lines.empty() && !trim(doc.lines.back().text).empty())
            doc.lines.push_back({"", doc.eolStyle});
        doc.lines.push_back({"[" + std::string(section) + "]", doc.eolStyle});
        doc.lines.push_back({entry, doc.eolStyle});
        return;
    }
    std::size_t insertAfter = range->header;
    for (std::size_t i = range->begin; i < range->end; ++i) {
        const ParsedLine p = parseLine(doc.lines[i].text);
        if (p.kind == LineKind::Entry && sameName(p.name, key)) {
            doc.lines[i].text = entry;
            return;
        }
        if (p.kind == LineKind::Entry)
            insertAfter = i;
    }
    if (doc.lines[insertAfter].eol.empty())
        doc.lines[insertAfter].eol = doc.eolStyle;
    doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                     Line{entry, doc.eolStyle});
}

// The file that a write replaces: a symbolic link's target, so that the link stays.
std::string writeTarget(const std::string& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(file.c_str(), nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return file;
}

WriteCall writeCall = &::write;

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = writeCall(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes bytes to a temporary file beside target and renames it over target.
bool replaceFile(const std::string& target, const std::string& bytes, mode_t mode) {
    const std::string base = target.substr(target.find_last_of('/') + 1);
    std::string temp = Paths::folderOf(target) + "/." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

WriteCall setWriteCall(WriteCall call) {
    const WriteCall previous = writeCall;
    writeCall = call != nullptr ? call : &::write;
    return previous;
}

std::string readString(const std::string& file, std::string_view section, std::string_view key,
                       const std::string& def) {
    const Document doc = loadForReading(file);
    const auto range = findSection(doc, section);
    if (!range)
        return def;
    for (std::size_t i = range->begin; i < range->end; ++i) {
        const ParsedLine p = parseLine(doc.lines[i].text);
        if (p.kind == LineKind::Entry && sameName(p.name, key))
            return valueText(p.value);
    }
    return def;
}

int32_t readInteger(const std::string& file, std::string_view section, std::string_view key,
                    int32_t def) {
    int32_t value = 0;
    return parseInteger(readString(file, section, key, std::string()), value) ? value : def;
}

Entries readSection(const std::string& file, std::string_view section) {
    const Document doc = loadForReading(file);
    Entries entries;
    const auto range = findSection(doc, section);
    if (!range)
        return entries;
    for (std::size_t i = range->begin; i < range->end; ++i) {
        const ParsedLine p = parseLine(doc.lines[i].text);
        if (p.kind == LineKind::Entry)
            entries.emplace_back(decodeText(p.name), valueText(p.value));
    }
    return entries;
}

bool sectionExists(const std::string& file, std::string_view section) {
    const Document doc = loadForReading(file);
    const auto range = findSection(doc, section);
    if (!range)
        return false;
    for (std::size_t i = range->begin; i < range->end; ++i)
        if (parseLine(doc.lines[i].text).kind == LineKind::Entry)
            return true;
    return false;
}

void writeString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value) {
    writeStrings(file, {{std::string(section), std::string(key), std::string(value)}});
}

void writeStrings(const std::string& file, const std::vector<Assignment>& assignments) {
    for (const Assignment& a : assignments) {
        checkName(a.section, "[]\r\n");
        checkName(a.key, "=[\r\n");
    }
    const std::string target = writeTarget(file);
    Document doc;
    mode_t mode = newFileMode();
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        // The owner's write bit stands for the read-only attribute; it is checked
        // by hand because access() allows everything to root.
        if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0)
            throw EProfileWriteError(file);
        const auto bytes = readBytes(target);
        if (!bytes)
            throw EProfileWriteError(file); // never replace what could not be read
        doc = parseDocument(*bytes);
        mode = st.st_mode & 07777;
    }
    for (const Assignment& a : assignments)
        setEntry(doc, trim(a.section), trim(a.key),
                 std::string(trim(a.key)) + "=" + oneLine(a.value));
    if (!replaceFile(target, serialize(doc), mode))
        throw EProfileWriteError(file);
}

namespace {

bool parseHex(std::string_view digits, int32_t& result) {
    if (digits.empty() || digits.size() > 8)
        return false;
    uint32_t value = 0;
    for (char c : digits) {
        const char l = lowerAscii(c);
        uint32_t d;
        if (l >= '0' && l <= '9')
            d = static_cast<uint32_t>(l - '0');
        else if (l >= 'a' && l <= 'f')
            d = static_cast<uint32_t>(l - 'a' + 10);
        else
            return false;
        value = value * 16 + d;
    }
    result = static_cast<int32_t>(value);
    return true;
}

bool parseDecimal(std::string_view text, int32_t& result) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > int64_t{INT32_MAX} + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return false;
    result = static_cast<int32_t>(value);
    return true;
}

} // namespace

bool parseInteger(std::string_view text, int32_t& result) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return parseHex(text.substr(2), result);
    return parseDecimal(text, result);
}

std::string decodeText(std::string_view bytes) {
    if (Cp1252::isValidUtf8(bytes))
        return std::string(bytes);
    return Cp1252::toUtf8(bytes);
}

} // namespace ProfileIni
