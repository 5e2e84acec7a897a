#include "cdaccess/RipPipeline.h"

#include "cdaccess/EncodeFeed.h"
#include "encoding/LameCoder.h"
#include "ripjob/Mp3Encoder.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>

namespace {

// PCM the encoder takes per pass (the pieces a block is cut into); the bytes do not
// depend on it, the encoder's own chunks being cut across passes.
constexpr std::size_t PassBytes = std::size_t{1} << 16;

std::string TextOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

// One track in the pipeline. The reader fills Blocks, its worker empties them; both
// under the pipeline's mutex.
struct TRipPipeline::Slot {
    TPipelineTrack Track;
    std::size_t Expected = 0; // PCM bytes of the whole track
    std::deque<std::vector<uint8_t>> Blocks;
    std::size_t Received = 0;
    std::size_t Consumed = 0;
    bool Taken = false;        // a worker has it
    bool Dead = false;         // its worker has ended: further PCM is dropped
    bool ReadDone = false;     // no more PCM will come
    bool ReadComplete = false; // read to its end
    std::string ReadError;
    bool WorkerEnded = false;
    bool Reported = false;
    TPipelineOutcome Outcome;
};

TRipPipeline::TRipPipeline(TCDRIP& rip, const TLameCoder& settings)
    : Rip(rip), OwnFormat(std::make_unique<Mp3Format>(&settings, nullptr)), Format(*OwnFormat) {}

TRipPipeline::TRipPipeline(TCDRIP& rip, const EncoderFormat& format) : Rip(rip), Format(format) {}

TRipPipeline::~TRipPipeline() = default;

unsigned TRipPipeline::DefaultWorkers() {
    return std::max(1U, std::thread::hardware_concurrency());
}

std::size_t TRipPipeline::CapFor(unsigned workers, std::size_t tracks) {
    const std::size_t others = std::size_t{std::max(1U, workers)} * EncoderBytes +
                               std::min(tracks, std::size_t{1000}) * KeptPerTrackBytes;
    return others + MinCapBytes >= MemoryCapBytes ? MinCapBytes : MemoryCapBytes - others;
}

void TRipPipeline::StopEncoding() {
    {
        std::lock_guard lock(Mutex);
        StopAll = true;
    }
    WorkerWake.notify_all();
}

std::size_t TRipPipeline::PeakHeld() const {
    std::lock_guard lock(Mutex);
    return Peak;
}

std::vector<TEncodingTrack> TRipPipeline::Encoding() const {
    std::lock_guard lock(Mutex);
    std::vector<TEncodingTrack> list;
    for (const auto& slot : Slots) {
        if (slot->Taken && !slot->WorkerEnded) {
            const std::size_t whole = std::max<std::size_t>(1, slot->Expected);
            list.push_back({slot->Track.TrackNum, static_cast<int>(std::min<std::size_t>(
                                                      100, slot->Consumed * 100 / whole))});
        }
    }
    return list;
}

// Hands the outcomes that are ready to OnDone, without the lock.
void TRipPipeline::Deliver() {
    std::vector<TPipelineOutcome> ready;
    {
        std::lock_guard lock(Mutex);
        ready.swap(Finished);
    }
    for (const TPipelineOutcome& outcome : ready) {
        if (OnDone) {
            OnDone(outcome);
        }
    }
}

// Waits for `ready` on the reader's thread, handing out outcomes and running the
// ripper's ProcessMessages meanwhile (window events, the stop request).
void TRipPipeline::WaitAndDeliver(std::unique_lock<std::mutex>& lock,
                                  const std::function<bool()>& ready) {
    while (!ready()) {
        ReaderWake.wait_for(lock, std::chrono::milliseconds(50));
        lock.unlock();
        Deliver();
        if (Rip.ProcessMessages) {
            Rip.ProcessMessages();
        }
        lock.lock();
    }
}

void TRipPipeline::Append(Slot& slot, const uint8_t* data, std::size_t count) {
    {
        std::unique_lock lock(Mutex);
        // A chunk larger than the cap still goes when nothing else is held.
        WaitAndDeliver(lock, [&] { return slot.Dead || Held == 0 || Held + count <= CapBytes; });
        if (slot.Dead || count == 0) {
            return;
        }
        // A block a worker has given back is filled again: no fresh pages to fault in
        // and clear for every piece of PCM.
        if (Spare.empty()) {
            slot.Blocks.emplace_back(data, data + count);
        } else {
            slot.Blocks.push_back(std::move(Spare.back()));
            Spare.pop_back();
            slot.Blocks.back().assign(data, data + count);
        }
        slot.Received += count;
        Held += count;
        Peak = std::max(Peak, Held);
    }
    WorkerWake.notify_all();
    Deliver();
}

void TRipPipeline::Run(const std::vector<TPipelineTrack>& Tracks) {
    {
        std::lock_guard lock(Mutex);
        Slots.clear();
        Finished.clear();
        NextSlot = 0;
        NoMoreTracks = false;
        StopAll = false;
        Held = Peak = Ended = 0;
    }
    // The encoders are made here, on the caller's thread; each worker uses its own.
    std::vector<std::unique_ptr<TrackEncoder>> coders;
    std::vector<std::thread> threads;
    const unsigned workers = std::max(1U, Workers);
    for (unsigned i = 0; i < workers; ++i) {
        coders.push_back(Format.NewEncoder());
    }
    struct Joiner {
        TRipPipeline& P;
        std::vector<std::thread>& Threads;
        ~Joiner() {
            {
                std::lock_guard lock(P.Mutex);
                P.NoMoreTracks = true;
                if (std::uncaught_exceptions() > 0) {
                    P.StopAll = true;
                }
            }
            P.WorkerWake.notify_all();
            for (std::thread& t : Threads) {
                t.join();
            }
        }
    } joiner{*this, threads};
    for (auto& coder : coders) {
        threads.emplace_back([this, c = coder.get()] { Worker(*c); });
    }

    const uint32_t bytesPerSector = PCMFormatOf(Rip.OutputFormat()).BytesPerSector;
    for (const TPipelineTrack& track : Tracks) {
        auto fresh = std::make_unique<Slot>();
        fresh->Track = track;
        fresh->Outcome.TrackNum = track.TrackNum;
        fresh->Outcome.FileName = track.FileName;
        const DiscTrack* t = Rip.Disc.Find(track.TrackNum);
        fresh->Expected =
            static_cast<std::size_t>(t != nullptr ? t->AudioSectors() : 0) * bytesPerSector;
        Slot& slot = *fresh;
        {
            std::lock_guard lock(Mutex);
            Slots.push_back(std::move(fresh));
        }
        WorkerWake.notify_all();
        if (OnBeginRead) {
            OnBeginRead(track.TrackNum);
        }
        const std::size_t before = Rip.JitterErrors.size();
        const std::size_t runsBefore = Rip.DamagedRuns.size();
        bool readAborted = true;
        std::string readError;
        const std::function<void()> read = [&] {
            Rip.CaptureTrack(track.TrackNum, [&](const uint8_t* data, std::size_t count) {
                Append(slot, data, count);
            });
            readAborted = Rip.Aborted();
        };
        try {
            if (ReadWith) {
                ReadWith(track.TrackNum, track.FileName, read);
            } else {
                read();
            }
        } catch (const std::exception& e) {
            readError = e.what();
        }
        {
            std::lock_guard lock(Mutex);
            slot.Outcome.JitterErrors.assign(
                Rip.JitterErrors.begin() +
                    static_cast<long>(std::min(before, Rip.JitterErrors.size())),
                Rip.JitterErrors.end());
            slot.Outcome.Damage = JoinRanges(std::vector<SectorRange>(
                Rip.DamagedRuns.begin() +
                    static_cast<long>(std::min(runsBefore, Rip.DamagedRuns.size())),
                Rip.DamagedRuns.end()));
            slot.Outcome.JitterErrorCount = Rip.JitterErrorCount;
            slot.ReadDone = true;
            slot.ReadComplete = readError.empty() && !readAborted;
            slot.ReadError = readError;
            if (slot.WorkerEnded && !slot.Reported) {
                slot.Reported = true;
                Finished.push_back(slot.Outcome);
                ++Ended;
            }
        }
        WorkerWake.notify_all();
        Deliver();
        if (Rip.Aborted()) {
            break; // the tracks after the stopped one are not started
        }
    }
    {
        std::unique_lock lock(Mutex);
        NoMoreTracks = true;
        WorkerWake.notify_all();
        WaitAndDeliver(lock, [&] { return Ended == Slots.size(); });
        Spare.clear();
        Spare.shrink_to_fit();
    }
    Deliver();
}

void TRipPipeline::Worker(TrackEncoder& coder) {
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(Mutex);
            WorkerWake.wait(lock, [&] { return NextSlot < Slots.size() || NoMoreTracks; });
            if (NextSlot >= Slots.size()) {
                return;
            }
            slot = Slots[NextSlot++].get();
            slot->Taken = true;
        }
        Encode(coder, *slot);
    }
}

