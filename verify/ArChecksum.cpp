#include "verify/ArChecksum.h"

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

void ArChecksum::Update(const uint8_t* data, std::size_t count) {
    auto word = [](const uint8_t* p) {
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    };
    while (FCarried > 0 && count > 0) {
        FCarry[FCarried++] = *data++;
        --count;
        if (FCarried == 4) {
            Add(word(FCarry));
            FCarried = 0;
        }
    }
    const std::size_t whole = count / 4 * 4;
    for (std::size_t i = 0; i < whole; i += 4) {
        Add(word(data + i));
    }
    for (std::size_t i = whole; i < count; ++i) {
        FCarry[FCarried++] = data[i];
    }
}
