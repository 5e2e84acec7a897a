#include "ripjob/ArFirst.h"

#include "verify/ArChecksum.h"
#include "verify/DiscIds.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

namespace {

constexpr std::size_t SectorBytes = 2352;
constexpr int32_t EdgeSectors = 5; // the samples AccurateRip leaves out, in whole sectors
// The most PCM the one pass keeps of tracks read before their turn: more than two of the
// largest drive caches the reader defeats.
constexpr std::size_t AheadBytes = std::size_t{48} << 20;

// The ripper's damage lists and count as they are now, put back when it ends: what the
// one pass and the stretches read securely report is no damage of the track.
struct KeepDamage {
    TCDRIP& Rip;
    std::size_t Runs = Rip.DamagedRuns.size();
    std::size_t Errors = Rip.JitterErrors.size();
    int32_t Count = Rip.JitterErrorCount;
    std::vector<SectorRange> Added() const {
        return {Rip.DamagedRuns.begin() + static_cast<long>(std::min(Runs, Rip.DamagedRuns.size())),
                Rip.DamagedRuns.end()};
    }
    void Restore() const {
        Rip.DamagedRuns.resize(std::min(Runs, Rip.DamagedRuns.size()));
        Rip.JitterErrors.resize(std::min(Errors, Rip.JitterErrors.size()));
        Rip.JitterErrorCount = Count;
    }
    ~KeepDamage() { Restore(); }
};

// The one pass's reads go around the job's checksums: OnPCM is the test read's and
// the final extraction's.
struct HoldPcmTap {
    TCDRIP& Rip;
    std::function<void(const uint8_t*, std::size_t)> Held = std::move(Rip.OnPCM);
    ~HoldPcmTap() { Rip.OnPCM = std::move(Held); }
};

// The suspect stretches of a one pass are read securely on a smaller budget: a sector
// that does not read within it is damaged, and its track is read securely whole anyway,
// with the full budget, so that a stretch costs little more than once what the damage
// costs the secure reading.
constexpr int32_t StretchRetries = 6;

struct StretchBudget {
    TCDRIP& Rip;
    int32_t Held = Rip.ParanoiaRetries();
    explicit StretchBudget(TCDRIP& rip) : Rip(rip) {
        if (Held > StretchRetries) {
            Rip.SetParanoiaRetries(StretchRetries);
        }
    }
    ~StretchBudget() { Rip.SetParanoiaRetries(Held); }
};

struct OnePassMode {
    TCDRIP& Rip;
    explicit OnePassMode(TCDRIP& rip) : Rip(rip) { Rip.SetOnePass(true); }
    ~OnePassMode() { Rip.SetOnePass(false); }
};

// Thrown by a one pass's sink to end the pass: the answer says it cannot prove its track.
struct PassNotNeeded {
    bool ByAnswer = false; // rather than by damage
};

int64_t SectorsReadOf(const TCDRIP& rip) {
    return std::max<int64_t>(rip.SectorsRead(), 0);
}

} // namespace

ArFirstReading::ArFirstReading(TCDRIP& rip, const JobProofOptions& options)
    : Rip(rip), Options(options) {}

ArFirstReading::~ArFirstReading() {
    if (On) {
        Rip.DropSecurePlans();
    }
    if (Pending.valid()) {
        Pending.wait(); // bounded by the look-up's timeout
    }
}

void ArFirstReading::Start(const DiscToc& toc, const std::vector<int>& numbers) {
    On = Options.ArFirst && Options.AccurateRip && Rip.JitterCorrect() &&
         Rip.OutputFormat() == TOutputFormat::STEREO44100;
    Numbers = numbers;
    if (!On) {
        return;
    }
    const AccurateRipIds ids = AccurateRipDiscIds(toc);
    const long timeout = Options.TimeoutSeconds;
    Pending = std::async(std::launch::async, [ids, timeout] { return FetchDbar(ids, timeout); });
    // The edges' secure readings of a proven first and last track, planned now: the one
    // pass makes their reads while it goes by.
    Rip.DropSecurePlans();
    auto plan = [&](int number, bool start) {
        const DiscTrack* d = Rip.Disc.Find(number);
        if (d == nullptr || !d->IsAudio() || d->AudioSectors() < EdgeSectors ||
            static_cast<std::size_t>(d->AudioSectors()) * SectorBytes > MaxTrackBytes ||
            std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
            return;
        }
        if (start) {
            Rip.PlanSecureRange(d->FirstAudio, d->FirstAudio + EdgeSectors - 1);
        } else {
            Rip.PlanSecureRange(d->LastAudio - EdgeSectors + 1, d->LastAudio);
        }
    };
    plan(Rip.Disc.FirstAudioNumber(), true);
    plan(Rip.Disc.LastAudioNumber(), false);
}

