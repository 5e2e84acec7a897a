#include "verify/Crc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

void TrackCrc32::Update(const uint8_t* data, std::size_t count) {
    // zlib takes at most a uInt per call.
    constexpr std::size_t step = std::numeric_limits<uInt>::max();
    while (count > 0) {
        const std::size_t n = std::min(count, step);
        FValue = static_cast<uint32_t>(crc32(FValue, data, static_cast<uInt>(n)));
        data += n;
        count -= n;
    }
}
