#include "verify/Dbar.h"

namespace {

constexpr std::size_t kHeaderBytes = 13; // count, two AccurateRip IDs, CDDB ID
constexpr std::size_t kTrackBytes = 9;   // confidence, checksum, offset checksum

uint32_t Le32(std::string_view b, std::size_t at) {
    auto byte = [&](std::size_t i) { return uint32_t{static_cast<uint8_t>(b[at + i])}; };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

} // namespace

DbarFile ParseDbar(std::string_view bytes) {
    DbarFile file;
    if (bytes.empty()) {
        file.Problem = "the file is empty";
        return file;
    }
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t left = bytes.size() - at;
        const std::size_t count = static_cast<uint8_t>(bytes[at]);
        if (count == 0) {
            file.Problem = "a record with no tracks at byte " + std::to_string(at);
            return file;
        }
        if (left < kHeaderBytes + count * kTrackBytes) {
            file.Problem = "a record of " + std::to_string(count) + " tracks is cut off at byte " +
                           std::to_string(bytes.size());
            return file;
        }
        DbarRecord record;
        record.Id1 = Le32(bytes, at + 1);
        record.Id2 = Le32(bytes, at + 5);
        record.Cddb = Le32(bytes, at + 9);
        at += kHeaderBytes;
        for (std::size_t t = 0; t < count; ++t, at += kTrackBytes) {
            record.Tracks.push_back(DbarTrack{static_cast<uint8_t>(bytes[at]), Le32(bytes, at + 1),
                                              Le32(bytes, at + 5)});
        }
        file.Records.push_back(std::move(record));
    }
    return file;
}
