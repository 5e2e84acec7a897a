#include "verify/DriveOffsets.h"

#include "cdaccess/OutputFiles.h"
#include "platform/HttpClient.h"
#include "platform/Paths.h"
#include "verify/ArLookup.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

constexpr std::size_t kRecordBytes = 69;
constexpr std::size_t kNameBytes = 32;

// Upper case, "VENDOR - MODEL" read as "VENDOR MODEL", runs of blanks as one.
std::string Normalized(std::string_view text) {
    std::string out;
    for (char c : text) {
        const bool blank = std::isspace(static_cast<unsigned char>(c)) != 0 || c == '\0';
        if (blank) {
            if (!out.empty() && out.back() != ' ') {
                out.push_back(' ');
            }
        } else {
            out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
    }
    const std::size_t dash = out.find(" - ");
    if (dash != std::string::npos) {
        out.erase(dash, 2);
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::vector<DriveOffsetEntry> ParseDriveOffsets(std::string_view bytes) {
    std::vector<DriveOffsetEntry> entries;
    if (bytes.empty() || bytes.size() % kRecordBytes != 0) {
        return entries;
    }
    for (std::size_t at = 0; at < bytes.size(); at += kRecordBytes) {
        const auto lo = static_cast<uint8_t>(bytes[at]);
        const auto hi = static_cast<uint8_t>(bytes[at + 1]);
        const auto offset = static_cast<int16_t>(static_cast<uint16_t>(lo | hi << 8));
        std::string_view name = bytes.substr(at + 2, kNameBytes);
        name = name.substr(0, name.find('\0'));
        if (!name.empty()) {
            entries.push_back({std::string(name), offset});
        }
    }
    return entries;
}

std::optional<int32_t> FindDriveOffset(const std::vector<DriveOffsetEntry>& entries,
                                       const std::string& driveId) {
    // The longest name that matches: "VENDOR - MODEL" must not take the offset of a
    // drive listed as "VENDOR - MODEL DL"; of equal names the first listed wins.
    const std::string id = Normalized(driveId) + " ";
    std::optional<int32_t> found;
    std::size_t longest = 0;
    for (const DriveOffsetEntry& e : entries) {
        const std::string name = Normalized(e.Name);
        if (!name.empty() && name.size() > longest &&
            id.compare(0, name.size() + 1, name + " ") == 0) {
            found = e.Offset;
            longest = name.size();
        }
    }
    return found;
}

std::string CacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const std::string base = xdg != nullptr && *xdg == '/' ? xdg : Paths::homeFolder() + "/.cache";
    return base + "/velmora-ripper";
}

std::optional<int32_t> DriveReadOffset(const std::string& driveId, long timeoutSeconds) {
    if (driveId.rfind("VELMORA VIRTUAL-CD", 0) == 0) {
        return 0; // a disc image has no drive to shift its audio
    }
    const std::string cached = CacheFolder() + "/DriveOffsets.bin";
    std::vector<DriveOffsetEntry> entries = ParseDriveOffsets(ReadAll(cached));
    if (entries.empty()) {
        const Http::Response r =
            Http::Get(AccurateRipBase() + "/DriveOffsets.bin", timeoutSeconds, 8 << 20);
        entries = r.Status == 200 && r.Error.empty() ? ParseDriveOffsets(r.Body)
                                                     : std::vector<DriveOffsetEntry>{};
        if (!entries.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(CacheFolder(), ec);
            // Whole or not at all: a full disk leaves the list fetched again next time.
            int error = 0;
            OutputFiles::WriteWholeFile(cached, r.Body, OutputFiles::TReplace::Anything, error);
        }
    }
    return FindDriveOffset(entries, driveId);
}
