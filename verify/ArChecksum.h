#pragma once

#include <cstddef>
#include <cstdint>

// A track's AccurateRip v1 and v2 checksums, fed with its 44.1 kHz stereo PCM (16-bit
// little-endian, left then right) chunk by chunk. Each stereo sample is read as one
// little-endian 32-bit word and multiplied by its 1-based position in the track.
// v1 sums the low 32 bits of the products; v2 sums the low and the high halves of each
// 64-bit product. On the disc's first audio track the first five sectors less one
// sample are left out, on its last audio track the last five sectors.
class ArChecksum {
public:
    static constexpr uint32_t SamplesPerSector = 588;

    ArChecksum(uint64_t totalSamples, bool firstTrack, bool lastTrack);
    void Update(const uint8_t* data, std::size_t count);
    uint32_t V1() const { return FLow; }
    uint32_t V2() const { return FLow + FHigh; }

private:
    void Add(uint32_t sample);

    uint64_t FFrom = 1; // first position that counts
    uint64_t FTo = 0;   // last position that counts
    uint64_t FNext = 1; // position of the next sample
    uint32_t FLow = 0;
    uint32_t FHigh = 0;
    uint8_t FCarry[4] = {};
    std::size_t FCarried = 0;
};
