#pragma once

#include "encoding/PcmFrames.h"
#include "encoding/VorbisComments.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <ebur128.h>

// ReplayGain 2: the loudness of a track (and of the tracks of one job together) by
// EBU R 128 through libebur128, measured on the 16-bit PCM as it goes to the encoder.
// The audio itself is never changed; the values become tags.
namespace Encoding {

// What a measurement found.
struct TLoudness {
    bool Valid = false; // false: no audio above the gate (silence), so no gain to write
    double Lufs = 0;    // integrated loudness, LUFS
    double Peak = 0;    // sample peak, 1.0 is full scale
};

// The loudness meter of one track: streaming, so that tracks are measured on the threads
// that encode them; it keeps the loudness of every 100 ms for the album's measurement.
class TLoudnessMeter {
public:
    TLoudnessMeter() = default;
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;
    TLoudnessMeter(TLoudnessMeter&& other) noexcept;
    TLoudnessMeter& operator=(TLoudnessMeter&& other) noexcept;

    // For interleaved 16-bit little-endian PCM of `channels` (1 or 2) at `sampleRate`.
    bool Start(uint32_t sampleRate, uint32_t channels, std::string* error);
    // Any number of bytes; a sample frame cut between two calls is joined.
    bool Add(const uint8_t* pcm, std::size_t bytes, std::string* error);
    TLoudness Result() const;
    bool Started() const { return State != nullptr; }

    // The tracks together, as one programme (album gain and album peak). Meters not
    // started are left out.
    static TLoudness Together(const std::vector<const TLoudnessMeter*>& meters);

private:
    ebur128_state* State = nullptr;
    uint32_t Channels = 0;
    int32_t MaxMagnitude = 0; // of every sample added: 32768 for a -32768
    TPcmFrames Frames;
    std::vector<int16_t> Samples; // the samples of the piece being added (not moved)
};

// Reference levels: ReplayGain 2 plays at -18 LUFS; the gains of Opus files (R128_*)
// are against EBU R 128's -23 LUFS.
constexpr double ReplayGainReference = -18.0;
constexpr double R128Reference = -23.0;

// The gain in dB that brings `lufs` to ReplayGain 2's reference.
double ReplayGainDb(double lufs);
// An R128_*_GAIN value: Q7.8 fixed point (1/256 dB) against -23 LUFS, kept within 16 bits.
int R128Gain(double lufs);

// "-3.01 dB" and "0.988553", the forms taggers write.
std::string GainText(double db);
std::string PeakText(double peak);

// The comments of a FLAC file (REPLAYGAIN_TRACK_GAIN, REPLAYGAIN_TRACK_PEAK, and the
// ALBUM pair) or of an Opus file (R128_TRACK_GAIN, R128_ALBUM_GAIN; never REPLAYGAIN_*,
// which players would add to the header's output gain). Nothing for a loudness that is
// not valid. The same names serve as TXXX descriptions in an MP3's ID3v2 tag.
TVorbisComments ReplayGainComments(const TLoudness& loudness, bool album);
TVorbisComments R128Comments(const TLoudness& loudness, bool album);

} // namespace Encoding
