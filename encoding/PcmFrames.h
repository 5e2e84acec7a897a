#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
            for (std::size_t i = 0; i < FrameBytes; i += 2) {
                *to++ = static_cast<Sample>(SampleAt(Held + i));
            }
            Kept = 0;
        }
        const std::size_t whole = frames * FrameBytes - (used > 0 ? FrameBytes : 0);
        Convert(pcm + used, whole, to);
        const std::size_t rest = bytes - used - whole;
        if (rest > 0) {
            std::memcpy(Held + Kept, pcm + used + whole, rest);
        }
        Kept += rest;
        return frames;
    }
    // The same frames as Take, each channel's samples into a buffer of its own (`first`
    // and, for stereo, `second`; a mono stream leaves `second` empty), as the FLAC
    // encoder takes them without sorting them out itself.
    std::size_t TakeChannels(const uint8_t* pcm, std::size_t bytes, std::vector<int32_t>& first,
                             std::vector<int32_t>& second) {
        const std::size_t frames = (Kept + bytes) / FrameBytes;
        const bool stereo = FrameBytes == 4;
        first.resize(frames);
        second.resize(stereo ? frames : 0);
        std::size_t done = 0;
        std::size_t used = 0;
        if (Kept > 0 && frames > 0) {
            used = FrameBytes - Kept;
            std::memcpy(Held + Kept, pcm, used);
            first[0] = SampleAt(Held);
            if (stereo) {
                second[0] = SampleAt(Held + 2);
            }
            done = 1;
            Kept = 0;
        }
        const std::size_t whole = frames - done;
        Split(pcm + used, whole, stereo, first.data() + done, second.data() + (stereo ? done : 0));
        const std::size_t rest = bytes - used - whole * FrameBytes;
        if (rest > 0) {
            std::memcpy(Held + Kept, pcm + used + whole * FrameBytes, rest);
        }
        Kept += rest;
        return frames;
    }
    // Bytes of a frame not yet whole.
    std::size_t Pending() const { return Kept; }

private:
    // Every sample of the whole track goes through here once per user: on a
    // little-endian processor 16-bit samples are the bytes as they are (a copy), and
    // 32-bit ones are widened eight at a time where the processor has SSE2.
    template <typename Sample>
    static Sample* Convert(const uint8_t* from, std::size_t bytes, Sample* to) {
        const std::size_t count = bytes / 2;
        constexpr bool little = std::endian::native == std::endian::little;
        if constexpr (little && std::is_same_v<Sample, int16_t>) {
            if (count > 0) { // an empty piece may come with no buffer at all
                std::memcpy(to, from, count * 2);
            }
            return to + count;
        }
        std::size_t i = 0;
#if defined(__SSE2__)
        if constexpr (little && std::is_same_v<Sample, int32_t>) {
            for (; i + 8 <= count; i += 8) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * i));
                // Each sample in the upper half of a 32-bit lane, shifted down with its sign.
                const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
                const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), low);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 4), high);
            }
        }
#endif
        for (; i < count; ++i) {
            to[i] = static_cast<Sample>(static_cast<int16_t>(from[2 * i] | from[2 * i + 1] << 8));
        }
        return to + count;
    }

    static int32_t SampleAt(const uint8_t* from) {
        return static_cast<int16_t>(from[0] | from[1] << 8);
    }

    // `frames` frames: mono ones into `first`, stereo ones into `first` and `second`,
    // four frames at a time where the processor has SSE2.
    static void Split(const uint8_t* from, std::size_t frames, bool stereo, int32_t* first,
                      int32_t* second) {
        if (!stereo) {
            Convert(from, frames * 2, first);
            return;
        }
        std::size_t i = 0;
#if defined(__SSE2__)
        if constexpr (std::endian::native == std::endian::little) {
            for (; i + 4 <= frames; i += 4) {
                // A frame is a 32-bit lane: the first channel's sample in its lower half.
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(first + i),
                                 _mm_srai_epi32(_mm_slli_epi32(v, 16), 16));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(second + i), _mm_srai_epi32(v, 16));
            }
        }
#endif
        for (; i < frames; ++i) {
            first[i] = SampleAt(from + 4 * i);
            second[i] = SampleAt(from + 4 * i + 2);
        }
    }

    std::size_t FrameBytes = 4;
    std::size_t Kept = 0;
    uint8_t Held[4] = {};
};

} // namespace Encoding
