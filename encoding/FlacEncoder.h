#pragma once

#include "encoding/ByteSink.h"
#include "encoding/PcmFrames.h"
#include "encoding/VorbisComments.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <FLAC/format.h>
#include <FLAC/stream_encoder.h>

namespace Encoding {

// How one track becomes FLAC: 16-bit PCM at the output setting's rate and channels.
struct TFlacOptions {
    uint32_t SampleRate = 44100;
    uint32_t Channels = 2;
    uint32_t Compression = 8;     // libFLAC's levels 0 (fastest) to 8 (smallest)
    uint64_t ExpectedSamples = 0; // sample frames the track should have: spaces the seek table
    TVorbisComments Comments;
    std::optional<TPicture> Cover;
};

// Room left after the comment block, so that the track's gain (when the track ends) and
// the album's (when the job ends) go into the comments without moving the audio, and a
// tagger can add tags the same way.
constexpr uint32_t FlacPaddingBytes = 4096;

// One FLAC stream through libFLAC, written as it is encoded: the encoder's verify mode
// decodes every frame again and compares it with the input; STREAMINFO gets the MD5 of
// the PCM and its exact sample count when the stream ends, and the seek table (a point
// every 10 seconds) its offsets. The metadata is, in order, STREAMINFO, SEEKTABLE, the
// cover as PICTURE (type 3) when there is one, VORBIS_COMMENT and PADDING.
class TFlacEncoder {
public:
    TFlacEncoder() = default;
    ~TFlacEncoder();
    TFlacEncoder(const TFlacEncoder&) = delete;
    TFlacEncoder& operator=(const TFlacEncoder&) = delete;

    // Writes the metadata into `sink` (which must stay until Finish or the end of this
    // object). False with the reason in *error for a format FLAC cannot take, a comment
    // or cover it cannot store, or a sink that fails.
    bool Open(TByteSink& sink, const TFlacOptions& options, std::string* error);
    // Encodes interleaved 16-bit little-endian PCM, any number of bytes (a sample frame
    // cut between two calls is joined). False on a write failure or a verify mismatch.
    bool Feed(const uint8_t* pcm, std::size_t bytes, std::string* error);
    // Ends the stream and writes `extra` (the track's gain) into the comments. False
    // when the stream could not be completed; the file is then not a whole track.
    bool Finish(const TVorbisComments& extra, std::string* error);
    // Sample frames encoded so far.
    uint64_t Samples() const { return Fed; }

private:
    bool Fail(std::string* error, const std::string& what);
    bool AddMetadata(const TFlacOptions& options, std::string* error);
    void Release();

    friend struct FlacCallbacks;
    FLAC__StreamEncoder* Encoder = nullptr;
    std::vector<FLAC__StreamMetadata*> Metadata;
    TByteSink* Sink = nullptr;
    uint32_t Channels = 0;
    uint64_t Pos = 0; // where libFLAC writes next
    uint64_t End = 0; // bytes in the sink
    bool InInit = false;
    bool Discarding = false;
    bool SinkFailed = false;
    std::vector<uint8_t> Head; // the metadata as first written
    TPcmFrames Frames;
    std::vector<int32_t> First;  // the samples of the first channel of the piece fed
    std::vector<int32_t> Second; // and of the second
    uint64_t Fed = 0;
};

// Where the comments of a FLAC file start: the bytes from the start that hold "fLaC" and
// every metadata block, or 0 when `size` bytes do not hold them all yet (or are no FLAC).
std::size_t FlacMetadataLength(const uint8_t* data, std::size_t size);

// The change that puts `set` into the comments of a FLAC file whose metadata is `head`:
// `bytes` replace the `replaced` bytes at `offset` (the comment block and the padding
// right after it). When the new comments need more than the padding gives, `bytes` is
// longer than `replaced` (the audio must then move). False when `head` holds no comment
// block.
bool FlacCommentPatch(const std::vector<uint8_t>& head, const TVorbisComments& set,
                      uint64_t& offset, std::size_t& replaced, std::vector<uint8_t>& bytes,
                      std::string* error);

// The comments of a FLAC file's metadata; false when there is no comment block.
bool FlacComments(const std::vector<uint8_t>& head, std::string& vendor, TVorbisComments& comments);

} // namespace Encoding
