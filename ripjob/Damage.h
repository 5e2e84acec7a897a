#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Sectors of a track that could not be read, as ranges of absolute sector numbers, and
// how the front ends and the log show them.

// A run of damaged sectors, first and last as absolute sector numbers.
struct SectorRange {
    uint32_t first = 0;
    uint32_t last = 0;
    bool operator==(const SectorRange&) const = default;
};

// The ranges sorted, touching and overlapping ones joined.
std::vector<SectorRange> JoinRanges(std::vector<SectorRange> ranges);

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

// The sectors the ranges cover.
int64_t RangeSectors(const std::vector<SectorRange>& ranges);
