#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Encoding {

// Interleaved 16-bit little-endian PCM that comes in pieces of any size, as the samples
// of whole sample frames: the bytes of a frame cut between two pieces are kept and joined
// with the start of the next piece. The FLAC and Opus encoders and the loudness meter
// take their samples through it.
class TPcmFrames {
public:
    // Frames of `channels` (1 or 2) 16-bit samples; drops what was kept.
    void Reset(uint32_t channels) {
        FrameBytes = std::size_t{2} * (channels < 1 ? 1 : channels > 2 ? 2 : channels);
        Kept = 0;
    }
    // The samples of the whole frames that the kept bytes and `bytes` more make, into
    // `out` (resized to hold just them); the bytes of a frame not yet whole are kept.
    // Returns the number of frames.
    template <typename Sample>
    std::size_t Take(const uint8_t* pcm, std::size_t bytes, std::vector<Sample>& out) {
        const std::size_t frames = (Kept + bytes) / FrameBytes;
        out.resize(frames * FrameBytes / 2);
        Sample* to = out.data();
        std::size_t used = 0;
        if (Kept > 0 && frames > 0) {
            used = FrameBytes - Kept;
            std::memcpy(Held + Kept, pcm, used);
            to = Convert(Held, FrameBytes, to);
            Kept = 0;
        }
        const std::size_t whole = frames * FrameBytes - (used > 0 ? FrameBytes : 0);
        Convert(pcm + used, whole, to);
        const std::size_t rest = bytes - used - whole;
        std::memcpy(Held + Kept, pcm + used + whole, rest);
        Kept += rest;
        return frames;
    }
    // Bytes of a frame not yet whole.
    std::size_t Pending() const { return Kept; }

private:
    template <typename Sample>
    static Sample* Convert(const uint8_t* from, std::size_t bytes, Sample* to) {
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            *to++ = static_cast<Sample>(static_cast<int16_t>(from[i] | from[i + 1] << 8));
        }
        return to;
    }

    std::size_t FrameBytes = 4;
    std::size_t Kept = 0;
    uint8_t Held[4] = {};
};

} // namespace Encoding
