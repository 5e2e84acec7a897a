#pragma once

#include "encoding/ByteSink.h"
#include "encoding/PcmFrames.h"
#include "encoding/VorbisComments.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct OggOpusEnc;
struct OggOpusComments;

namespace Encoding {

// How one track becomes Opus: 16-bit PCM at the output setting's rate and channels,
// which libopusenc resamples to Opus's 48 kHz.
struct TOpusOptions {
    uint32_t SampleRate = 44100;
    uint32_t Channels = 2;
    uint32_t Bitrate = 160; // kbit/s, VBR; 6 to 256 a channel
    TVorbisComments Comments;
    std::optional<TPicture> Cover;
    // The Ogg stream's serial number; the caller picks it (from the track), so that the
    // same track gives the same bytes on every run and thread.
    uint32_t Serial = 1;
};

// Padding at the end of the comment header, for the gains written after the audio.
constexpr int OpusCommentPadding = 1024;

// One Ogg Opus stream through libopusenc, written as it is encoded. The header's output
// gain stays 0; pre-skip and the final granule position make the decoded length that of
// the input at 48 kHz, sample for sample.
class TOpusEncoder {
public:
    TOpusEncoder() = default;
    ~TOpusEncoder();
    TOpusEncoder(const TOpusEncoder&) = delete;
    TOpusEncoder& operator=(const TOpusEncoder&) = delete;

    // Starts the stream into `sink` (which must stay until Finish or the end of this
    // object). False with the reason for a format or bit rate Opus cannot take, a cover
    // it cannot read, or a comment it cannot store.
    bool Open(TByteSink& sink, const TOpusOptions& options, std::string* error);
    // Encodes interleaved 16-bit little-endian PCM, any number of bytes.
    bool Feed(const uint8_t* pcm, std::size_t bytes, std::string* error);
    // Ends the stream (the last pages, with the end trimming) and writes `extra` (the
    // track's R128 gain) into the comment header.
    bool Finish(const TVorbisComments& extra, std::string* error);
    uint64_t Samples() const { return Fed; }

private:
    bool Fail(std::string* error, const std::string& what, int code);
    void Release();

    friend struct OpusCallbacks;
    OggOpusEnc* Encoder = nullptr;
    OggOpusComments* Tags = nullptr;
    TByteSink* Sink = nullptr;
    uint32_t Channels = 0;
    bool SinkFailed = false;
    bool HeadDone = false;
    std::vector<uint8_t> Head; // the header pages as written
    TPcmFrames Frames;
    std::vector<int16_t> Buffer;
    uint64_t Fed = 0;
};

} // namespace Encoding
