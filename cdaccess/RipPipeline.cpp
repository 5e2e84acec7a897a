#include "cdaccess/RipPipeline.h"

#include "cdaccess/EncodeFeed.h"
#include "encoding/LameCoder.h"
#include "ripjob/Mp3Encoder.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
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

// One track in the pipeline. The reader fills Blocks; its encoder and its meter (the
// format's observer, when it has one) each go through them, and a block is given back
// once both have passed it. All under the pipeline's mutex; a block is read outside it
// by the one that has reached it, which no one else removes before it has passed.
struct TRipPipeline::Slot {
    TPipelineTrack Track;
    std::size_t Expected = 0; // PCM bytes of the whole track
    std::deque<std::vector<uint8_t>> Blocks;
    std::size_t EncoderAt = 0; // blocks of Blocks the encoder has passed or is in
    std::unique_ptr<TrackObserver> Meter;
    std::size_t MeterAt = 0; // blocks of Blocks the meter has been given
    bool MeterBusy = false;  // a worker is giving the meter a block now
    bool MeterEnded = false; // its End has run (or there is none): it takes no more
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

std::size_t TRipPipeline::HelpedPieces() const {
    std::lock_guard lock(Mutex);
    return Helped;
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
        Held = Peak = Ended = Helped = 0;
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

    const TPCMFormat pcm = PCMFormatOf(Rip.OutputFormat());
    const uint32_t bytesPerSector = pcm.BytesPerSector;
    for (const TPipelineTrack& track : Tracks) {
        auto fresh = std::make_unique<Slot>();
        fresh->Track = track;
        fresh->Outcome.TrackNum = track.TrackNum;
        fresh->Outcome.FileName = track.FileName;
        const DiscTrack* t = Rip.Disc.Find(track.TrackNum);
        fresh->Expected =
            static_cast<std::size_t>(t != nullptr ? t->AudioSectors() : 0) * bytesPerSector;
        fresh->Meter = Format.NewObserver();
        fresh->MeterEnded = fresh->Meter == nullptr;
        if (fresh->Meter) {
            fresh->Meter->Begin(track.TrackNum, PcmShape{pcm.SampleRate, pcm.Channels},
                                fresh->Expected);
        }
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
        Slot* help = nullptr;
        {
            std::unique_lock lock(Mutex);
            // A track to encode first; else the meter of a track another worker encodes;
            // the worker ends when no track is left and no meter may need it any more.
            WorkerWake.wait(lock, [&] {
                help = NextSlot < Slots.size() ? nullptr : MeterToHelp();
                return NextSlot < Slots.size() || help != nullptr ||
                       (NoMoreTracks && !MeterMayNeedHelp());
            });
            if (NextSlot < Slots.size()) {
                slot = Slots[NextSlot++].get();
                slot->Taken = true;
            } else if (help != nullptr) {
                help->MeterBusy = true;
            } else {
                return;
            }
        }
        if (slot != nullptr) {
            Encode(coder, *slot);
        } else {
            HelpMeter(*help);
        }
    }
}

// A track being encoded whose meter no one feeds and which has blocks it has not had.
// The oldest first: its encoder ends first. Under the mutex.
TRipPipeline::Slot* TRipPipeline::MeterToHelp() const {
    if (StopAll) {
        return nullptr;
    }
    for (std::size_t i = 0; i < NextSlot && i < Slots.size(); ++i) {
        Slot& s = *Slots[i];
        if (!s.WorkerEnded && !s.MeterEnded && !s.MeterBusy && s.MeterAt < s.Blocks.size()) {
            return &s;
        }
    }
    return nullptr;
}

// Whether a track being encoded still has a meter that has not ended. Under the mutex.
bool TRipPipeline::MeterMayNeedHelp() const {
    if (StopAll) {
        return false;
    }
    for (std::size_t i = 0; i < NextSlot && i < Slots.size(); ++i) {
        if (!Slots[i]->WorkerEnded && !Slots[i]->MeterEnded) {
            return true;
        }
    }
    return false;
}

// Gives back the blocks at the front of the slot that its encoder and its meter have
// both passed, to be filled again. Under the mutex.
void TRipPipeline::Trim(Slot& slot) {
    bool released = false;
    while (!slot.Blocks.empty() && slot.EncoderAt > 0 && (slot.MeterEnded || slot.MeterAt > 0)) {
        Held -= slot.Blocks.front().size();
        Spare.push_back(std::move(slot.Blocks.front()));
        slot.Blocks.pop_front();
        --slot.EncoderAt;
        if (slot.MeterAt > 0) {
            --slot.MeterAt;
        }
        released = true;
    }
    if (released) {
        ReaderWake.notify_all();
    }
}

// Gives the slot's meter, which the caller has marked busy, its next blocks while `go`
// holds: up to the blocks its encoder has passed, or every block there is. Returns how
// many it gave.
std::size_t TRipPipeline::FeedMeter(Slot& slot, std::unique_lock<std::mutex>& lock,
                                    bool upToEncoder, const std::function<bool()>& go) {
    std::size_t fed = 0;
    while (slot.MeterAt < (upToEncoder ? slot.EncoderAt : slot.Blocks.size()) && go()) {
        const std::vector<uint8_t>& block = slot.Blocks[slot.MeterAt];
        lock.unlock();
        slot.Meter->Add(block.data(), block.size());
        lock.lock();
        ++slot.MeterAt;
        ++fed;
        Trim(slot);
    }
    return fed;
}

// A worker without a track of its own feeds another track's meter, as long as it has
// blocks to give it and no new track waits for an encoder.
void TRipPipeline::HelpMeter(Slot& slot) {
    {
        std::unique_lock lock(Mutex);
        Helped +=
            FeedMeter(slot, lock, false, [&] { return !StopAll && NextSlot >= Slots.size(); });
        slot.MeterBusy = false;
    }
    WorkerWake.notify_all();
}

// The encoder's own feeding of its track's meter, up to the blocks it has encoded,
// when no other worker is at it.
void TRipPipeline::MeterAlong(Slot& slot) {
    {
        std::unique_lock lock(Mutex);
        if (slot.MeterEnded || slot.MeterBusy || slot.MeterAt >= slot.EncoderAt) {
            return;
        }
        slot.MeterBusy = true;
        FeedMeter(slot, lock, true, [] { return true; });
        slot.MeterBusy = false;
    }
    WorkerWake.notify_all();
}

// The end of the slot's meter, before its encoder ends its stream: once no other worker
// feeds it, the blocks it has not had (when the track is whole), then its End.
void TRipPipeline::EndMeter(Slot& slot, bool whole) {
    {
        std::unique_lock lock(Mutex);
        WorkerWake.wait(lock, [&] { return !slot.MeterBusy; });
        if (slot.MeterEnded) {
            return;
        }
        slot.MeterBusy = true;
        if (whole) {
            FeedMeter(slot, lock, false, [] { return true; });
        }
        const bool all = whole && slot.MeterAt == slot.Blocks.size();
        lock.unlock();
        slot.Meter->End(all);
        lock.lock();
        slot.MeterBusy = false;
        slot.MeterEnded = true;
        Trim(slot);
    }
    WorkerWake.notify_all();
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
            const std::vector<uint8_t>* block = nullptr;
            {
                std::unique_lock lock(Mutex);
                WorkerWake.wait(lock, [&] {
                    return slot.EncoderAt < slot.Blocks.size() || slot.ReadDone || StopAll;
                });
                if (StopAll) {
                    stopped = true;
                    break;
                }
                if (slot.EncoderAt == slot.Blocks.size()) {
                    complete = slot.ReadComplete;
                    readError = slot.ReadError;
                    if (!readError.empty() && slot.Received == 0) {
                        removeFile = true; // the track could not be read at all: no file
                    }
                    break;
                }
                block = &slot.Blocks[slot.EncoderAt];
            }
            struct Passed {
                TRipPipeline& P;
                Slot& S;
                std::size_t Bytes;
                ~Passed() {
                    std::lock_guard lock(P.Mutex);
                    ++S.EncoderAt;
                    S.Consumed += Bytes;
                    P.Trim(S);
                }
            };
            {
                const Passed passed{*this, slot, block->size()};
                coder.Feed(block->data(), block->size());
            }
            MeterAlong(slot);
        }
    } catch (...) {
        error = std::current_exception();
    }

    auto step = [&error](auto&& body) { RunEndStep(error, body); };
    // The meter ends first: a format writes the track's gain when its stream ends.
    EndMeter(slot, started && complete && !error && !stopped);
    bool flushed = true;
    if (streamStarted) {
        step([&] { flushed = coder.Flush(); });
    }
    if (started) {
        step([&] { coder.Close(); });
    }
    bool written = false;
    std::string kept;
    // A track whose reading failed (the drive or its disc went away) keeps what was
    // encoded of it, but not under its final name.
    const bool failed = !readError.empty();
    if (file) {
        if (removeFile || (failed && slot.Consumed == 0)) {
            file->Discard();
        } else if (failed) {
            kept = file->Keep();
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
        slot.Outcome.PartialKept = std::move(kept);
        slot.Outcome.Error = std::move(text);
        if (slot.ReadDone && !slot.Reported) {
            slot.Reported = true;
            Finished.push_back(slot.Outcome);
            ++Ended;
        }
    }
    ReaderWake.notify_all();
}
