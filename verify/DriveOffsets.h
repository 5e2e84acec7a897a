#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// AccurateRip's public list of drive read offsets (DriveOffsets.bin): 69-byte records,
// each a 16-bit little-endian signed offset in samples and a zero-padded drive name
// "VENDOR - MODEL".
struct DriveOffsetEntry {
    std::string Name;
    int32_t Offset = 0;
};

// The list's entries; empty when the bytes are not a whole number of records.
std::vector<DriveOffsetEntry> ParseDriveOffsets(std::string_view bytes);

// The offset of the drive whose identification text (vendor, model, revision, ...)
// begins with an entry's vendor and model; blanks and case do not count. Of several
// entries that match, the longest name wins (the first listed of equal ones).
std::optional<int32_t> FindDriveOffset(const std::vector<DriveOffsetEntry>& entries,
                                       const std::string& driveId);

// The read offset for the drive: 0 for a virtual drive (a disc image); for a real
// drive, the list's entry, from $XDG_CACHE_HOME/velmora-ripper/DriveOffsets.bin or,
// when that is missing, fetched once (with the time limit) and stored there. None when
// the drive is not listed or the list cannot be had.
std::optional<int32_t> DriveReadOffset(const std::string& driveId, long timeoutSeconds = 10);

// The cache folder: $XDG_CACHE_HOME/velmora-ripper, else ~/.cache/velmora-ripper.
std::string CacheFolder();
