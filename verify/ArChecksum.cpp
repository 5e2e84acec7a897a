#include "verify/ArChecksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

ArChecksum::ArChecksum(uint64_t totalSamples, bool firstTrack, bool lastTrack) : FTo(totalSamples) {
    const uint64_t skip = 5 * SamplesPerSector;
    if (firstTrack) {
        FFrom = skip; // positions 1 .. 2939 are left out
    }
    if (lastTrack) {
        FTo = totalSamples > skip ? totalSamples - skip : 0;
    }
}

void ArChecksum::Add(uint32_t sample) {
    if (FNext >= FFrom && FNext <= FTo) {
        const uint64_t product = uint64_t{sample} * static_cast<uint32_t>(FNext);
        FLow += static_cast<uint32_t>(product);
        FHigh += static_cast<uint32_t>(product >> 32);
    }
    ++FNext;
}

namespace {

uint32_t Word(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        return w;
    } else {
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
}

} // namespace

void ArChecksum::Update(const uint8_t* data, std::size_t count) {
    while (FCarried > 0 && count > 0) {
        FCarry[FCarried++] = *data++;
        --count;
        if (FCarried == 4) {
            Add(Word(FCarry));
            FCarried = 0;
        }
    }
    const std::size_t samples = count / 4;
    // Positions FNext .. FNext + samples - 1 arrive; only those in FFrom .. FTo count.
    // The loop over them has no test per sample, so that the compiler can vectorise it.
    const uint64_t first = std::max(FNext, FFrom);
    const uint64_t last = std::min(FNext + samples, FTo + 1); // one past
    uint32_t low = FLow;
    uint32_t high = FHigh;
    for (uint64_t pos = first; pos < last; ++pos) {
        const uint64_t product =
            uint64_t{Word(data + (pos - FNext) * 4)} * static_cast<uint32_t>(pos);
        low += static_cast<uint32_t>(product);
        high += static_cast<uint32_t>(product >> 32);
    }
    FLow = low;
    FHigh = high;
    FNext += samples;
    for (std::size_t i = samples * 4; i < count; ++i) {
        FCarry[FCarried++] = data[i];
    }
}
