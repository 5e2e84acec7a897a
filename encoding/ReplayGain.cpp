#include "encoding/ReplayGain.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Encoding {

TLoudnessMeter::~TLoudnessMeter() {
    if (State != nullptr) {
        ebur128_destroy(&State);
    }
}

TLoudnessMeter::TLoudnessMeter(TLoudnessMeter&& other) noexcept
    : State(std::exchange(other.State, nullptr)), Channels(other.Channels),
      MaxMagnitude(other.MaxMagnitude), Frames(other.Frames) {}

TLoudnessMeter& TLoudnessMeter::operator=(TLoudnessMeter&& other) noexcept {
    if (this != &other) {
        if (State != nullptr) {
            ebur128_destroy(&State);
        }
        State = std::exchange(other.State, nullptr);
        Channels = other.Channels;
        MaxMagnitude = other.MaxMagnitude;
        Frames = other.Frames;
        Samples.clear(); // room for the next piece only; a meter moved is a meter kept
        Samples.shrink_to_fit();
    }
    return *this;
}

bool TLoudnessMeter::Start(uint32_t sampleRate, uint32_t channels, std::string* error) {
    if (State != nullptr) {
        ebur128_destroy(&State);
    }
    Frames.Reset(channels);
    Channels = channels;
    MaxMagnitude = 0;
    if (channels < 1 || channels > 2 || sampleRate == 0) {
        *error = "cannot measure loudness of " + std::to_string(channels) + " channels at " +
                 std::to_string(sampleRate) + " Hz";
        return false;
    }
    // Without the histogram mode (whose 0.1 LU steps are coarser than the 0.01 dB the tags
    // are written with), the meter keeps one number per 100 ms: 288 kB for an hour. The
    // sample peak is taken here, on the 16-bit samples (the same value as the library's
    // sample-peak mode, |sample| / 32768, at a fifth of the meter's time less).
    State = ebur128_init(channels, sampleRate, EBUR128_MODE_I);
    if (State == nullptr) {
        *error = "cannot start the loudness meter";
        return false;
    }
    return true;
}

namespace {

// The largest |sample|: the highest and the lowest sample, eight at a time where the
// processor has SSE2 (every x86-64 one), the magnitude taken once at the end.
int32_t MaxMagnitudeOf(const int16_t* samples, std::size_t count) {
    int16_t hi = 0;
    int16_t lo = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    __m128i vhi = _mm_setzero_si128();
    __m128i vlo = _mm_setzero_si128();
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + i));
        vhi = _mm_max_epi16(vhi, v);
        vlo = _mm_min_epi16(vlo, v);
    }
    alignas(16) int16_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), vhi);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8), vlo);
    for (int k = 0; k < 8; ++k) {
        hi = std::max(hi, lanes[k]);
        lo = std::min(lo, lanes[k + 8]);
    }
#endif
    for (; i < count; ++i) {
        hi = std::max(hi, samples[i]);
        lo = std::min(lo, samples[i]);
    }
    return std::max(int32_t{hi}, -int32_t{lo});
}

} // namespace

bool TLoudnessMeter::Add(const uint8_t* pcm, std::size_t bytes, std::string* error) {
    if (State == nullptr) {
        *error = "the loudness meter is not started";
        return false;
    }
    const std::size_t frames = Frames.Take(pcm, bytes, Samples);
    MaxMagnitude = std::max(MaxMagnitude, MaxMagnitudeOf(Samples.data(), Samples.size()));
    if (frames > 0 && ebur128_add_frames_short(State, Samples.data(), frames) != EBUR128_SUCCESS) {
        *error = "the loudness meter failed";
        return false;
    }
    return true;
}

namespace {

// Full scale is 32768, as libebur128 scales 16-bit samples.
double PeakOf(int32_t magnitude) {
    return magnitude / 32768.0;
}

TLoudness Judge(int status, double lufs, double peak) {
    TLoudness result;
    result.Peak = peak;
    result.Valid = status == EBUR128_SUCCESS && std::isfinite(lufs);
    result.Lufs = result.Valid ? lufs : 0;
    return result;
}

} // namespace

TLoudness TLoudnessMeter::Result() const {
    if (State == nullptr) {
        return {};
    }
    double lufs = 0;
    const int status = ebur128_loudness_global(State, &lufs);
    return Judge(status, lufs, PeakOf(MaxMagnitude));
}

TLoudness TLoudnessMeter::Together(const std::vector<const TLoudnessMeter*>& meters) {
    std::vector<ebur128_state*> states;
    double peak = 0;
    for (const TLoudnessMeter* m : meters) {
        if (m != nullptr && m->State != nullptr) {
            states.push_back(m->State);
            peak = std::max(peak, PeakOf(m->MaxMagnitude));
        }
    }
    if (states.empty()) {
        return {};
    }
    double lufs = 0;
    const int status = ebur128_loudness_global_multiple(states.data(), states.size(), &lufs);
    return Judge(status, lufs, peak);
}

double ReplayGainDb(double lufs) {
    return ReplayGainReference - lufs;
}

int R128Gain(double lufs) {
    const double q78 = std::round((R128Reference - lufs) * 256.0);
    return static_cast<int>(std::clamp(q78, -32768.0, 32767.0));
}

std::string GainText(double db) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f dB", db);
    return text;
}

std::string PeakText(double peak) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", peak);
    return text;
}

TVorbisComments ReplayGainComments(const TLoudness& loudness, bool album) {
    if (!loudness.Valid) {
        return {};
    }
    const std::string which = album ? "ALBUM" : "TRACK";
    return {{"REPLAYGAIN_" + which + "_GAIN", GainText(ReplayGainDb(loudness.Lufs))},
            {"REPLAYGAIN_" + which + "_PEAK", PeakText(loudness.Peak)}};
}

TVorbisComments R128Comments(const TLoudness& loudness, bool album) {
    if (!loudness.Valid) {
        return {};
    }
    return {
        {album ? "R128_ALBUM_GAIN" : "R128_TRACK_GAIN", std::to_string(R128Gain(loudness.Lufs))}};
}

} // namespace Encoding
