#pragma once

#include "cdaccess/CDRIP.h"
#include "ripjob/Damage.h"
#include "ripjob/TrackEncoder.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TLameCoder;

// One track for the pipeline: its number and the file it becomes.
struct TPipelineTrack {
    int32_t TrackNum = 0;
    std::string FileName;
};

// How one track of the pipeline ended.
struct TPipelineOutcome {
    int32_t TrackNum = 0;
    std::string FileName;
    bool Complete = false;    // read to its end and every MP3 byte written
    bool FileWritten = false; // as TCDRIP::FileWritten after RipTrack
    std::string PartialKept;  // as TCDRIP::PartialKept after RipTrack
    std::string Error;        // what ended the track (as RipTrack would throw); empty: none
    std::vector<std::string> JitterErrors; // the ripper's entries added while reading it
    std::vector<SectorRange> Damage;       // the same as ranges, as the ripper recorded them
    int32_t JitterErrorCount = 0;          // the ripper's count after reading it
};

// An encoding track's progress.
struct TEncodingTrack {
    int32_t TrackNum = 0;
    int Percent = 0; // of the track's PCM encoded
};

// The parallel rip of an encoded format. The calling thread reads the tracks in order
// through the ripper (the CD library has one state for the process, and ProcessMessages
// must run on the caller's thread); each track's PCM goes, as it is read, to one encoder
// worker that writes the file through an OutputFiles::TPartialFile and the format's
// TrackEncoder (for MP3 a TEncodeFeed, so a track's file is the same as TCDRIP::RipTrack
// writes from the same PCM). The format's TrackObserver of a track (the loudness meter)
// is fed the same PCM by the track's worker, or by a worker that has no track to encode
// meanwhile (while the first track is read, at the end of the job). The PCM read but
// not yet encoded and measured is held up to a cap; the reader waits when it is reached.
//
// Stopping: the ripper's Abort (from ProcessMessages, as for RipTrack) ends the reading;
// the track being read ends early with what was read, tracks after it are not started.
// StopEncoding also ends every encoding track early. A track that ends early follows
// TPartialFile::Finish(false). A failure of one track (its file, its encoder, a write)
// ends that track only.
class TRipPipeline {
public:
    // `settings` is copied (TLameCoder::Assign) into each worker's own MP3 encoder.
    TRipPipeline(TCDRIP& rip, const TLameCoder& settings);
    // Each worker gets an encoder of `format` (which must outlive the pipeline).
    TRipPipeline(TCDRIP& rip, const EncoderFormat& format);
    ~TRipPipeline();
    TRipPipeline(const TRipPipeline&) = delete;
    TRipPipeline& operator=(const TRipPipeline&) = delete;

    static unsigned DefaultWorkers();
    // The memory a parallel rip adds stays within 256 MB: 248 MB for the PCM, the rest
    // for the encoders' own state and buffers.
    static constexpr std::size_t DefaultCapBytes = std::size_t{248} << 20;
    // What a rip may add, all told: the PCM held and, besides it, each encoder's own
    // state and buffers (libFLAC with its verifying decoder, libopusenc with its
    // resampler and delay, the loudness meter: about 2 MB measured, 4 MB allowed) and
    // what the job keeps of each finished track until it ends (the loudness meter that
    // album gain needs: 1 MB allowed). CapFor gives the PCM the rest, never less than
    // MinCapBytes.
    static constexpr std::size_t MemoryCapBytes = std::size_t{256} << 20;
    static constexpr std::size_t EncoderBytes = std::size_t{4} << 20;
    static constexpr std::size_t KeptPerTrackBytes = std::size_t{1} << 20;
    static constexpr std::size_t MinCapBytes = std::size_t{32} << 20;
    static std::size_t CapFor(unsigned workers, std::size_t tracks);

    unsigned Workers = DefaultWorkers();
    std::size_t CapBytes = DefaultCapBytes;

    // Runs on the calling thread around the reading of each track: it must call `read`
    // once (default: just that). The proof's checksums and test read go here.
    std::function<void(int32_t TrackNum, const std::string& FileName,
                       const std::function<void()>& read)>
        ReadWith;
    // On the calling thread, when a track begins to be read.
    std::function<void(int32_t TrackNum)> OnBeginRead;
    // On the calling thread, once per track that was started, as the tracks end.
    std::function<void(const TPipelineOutcome& Outcome)> OnDone;
    // On the track's worker thread, once its bytes are all in its temporary file and
    // before that file takes the final name, when it will take it (a finished track, or
    // one that ended early where nothing was under the name before): the tags go here.
    // False, with the reason in *Error, ends the track as a failed write does.
    // How each track's file is made, by track number (the default when not listed).
    std::map<int32_t, OutputFiles::TPartialOptions> FileOptions;
    std::function<bool(const TPipelineTrack& Track, const std::string& TempName,
                       std::string* Error)>
        BeforeFinish;

    // Reads and encodes the tracks; returns when every started track has ended.
    void Run(const std::vector<TPipelineTrack>& Tracks);
    // Thread-safe: the encoding tracks end early at their next piece.
    void StopEncoding();

    // The most PCM held at once during Run (bytes).
    std::size_t PeakHeld() const;
    // The pieces of PCM that workers without a track of their own gave other tracks'
    // meters during Run.
    std::size_t HelpedPieces() const;
    // The tracks being encoded now, with their progress.
    std::vector<TEncodingTrack> Encoding() const;

private:
    struct Slot;
    void Worker(TrackEncoder& encoder);
    void Encode(TrackEncoder& encoder, Slot& slot);
    Slot* MeterToHelp() const;
    bool MeterMayNeedHelp() const;
    void Trim(Slot& slot);
    std::size_t FeedMeter(Slot& slot, std::unique_lock<std::mutex>& lock, bool upToEncoder,
                          const std::function<bool()>& go);
    void HelpMeter(Slot& slot);
    void MeterAlong(Slot& slot);
    void EndMeter(Slot& slot, bool whole);
    void Append(Slot& slot, const uint8_t* data, std::size_t count);
    void Deliver();
    void WaitAndDeliver(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);

    TCDRIP& Rip;
    std::unique_ptr<EncoderFormat> OwnFormat; // the MP3 format of the first constructor
    const EncoderFormat& Format;
    // Guards Slots and what each Slot holds, NextSlot, NoMoreTracks, StopAll, Held, Peak,
    // Helped, Spare, Ended and Finished.
    mutable std::mutex Mutex;
    std::condition_variable WorkerWake; // a new track, new PCM, the end or a stop
    std::condition_variable ReaderWake; // PCM released or a track ended
    std::deque<std::unique_ptr<Slot>> Slots;
    std::size_t NextSlot = 0; // the first track no worker has taken
    bool NoMoreTracks = false;
    bool StopAll = false;
    std::size_t Held = 0;
    std::size_t Peak = 0;
    std::size_t Helped = 0; // pieces fed to meters by workers without a track of their own
    std::vector<std::vector<uint8_t>> Spare; // blocks given back, to be filled again
    std::size_t Ended = 0;                   // tracks whose outcome is known
    std::vector<TPipelineOutcome> Finished;  // outcomes not yet handed to OnDone
};
