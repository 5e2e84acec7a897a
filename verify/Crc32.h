#pragma once

#include <cstddef>
#include <cstdint>

// zlib's CRC32 of a track's PCM, fed chunk by chunk as the reader delivers it.
class TrackCrc32 {
public:
    void Update(const uint8_t* data, std::size_t count);
    uint32_t Value() const { return FValue; }
    void Reset() { FValue = 0; }

private:
    uint32_t FValue = 0;
};
