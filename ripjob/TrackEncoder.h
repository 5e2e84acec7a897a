#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace OutputFiles {
class TPartialFile;
}

// The seam of an encoded output format. The job's pipeline makes one TrackEncoder per
// worker (on the job's thread) and hands it one track after the other; a track's bytes
// go into its temporary file, which the job names when the track has ended.

// The PCM an encoder is given: 16-bit little-endian, interleaved.
struct PcmShape {
    uint32_t SampleRate = 44100;
    uint16_t Channels = 2;
};

class TrackEncoder {
public:
    virtual ~TrackEncoder() = default;
    // Which track of the job the next Start is for (its number in the table of
    // contents), so that a format that writes its tags with its first bytes finds them.
    virtual void ForTrack(int /*number*/) {}
    // Opens the stream of one track into `file`: `trackBytes` of PCM will come, in pieces
    // of at most `passBytes`. Throws (ECDRIPError with the reason) when it cannot start.
    virtual void Start(OutputFiles::TPartialFile& file, const PcmShape& pcm, uint64_t trackBytes,
                       std::size_t passBytes) = 0;
    // Encodes `count` bytes and writes what comes out; throws (ECDRIPError "Write error:
    // ...") when the bytes cannot all be written.
    virtual void Feed(const uint8_t* data, std::size_t count) = 0;
    // The end of the stream: the encoder's last bytes and any header rewritten at the
    // start. False when bytes could not all be written. Runs only after Start succeeded.
    virtual bool Flush() = 0;
    // Releases the stream; runs on every way out, also after a failed Start.
    virtual void Close() = 0;
};

// What a format measures of each track's PCM besides encoding it (the loudness for
// ReplayGain). The pipeline hands it the track's pieces in order, as it hands them to
// the track's encoder, on one thread at a time but not always the same one: the track's
// encoder worker, or a worker that has no track to encode (while the first track is
// read, and at the end of the job), so that the measuring of the last tracks is shared.
// Begin first, then the pieces, then End, which comes before the track's encoder ends
// its stream. None of them may throw.
class TrackObserver {
public:
    virtual ~TrackObserver() = default;
    virtual void Begin(int number, const PcmShape& pcm, uint64_t trackBytes) = 0;
    virtual void Add(const uint8_t* data, std::size_t count) = 0;
    // `whole`: every piece of the track came and its encoder took them all.
    virtual void End(bool whole) = 0;
};

// An encoded output format with its settings.
class EncoderFormat {
public:
    virtual ~EncoderFormat() = default;
    // "mp3": the log's Format line and the report's.
    virtual std::string Name() const = 0;
    // ".mp3": the output file's extension.
    virtual std::string Extension() const = 0;
    // A new encoder with this format's settings, for one worker.
    virtual std::unique_ptr<TrackEncoder> NewEncoder() const = 0;
    // A new observer for one track's PCM; null when the format measures nothing.
    virtual std::unique_ptr<TrackObserver> NewObserver() const { return nullptr; }
    // The format's settings as the log lists them (name, value), after "Format".
    virtual std::vector<std::pair<std::string, std::string>> LogSettings() const { return {}; }
    // What a track's file is, in words ("a FLAC file"), when it is written again at its
    // start once the track has ended (a header completed then), which a pipe or a
    // terminal cannot take; empty when the file is written straight through.
    virtual std::string StartWrittenAgainBy() const { return {}; }
};