ArFirstReading::Pass ArFirstReading::ReadOnce(int number, std::size_t bytes, bool watch) {
    Pass p;
    p.Pcm = std::make_shared<std::vector<uint8_t>>();
    const HoldPcmTap tap{Rip};
    const KeepDamage keep{Rip};
    try {
        p.Pcm->reserve(bytes);
        const OnePassMode mode(Rip);
        Rip.CaptureTrack(number, [&](const uint8_t* data, std::size_t count) {
            p.Pcm->insert(p.Pcm->end(), data, data + count);
            // The look-up answers while the first track is read: a disc the database
            // does not know (or no answer) ends the pass at once, and so does an
            // answer with nothing that could prove this track.
            const ArDiscAnswer* answer = watch ? AnswerIfReady() : nullptr;
            if (answer != nullptr && !Provable(*answer, number)) {
                throw PassNotNeeded{true};
            }
            // On a drive without C2 error pointers a sector that did not read sends the
            // whole track to the secure reading (see Prepare): the rest of the pass
            // would be read for nothing.
            if (Rip.DamagedRuns.size() > keep.Runs && Rip.DriveC2() != 1) {
                throw PassNotNeeded{};
            }
        });
    } catch (const PassNotNeeded& e) {
        p.Read = SectorsReadOf(Rip); // left out of the count when ended by the answer
        (void)e;
        p.Suspects = JoinRanges(keep.Added());
        return p; // read securely whole
    } catch (const std::exception&) {
        return p; // the secure reading says what is wrong
    }
    p.Read = SectorsReadOf(Rip);
    p.Suspects = JoinRanges(keep.Added());
    p.Complete = !Rip.Aborted() && p.Pcm->size() == bytes;
    return p;
}

void ArFirstReading::ReadAheadFor(int number, int32_t first, int32_t last) {
    auto it = std::find(Numbers.begin(), Numbers.end(), number);
    std::size_t kept = 0;
    for (const auto& [n, p] : Ahead) {
        kept += p.Pcm ? p.Pcm->size() : 0;
    }
    for (it = it == Numbers.end() ? it : it + 1;
         it != Numbers.end() && !Rip.SecureRangeReady(first, last) && !Rip.Aborted(); ++it) {
        if (Ahead.count(*it) != 0) {
            continue;
        }
        const DiscTrack* d = Rip.Disc.Find(*it);
        if (d == nullptr || !d->IsAudio() || Got == std::nullopt || !Provable(*Got, *it)) {
            return; // a track no one pass can prove is read securely in its turn
        }
        const std::size_t bytes = static_cast<std::size_t>(d->AudioSectors()) * SectorBytes;
        if (bytes == 0 || bytes > MaxTrackBytes || kept + bytes > AheadBytes) {
            return;
        }
        Pass p = ReadOnce(*it, bytes);
        if (!p.Complete && !p.Suspects.empty() && !Rip.Aborted()) {
            // Ended at damage: its turn reads it securely; the pass goes on past it.
            kept += p.Pcm->size();
            Ahead[*it] = std::move(p);
            continue;
        }
        if (!p.Complete) {
            return; // read again in its turn
        }
        kept += bytes;
        Ahead[*it] = std::move(p);
    }
}

const ArDiscAnswer* ArFirstReading::WaitAnswer() {
    if (!Got && Pending.valid()) {
        // The front end goes on answering (the window's events, a stop) meanwhile.
        while (Pending.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            if (Rip.ProcessMessages) {
                Rip.ProcessMessages();
            }
        }
        try {
            Got = Pending.get();
        } catch (const std::exception& e) {
            ArDiscAnswer none;
            none.State = ArDiscAnswer::Unreachable;
            none.Error = e.what();
            Got = none;
        }
    }
    return Got ? &*Got : nullptr;
}

const ArDiscAnswer* ArFirstReading::AnswerIfReady() {
    if (!Got && Pending.valid() &&
        Pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return nullptr;
    }
    return WaitAnswer();
}

