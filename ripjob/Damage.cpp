#include "ripjob/Damage.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t SectorsPerSecond = 75;

std::string RangeText(const SectorRange& r, int32_t trackStart) {
    std::string text = std::to_string(r.first);
    if (r.last != r.first) {
        text += "-" + std::to_string(r.last);
    }
    text += " (" + TrackTime(r.first, trackStart);
    if (r.last != r.first) {
        text += " to " + TrackTime(r.last, trackStart);
    }
    return text + ")";
}

} // namespace

std::vector<SectorRange> JoinRanges(std::vector<SectorRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const SectorRange& a, const SectorRange& b) { return a.first < b.first; });
    std::vector<SectorRange> joined;
    for (const SectorRange& r : ranges) {
        if (!joined.empty() && uint64_t{r.first} <= uint64_t{joined.back().last} + 1) {
            joined.back().last = std::max(joined.back().last, r.last);
        } else {
            joined.push_back(r);
        }
    }
    return joined;
}

std::vector<SectorRange> DamagedRanges(const std::vector<std::string>& entries) {
    std::vector<SectorRange> ranges;
    for (const std::string& entry : entries) {
        unsigned long first = 0;
        unsigned long last = 0;
        if (std::sscanf(entry.c_str(), "%lu %lu", &first, &last) == 2 && first <= last) {
            ranges.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(last)});
        }
    }
    return JoinRanges(std::move(ranges));
}

std::string TrackTime(uint32_t sector, int32_t trackStart) {
    const int64_t offset = std::max<int64_t>(0, int64_t{sector} - trackStart);
    const int64_t seconds = offset / SectorsPerSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60),
                  static_cast<long long>(offset % SectorsPerSecond));
    return text;
}

std::string DamageLine(int32_t count, const std::vector<SectorRange>& ranges, int32_t trackStart,
                       std::size_t shown) {
    std::string line = "damaged: " + std::to_string(count) + (count == 1 ? " sector" : " sectors");
    for (std::size_t i = 0; i < ranges.size() && i < shown; ++i) {
        line += (i == 0 ? ": " : ", ") + RangeText(ranges[i], trackStart);
    }
    if (ranges.size() > shown) {
        line += " and " + std::to_string(ranges.size() - shown) + " more";
    }
    return line;
}

int64_t RangeSectors(const std::vector<SectorRange>& ranges) {
    int64_t n = 0;
    for (const SectorRange& r : ranges) {
        n += int64_t{r.last} - r.first + 1;
    }
    return n;
}
