#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The damage report of velmora-rip: which sectors of a track could not be read.
namespace riptool {

// A run of damaged sectors, first and last as absolute sector numbers.
struct SectorRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

// The ripper's error entries ("first last", one per chunk that had unreadable sectors)
// as sorted ranges, touching and overlapping ones joined. Malformed entries are skipped.
std::vector<SectorRange> DamagedRanges(const std::vector<std::string>& entries);

// A sector's place in its track as "m:ss.ff" (minutes, seconds, and sectors of 1/75 s).
std::string TrackTime(uint32_t sector, int32_t trackStart);

// "damaged: 4 sectors: 700-703 (0:09.25 to 0:09.28)" for `count` unreadable sectors in
// the given ranges of a track starting at trackStart; at most `shown` ranges are
// listed, then "and N more".
std::string DamageLine(int32_t count, const std::vector<SectorRange>& ranges, int32_t trackStart,
                       std::size_t shown = 8);

} // namespace riptool