bool ArFirstReading::Provable(const ArDiscAnswer& answer, int number) const {
    if (answer.State != ArDiscAnswer::Found || number < 1) {
        return false;
    }
    const auto index = static_cast<std::size_t>(number - 1);
    for (const DbarRecord& r : answer.File.Records) {
        // Only the disc's own records vouch (as when the track is matched).
        if (r.Tracks.size() != static_cast<std::size_t>(answer.Disc.AudioTracks) ||
            r.Id1 != answer.Disc.Id1 || r.Id2 != answer.Disc.Id2 || r.Cddb != answer.Disc.Cddb ||
            index >= r.Tracks.size()) {
            continue;
        }
        const DbarTrack& t = r.Tracks[index];
        if (t.Checksum != 0 && t.Confidence >= Options.ArMinConfidence) {
            return true;
        }
    }
    return false;
}

bool ArFirstReading::NextReadOnce(int number) const {
    const auto it = std::find(Numbers.begin(), Numbers.end(), number);
    if (it == Numbers.end() || it + 1 == Numbers.end() || !Got) {
        return false;
    }
    const DiscTrack* d = Rip.Disc.Find(number);
    const DiscTrack* next = Rip.Disc.Find(*(it + 1));
    return d != nullptr && next != nullptr && next->IsAudio() &&
           next->FirstAudio == d->LastAudio + 1 && Provable(*Got, *(it + 1));
}

std::optional<ArDiscAnswer> ArFirstReading::Answer() {
    if (!On) {
        return std::nullopt;
    }
    const ArDiscAnswer* a = WaitAnswer();
    return a != nullptr ? std::optional<ArDiscAnswer>(*a) : std::nullopt;
}

bool ArFirstReading::ReadSecurely(int32_t first, int32_t last, int32_t trackFirst,
                                  std::vector<uint8_t>& pcm, Track& t,
                                  std::vector<SectorRange>* listed) {
    const int32_t trackLast = trackFirst + static_cast<int32_t>(pcm.size() / SectorBytes) - 1;
    first = std::max(first, trackFirst);
    last = std::min(last, trackLast);
    if (first > last) {
        return true;
    }
    const KeepDamage keep{Rip};
    std::vector<uint8_t> got;
    try {
        Rip.CaptureRange(first, last, [&got](const uint8_t* data, std::size_t count) {
            got.insert(got.end(), data, data + count);
        });
    } catch (const std::exception&) {
        return false;
    }
    t.Read += SectorsReadOf(Rip);
    const std::size_t want = static_cast<std::size_t>(last - first + 1) * SectorBytes;
    if (Rip.Aborted() || Rip.JitterErrorCount != 0 || !keep.Added().empty() || got.size() != want) {
        if (listed != nullptr) {
            *listed = keep.Added();
            // The disc sectors the stretch's bytes come from, with the read offset.
            const int32_t shift = ShiftSectors();
            const int32_t rest = Rip.ReadOffset() * 4 - shift * 2352;
            listed->push_back(
                {static_cast<uint32_t>(std::max(first + shift, 0)),
                 static_cast<uint32_t>(std::max(last + shift + (rest > 0 ? 1 : 0), 0))});
            *listed = JoinRanges(*listed);
        }
        return false;
    }
    // Where the one pass read other bytes, the secure ones win.
    std::memcpy(pcm.data() + static_cast<std::size_t>(first - trackFirst) * SectorBytes, got.data(),
                want);
    return true;
}

int32_t ArFirstReading::ShiftSectors() const {
    const int32_t shift = Rip.ReadOffset() * 4;
    return shift >= 0 ? shift / 2352 : -((-shift + 2351) / 2352); // whole sectors, rounded down
}

void ArFirstReading::KeepTail(const DiscTrack& d, const std::vector<uint8_t>& pcm) {
    // The track's byte j is the disc's byte FirstAudio * 2352 + shift + j: the disc
    // sector right after the track's reading starts at its byte size - rest.
    constexpr std::size_t Keep = 8;
    const int32_t shiftSectors = ShiftSectors();
    const auto rest = static_cast<std::size_t>(Rip.ReadOffset() * 4 - shiftSectors * 2352);
    Tail = ProvenTail{};
    if (pcm.size() < (Keep + 1) * SectorBytes + rest ||
        pcm.size() != static_cast<std::size_t>(d.AudioSectors()) * SectorBytes) {
        return;
    }
    const std::size_t end = pcm.size() - rest;
    Tail.End = d.LastAudio + 1 + shiftSectors;
    Tail.Sectors.assign(pcm.begin() + static_cast<long>(end - Keep * SectorBytes),
                        pcm.begin() + static_cast<long>(end));
}