// Encodes one track as TCDRIP::RipTrack does and ends it with the same steps: flush and
// close the encoder stream, the tags, then keep, name or remove the file.
void TRipPipeline::Encode(TrackEncoder& coder, Slot& slot) {
    std::optional<OutputFiles::TPartialFile> file;
    std::exception_ptr error;
    bool streamStarted = false;
    bool removeFile = false;
    bool complete = false;
    bool stopped = false;
    bool started = false;
    std::string readError;
    try {
        {
            std::lock_guard lock(Mutex);
            stopped = StopAll; // a stopped job starts no file
        }
        if (!stopped) {
            started = true;
            const auto options = FileOptions.find(slot.Track.TrackNum);
            file.emplace(slot.Track.FileName, options != FileOptions.end()
                                                  ? options->second
                                                  : OutputFiles::TPartialOptions{});
            try {
                const TPCMFormat fmt = PCMFormatOf(Rip.OutputFormat());
                coder.ForTrack(slot.Track.TrackNum);
                coder.Start(*file, PcmShape{fmt.SampleRate, fmt.Channels}, slot.Expected,
                            PassBytes);
                streamStarted = true;
            } catch (...) {
                removeFile = true;
                throw;
            }
        }
        while (!stopped) {
            std::vector<uint8_t> block;
            {
                std::unique_lock lock(Mutex);
                WorkerWake.wait(lock,
                                [&] { return !slot.Blocks.empty() || slot.ReadDone || StopAll; });
                if (StopAll) {
                    stopped = true;
                    break;
                }
                if (slot.Blocks.empty()) {
                    complete = slot.ReadComplete;
                    readError = slot.ReadError;
                    if (!readError.empty() && slot.Received == 0) {
                        removeFile = true; // the track could not be read at all: no file
                    }
                    break;
                }
                block = std::move(slot.Blocks.front());
                slot.Blocks.pop_front();
            }
            struct Release {
                TRipPipeline& P;
                Slot& S;
                std::vector<uint8_t>& Block;
                std::size_t Bytes;
                ~Release() {
                    {
                        std::lock_guard lock(P.Mutex);
                        P.Held -= Bytes;
                        S.Consumed += Bytes;
                        P.Spare.push_back(std::move(Block));
                    }
                    P.ReaderWake.notify_all();
                }
            } release{*this, slot, block, block.size()};
            coder.Feed(block.data(), block.size());
        }
    } catch (...) {
        error = std::current_exception();
    }

    auto step = [&error](auto&& body) { RunEndStep(error, body); };
    bool flushed = true;
    if (streamStarted) {
        step([&] { flushed = coder.Flush(); });
    }
    if (started) {
        step([&] { coder.Close(); });
    }
    bool written = false;
    if (file) {
        if (removeFile) {
            file->Discard();
        } else {
            const bool whole = complete && !error && flushed && !stopped;
            if (BeforeFinish && (whole || !file->PreviousExisted())) {
                step([&] {
                    std::string why;
                    if (!BeforeFinish(slot.Track, file->TempName(), &why)) {
                        throw ECDRIPError(why);
                    }
                });
            }
            step([&] { written = file->Finish(whole && !error); });
        }
    }
    std::string text = error      ? TextOf(error)
                       : !flushed ? WriteErrorText(file ? &*file : nullptr)
                                  : readError;
    {
        std::lock_guard lock(Mutex);
        slot.Dead = true;
        for (const auto& block : slot.Blocks) {
            Held -= block.size();
        }
        slot.Blocks.clear();
        slot.WorkerEnded = true;
        slot.Outcome.Complete = started && complete && text.empty() && !stopped;
        slot.Outcome.FileWritten = written;
        slot.Outcome.Error = std::move(text);
        if (slot.ReadDone && !slot.Reported) {
            slot.Reported = true;
            Finished.push_back(slot.Outcome);
            ++Ended;
        }
    }
    ReaderWake.notify_all();
}