void ArFirstReading::Prepare(int number) {
    Rip.Replay.reset();
    Rip.ReplayDamage.clear();
    Rip.ReplayStopped = false;
    Track& t = Tracks[number];
    t = Track{};
    // What the track before proved is for this track alone.
    const ProvenTail before = std::move(Tail);
    Tail = ProvenTail{};
    const DiscTrack* d = Rip.Disc.Find(number);
    if (d == nullptr || !d->IsAudio()) {
        return;
    }
    t.Sectors = d->AudioSectors();
    const std::size_t bytes = static_cast<std::size_t>(t.Sectors) * SectorBytes;
    if (!On || bytes == 0 || bytes > MaxTrackBytes) {
        return;
    }
    // A track left to the secure reading right after a proven one starts from that
    // track's proven end, handed over last (the readings of stretches and edges here
    // open ranges of their own). Its reading ends near its own end where the job's next
    // track gets a one pass of its own: nothing goes on from what it would read further.
    struct HandOver {
        ArFirstReading& A;
        const ProvenTail& Before;
        int32_t Start, End;
        int Number;
        ~HandOver() {
            if (A.Rip.Replay || A.Rip.ReplayStopped || A.Rip.Aborted()) {
                return;
            }
            if (Before.End == Start) {
                A.Rip.HandProvenSectors(Before.End, Before.Sectors);
            }
            if (A.NextReadOnce(Number)) {
                A.Rip.SetSecureReach(End);
            }
        }
    } handOver{*this, before, d->FirstAudio + ShiftSectors(), d->LastAudio + ShiftSectors(),
               number};
    // Once the answer is in (the first track is read while the look-up runs), a disc
    // the database cannot vouch for is read securely at once, and so is a track its
    // answer holds nothing for that could prove it (digital silence's checksum 0, an
    // empty slot, too low a confidence).
    if (const ArDiscAnswer* a = AnswerIfReady(); a != nullptr && !Provable(*a, number)) {
        if (a->State != ArDiscAnswer::Found) {
            Rip.DropSecurePlans();
            Ahead.clear();
        }
        Ahead.erase(number);
        return;
    }
    const HoldPcmTap tap{Rip};
    Pass pass;
    if (auto held = Ahead.find(number); held != Ahead.end()) {
        pass = std::move(held->second);
        Ahead.erase(held);
    } else {
        pass = ReadOnce(number, bytes, true);
    }
    t.Read += pass.Read;
    // How far a pass gets before the answer shows it was not needed is a matter of
    // timing: its reads are then left out of the track's count, which says what the
    // secure reading cost.
    const bool uncounted = Got && !Provable(*Got, number);
    if (uncounted) {
        t.Read -= pass.Read;
    }
    if (Got && Got->State != ArDiscAnswer::Found) {
        // Unknown to the database, or no answer: the secure reading, and nothing more
        // is read for the edges.
        Rip.DropSecurePlans();
        Ahead.clear();
        return;
    }
    std::shared_ptr<std::vector<uint8_t>> pcm = pass.Pcm;
    const std::vector<SectorRange> suspects = pass.Suspects;
    auto stopped = [this] {
        if (Rip.Aborted()) {
            Rip.ReplayStopped = true; // the extraction that follows ends at once
            return true;
        }
        return false;
    };
    if (stopped() || !pass.Complete) {
        return;
    }
    const ArDiscAnswer* answer = WaitAnswer();
    if (!uncounted && (answer == nullptr || !Provable(*answer, number))) {
        t.Read -= pass.Read;
    }
    if (answer == nullptr || answer->State != ArDiscAnswer::Found) {
        // Unknown to the database, or no answer: the secure reading, and nothing more
        // is read for the edges.
        Rip.DropSecurePlans();
        Ahead.clear();
        return;
    }
    // A suspect sector is reported at the disc sector that failed; with the read offset
    // its bytes reach the track's sectors around it: one more on either side.
    const int32_t shiftSectors = ShiftSectors();
    // On a drive without C2 error pointers every suspect sector is one the drive could
    // not read at all: such damage is found again by the secure reading of the whole
    // track, which it needs anyway, and reading its stretch first would pay for it twice.
    if (!suspects.empty() && Rip.DriveC2() != 1) {
        return;
    }
    const bool firstTrack = number == Rip.Disc.FirstAudioNumber();
    const bool lastTrack = number == Rip.Disc.LastAudioNumber();
    auto match = [&]() -> std::optional<ArTrackVerdict> {
        ArChecksum ar(static_cast<uint64_t>(t.Sectors) * ArChecksum::SamplesPerSector, firstTrack,
                      lastTrack);
        ar.Update(pcm->data(), pcm->size());
        if (ar.V2() == 0) {
            return std::nullopt; // digital silence: every disc's silence matches
        }
        // Only the v2 checksum proves a track.
        const ArTrackVerdict v =
            MatchTrack(*answer, static_cast<std::size_t>(number - 1), ar.V2(), ar.V2());
        if (v.Result != ArResult::Accurate || v.Version != 2 ||
            v.Confidence < Options.ArMinConfidence) {
            return std::nullopt;
        }
        return v;
    };
    // What the one pass kept of a flagged sector is what the drive delivered: where the
    // track's checksum proves it, no stretch needs reading securely.
    if (suspects.empty() || !match()) {
        for (const SectorRange& r : suspects) {
            const int32_t from = static_cast<int32_t>(r.first) - shiftSectors - 1;
            const int32_t to = static_cast<int32_t>(r.last) - shiftSectors + 1;
            const StretchBudget budget(Rip);
            if (!ReadSecurely(from, to, d->FirstAudio, *pcm, t)) {
                // A drive also flags bytes it read right: a stretch that does not read
                // securely is left as the one pass delivered it if the track's checksum
                // proves that; else the secure reading of the whole track says what is wrong.
                if (stopped() || !match()) {
                    return;
                }
                break;
            }
            t.SecureStretch += std::min(to, d->LastAudio) - std::max(from, d->FirstAudio) + 1;
        }
    }
    if (!match()) {
        return;
    }
    // The samples the checksum leaves out are read securely; for the first track's, the
    // one pass first goes on until the reads planned for them are made. The checksum
    // proves the rest of the track: an edge that does not read securely (a drive that
    // flags it on every read, a cache too large to defeat) is listed damaged as the one
    // pass delivered it, and the track is not read again whole for it.
    if (firstTrack) {
        ReadAheadFor(number, d->FirstAudio, d->FirstAudio + EdgeSectors - 1);
    }
    std::vector<SectorRange> edgeDamage;
    auto edge = [&](int32_t first, int32_t last) {
        std::vector<SectorRange> listed;
        if (ReadSecurely(first, last, d->FirstAudio, *pcm, t, &listed)) {
            return true;
        }
        if (stopped() || listed.empty()) {
            return false;
        }
        edgeDamage.insert(edgeDamage.end(), listed.begin(), listed.end());
        return true;
    };
    if (firstTrack && !edge(d->FirstAudio, d->FirstAudio + EdgeSectors - 1)) {
        return;
    }
    if (lastTrack && !edge(d->LastAudio - EdgeSectors + 1, d->LastAudio)) {
        return;
    }
    // The bytes as they will be written still match (the first track's fifth sector
    // holds one sample the checksum counts).
    const std::optional<ArTrackVerdict> v = match();
    if (!v) {
        return;
    }
    t.Proven = true;
    t.Confidence = v->Confidence;
    KeepTail(*d, *pcm);
    Rip.ReplayDamage = JoinRanges(edgeDamage);
    Rip.Replay = std::move(pcm);
}

void ArFirstReading::AfterRead(int number) {
    auto it = Tracks.find(number);
    if (it == Tracks.end()) {
        it = Tracks.emplace(number, Track{}).first;
        const DiscTrack* d = Rip.Disc.Find(number);
        it->second.Sectors = d != nullptr ? d->AudioSectors() : 0;
    }
    if (!it->second.Proven) {
        it->second.Read += SectorsReadOf(Rip);
    }
    Rip.Replay.reset();
    Rip.ReplayStopped = false;
}

std::string ArFirstReading::ProvenBy(int number, bool damaged) const {
    const auto it = Tracks.find(number);
    if (it == Tracks.end()) {
        return {};
    }
    if (damaged) {
        return "damaged";
    }
    const Track& t = it->second;
    if (t.Proven) {
        std::string text = "AccurateRip, one pass, confidence " + std::to_string(t.Confidence);
        if (t.SecureStretch > 0) {
            text += " (" + std::to_string(t.SecureStretch) + " suspect sectors read securely)";
        }
        return text;
    }
    return "secure reading, " + std::to_string(std::max<int64_t>(0, t.Read - t.Sectors)) +
           " re-reads";
}
