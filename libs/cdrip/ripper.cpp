#include "ripper.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace cdrip {
namespace {

constexpr int32_t kRaw = CDIO_CD_FRAMESIZE_RAW; // 2352 bytes a sector
constexpr int32_t kFrames = kRaw / 4;           // 588 stereo frames a sector

bool isMono(int format) {
    return format % 2 == 1;
}
int outRate(int format) {
    return format < 2 ? 44100 : format < 4 ? 22050 : 11025;
}

constexpr int32_t kAnchor = 2 * kRaw;         // proven bytes that pin a read
constexpr int32_t kHist = 8;                  // proven sectors kept before next_
constexpr int32_t kMaxShift = 6 * kRaw;       // lags at which the anchor must not repeat
constexpr int32_t kStep = 32;                 // new sectors one verified read asks for
constexpr int kVotes = 3;                     // reads from different places in one vote
constexpr int32_t kMargin = kMaxShift / kRaw; // sectors a shifted read can move an edge by

// Whether n bytes of audio look the same moved by some lag within kMaxShift: digital
// silence, or a tone that repeats within it (audio no proven sectors could pin).
bool repeats(const uint8_t* p, size_t n) {
    for (size_t lag = 4; lag <= size_t(kMaxShift) && lag < n; lag += 4)
        if (std::memcmp(p, p + lag, n - lag) == 0)
            return true;
    return false;
}

// A hash of one sector's bytes, never 0 (ReadHistory::firstSeen). It is taken of every
// sector the drive delivers first, so it goes eight bytes at a time in four lanes that do
// not wait on one another (multiply, rotate, multiply, as the xxHash rounds do), then
// mixes the lanes so that every bit of the sector reaches every bit of the hash.
uint64_t sectorHash(const uint8_t* p) {
    constexpr uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    static_assert(kRaw % 8 == 0);
    auto round = [](uint64_t acc, uint64_t w) { return std::rotl(acc + w * k2, 31) * k1; };
    uint64_t lane[4] = {k1 + k2, k2, 0, 0 - k1};
    int32_t i = 0;
    for (; i + 32 <= kRaw; i += 32)
        for (int k = 0; k < 4; ++k) {
            uint64_t w;
            std::memcpy(&w, p + i + 8 * k, 8);
            lane[k] = round(lane[k], w);
        }
    for (int k = 0; i < kRaw; i += 8, ++k) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        lane[k] = round(lane[k], w);
    }
    uint64_t h = std::rotl(lane[0], 1) + std::rotl(lane[1], 7) + std::rotl(lane[2], 12) +
                 std::rotl(lane[3], 18);
    h ^= h >> 33;
    h *= k2;
    h ^= h >> 29;
    h *= 0x165667B19E3779F9ull;
    h ^= h >> 32;
    return h | 1;
}

bool allZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// The first byte at which a and b differ, n when they do not.
int32_t firstDiff(const uint8_t* a, const uint8_t* b, int32_t n) {
    if (std::memcmp(a, b, size_t(n)) == 0)
        return n;
    int32_t i = 0;
    while (a[i] == b[i])
        ++i;
    return i;
}

// Copies that agree on `n` whole sectors from `agreed` and on its bytes up to `end`
// (past that they differ or stop; `agreed` holds the bytes up to there) prove how many
// of their first sectors? Reads that landed off by different amounts still agree where
// the audio looks the same under both shifts, above all in digital silence: where a
// silence ends in sound, each copy shows the sound only from where its own shift puts
// it, so the copies agree on silence up to the first of them and are all wrong before
// it by as much as they landed early; and where the reads end, sound just past the end
// may have been shifted out of all of them. Wrong bytes of that kind are the silent
// samples right before `end`, no more than kMaxShift of them: the sector that holds the
// first of them is not proven, and neither is any after it. At `audioEnd` (the
// agreement reached the end of the disc's audio) there is no further audio to show an
// edge, and every agreed sector counts.
int32_t provenPrefix(const uint8_t* agreed, int32_t n, int64_t end, bool audioEnd) {
    if (audioEnd)
        return n;
    const int64_t whole = end / 4 * 4; // samples every copy gives alike
    int64_t z = whole;
    while (z >= 4 && z > whole - kMaxShift && allZero(agreed + z - 4, 4))
        z -= 4;
    return z == whole ? n : int32_t(std::min<int64_t>(n, z / kRaw));
}

} // namespace

int32_t bytesPerSector(int format) {
    return 4 * kFrames / (isMono(format) ? 2 : 1) / (44100 / outRate(format));
}

bool Ripper::open(std::unique_ptr<SectorSource> source, int32_t first, int32_t last,
                  const RipSettings& settings) {
    settings_ = settings;
    if (settings_.discLast < last)
        settings_.discLast = last;
    first_ = pos_ = first;
    last_ = last;
    // The read offset moves the disc bytes delivered by shift bytes: sectors k.. on,
    // rest bytes into the first of them.
    const int64_t shift = int64_t(settings_.offsetSamples) * 4;
    shiftSectors_ = int32_t(shift >= 0 ? shift / kRaw : -((-shift + kRaw - 1) / kRaw));
    shiftRest_ = int32_t(shift - int64_t(shiftSectors_) * kRaw);
    if (settings_.audioLast < 0)
        settings_.audioLast = settings_.discLast;
    readFirst_ = std::max(first + shiftSectors_, settings_.audioFirst);
    readLast_ = std::min(last + shiftSectors_ + (shiftRest_ > 0 ? 1 : 0), settings_.audioLast);
    next_ = plainNext_ = readFirst_;
    source_ = std::move(source);
    if (!source_)
        return false;
    if (!settings_.readLog.empty())
        readLog_.reset(std::fopen(settings_.readLog.c_str(), "a"));
    if (outRate(settings_.format) != 44100 && !startResampler())
        return false;
    const int32_t bps = bytesPerSector(settings_.format);
    expected_ = int64_t(last - first + 1) * bps;
    // Two sectors' room beyond a full chunk takes the resampler's delay at the end.
    bufferSize_ = (settings_.sectorsPerChunk + 2) * bps;
    raw_.resize(size_t(settings_.sectorsPerChunk) * kRaw);
    hist_.assign(size_t(kHist + 64) * kRaw, 0);
    histEnd_ = kHist;
    // Proof never takes a copy the drive may have kept in its cache; a cache larger
    // than half the disc's audio could not be defeated by reading elsewhere.
    cache_ = defeatedCache(source_->cacheSectors(), settings_.audioLast);
    if (settings_.paranoia && cacheUndefeatable(source_->cacheSectors(),
                                                source_->saidCacheSectors(), settings_.audioLast)) {
        // A cache the reader cannot defeat answers every re-read with the bytes of the
        // first read, wrong ones included: copies that agree prove nothing. The range is
        // read once, and every sector of it is listed as unproven.
        settings_.paranoia = false;
        unprovable_ = true;
        undefeated_ = std::max(source_->cacheSectors(), source_->saidCacheSectors());
        cache_ = 0;
    }
    modelCache_ = cache_;
    // The cache the source may answer from, and what of it the reading defeats.
    if (readLog_)
        std::fprintf(readLog_.get(), "cache -1 0 0 -1 source %d defeated %d%s\n",
                     source_->cacheSectors(), cache_,
                     unprovable_ ? " (too large to defeat: nothing proven by re-reads)" : "");
    // Room for first copies of twice the cache: what one check reads is the cache's
    // worth of other sectors that makes the next block fresh.
    maxCandidates_ = 2 * (cache_ + 1) + 4 * kStep;
    // First copies go a little past the range while the disc's audio goes on, so that
    // an edge at the range's end shows.
    readLimit_ = std::min(readLast_ + kMargin, std::max(readLast_, settings_.audioLast));
    reachLast_ = settings_.reachLast < 0
                     ? settings_.audioLast
                     : std::clamp(settings_.reachLast, readLimit_, settings_.audioLast);
    // What the drive's cache may hold outlives one range: the ranges of one drive share
    // it, so that a range that starts where the last one ended does not take the
    // sectors the drive kept from it for fresh.
    history_ = settings_.history ? settings_.history : std::make_shared<ReadHistory>();
    if (cache_ > 0 && history_->lastRead.size() != size_t(settings_.discLast + 1)) {
        history_->clock = 0;
        history_->lastRead.assign(size_t(settings_.discLast + 1),
                                  std::numeric_limits<int32_t>::min());
    }
    if (history_->firstSeen.size() != size_t(settings_.discLast + 1)) {
        history_->firstSeen.assign(size_t(settings_.discLast + 1), 0);
        history_->firstBy.assign(size_t(settings_.discLast + 1), 0);
    }
    if (settings_.paranoia) {
        takeCarry();
        takeProven();
    }
    history_->carry.valid = false;
    // Only on a drive with a cache: there the pass's reads save reads that would meet the
    // pass's sectors in the cache and wait for a flush. Without one they would save reads
    // only where the pass came before the secure reading, which hangs on how soon the
    // look-up answered, and the reading's figures would change from run to run.
    if (settings_.paranoia && settings_.takePassCopy && cache_ > 0 && next_ == readFirst_ &&
        candCount_ == 0 && pendCount() == 0 && decided_.empty()) {
        std::vector<ReadHistory::PassCopy>& all = history_->passCopies;
        auto it = std::find_if(all.begin(), all.end(), [&](const ReadHistory::PassCopy& c) {
            return c.discLast == settings_.discLast && c.start == readFirst_;
        });
        if (it != all.end() && int32_t(it->places.size()) > readFirst_ - it->from) {
            passCopy_ = std::move(it->bytes);
            passLead_ = std::move(it->leads);
            passFrom_ = it->from;
            // The rest are first copies for the checks: from the range's first sector
            // where proven sectors pin the first check, else from the one after it (the
            // first vote decides the first, and would drop first copies held before it).
            const int32_t skip = readFirst_ - passFrom_ + (pinnable() ? 0 : 1);
            const int32_t n = int32_t(it->places.size()) - skip;
            if (n > 0) {
                pend_.assign(passCopy_.begin() + ptrdiff_t(size_t(skip) * kRaw), passCopy_.end());
                pendFrom_.assign(it->places.begin() + skip, it->places.end());
                pendLead_.assign(passLead_.begin() + skip, passLead_.end());
                pendStart_ = passFrom_ + skip;
                passHeld_ = n;
            }
        }
        if (it != all.end())
            all.erase(it);
    }
    return true;
}

Ripper::~Ripper() {
    if (settings_.paranoia && history_ && settings_.history)
        leaveCarry();
}

void Ripper::leaveCarry() {
    ReadHistory::Carry& c = history_->carry;
    c = ReadHistory::Carry{};
    c.discLast = settings_.discLast;
    c.next = next_;
    c.decidedFrom = next_ - int32_t(damaged_.size() - taken_);
    c.decided.assign(decided_.begin() + ptrdiff_t(taken_ * kRaw), decided_.end());
    c.damaged.assign(damaged_.begin() + ptrdiff_t(taken_), damaged_.end());
    // The sector delivered last is also the next range's first when the read offset
    // is not a whole number of sectors.
    if (lastOut_ >= 0 && lastOut_ == carryLsn_ && lastOut_ == c.decidedFrom - 1) {
        c.decided.insert(c.decided.begin(), carry_.begin(), carry_.end());
        c.damaged.insert(c.damaged.begin(), lastOutDamaged_);
        --c.decidedFrom;
    }
    c.histCount = histCount_;
    c.hist.assign(histEnd() - size_t(leadHeld_) * kRaw, histEnd()); // leadHeld_ >= histCount_
    c.adrift = adrift_;
    c.lastDamaged = lastDamaged_;
    c.cand.assign(cand_.begin() + ptrdiff_t(size_t(candHead_) * kRaw), cand_.end());
    c.candFrom.assign(candFrom_.begin() + candHead_, candFrom_.end());
    c.candLead.assign(candLead_.begin() + candHead_, candLead_.end());
    c.candProven.assign(candProven_.begin() + candHead_, candProven_.end());
    c.pend = pend_;
    c.pendFrom = pendFrom_;
    c.pendLead = pendLead_;
    c.pendStart = pendStart_;
    c.voteEnd = voteEnd_;
    c.steady = steady_;
    c.valid = true;
}

// A range that starts within what the last one decided past its end goes on from
// there, with its proven sectors and first copies.
void Ripper::takeCarry() {
    ReadHistory::Carry& c = history_->carry;
    if (!c.valid || c.discLast != settings_.discLast || readFirst_ < c.decidedFrom ||
        readFirst_ > c.next || c.hist.size() > size_t(kHist) * kRaw)
        return;
    const size_t skip = size_t(readFirst_ - c.decidedFrom);
    decided_.assign(c.decided.begin() + ptrdiff_t(skip * kRaw), c.decided.end());
    damaged_.assign(c.damaged.begin() + ptrdiff_t(skip), c.damaged.end());
    taken_ = 0;
    next_ = c.next;
    histCount_ = c.histCount;
    histEnd_ = kHist;
    leadHeld_ = int32_t(c.hist.size() / kRaw);
    if (!c.hist.empty()) // no proven sectors carried (after a damaged one): nothing to copy
        std::memcpy(hist_.data() + size_t(kHist - leadHeld_) * kRaw, c.hist.data(), c.hist.size());
    adrift_ = c.adrift;
    lastDamaged_ = c.lastDamaged;
    cand_ = std::move(c.cand);
    candFrom_ = std::move(c.candFrom);
    candLead_ = std::move(c.candLead);
    candProven_ = std::move(c.candProven);
    candHead_ = 0;
    candCount_ = int32_t(candFrom_.size());
    pend_ = std::move(c.pend);
    pendFrom_ = std::move(c.pendFrom);
    pendLead_ = std::move(c.pendLead);
    pendStart_ = c.pendStart;
    voteEnd_ = c.voteEnd;
    steady_ = c.steady;
}

// Sectors proven another way right before the range (the end of a track its AccurateRip
// checksum proved) stand for the proven sectors a range carried over from the one before
// would have: the first reads are checks pinned by them, not votes. Each check still
// needs the anchor and its first copies fresh; only the anchor's bytes come from here.
void Ripper::takeProven() {
    const int32_t n = int32_t(settings_.provenBefore.size() / kRaw);
    if (n < 1 || settings_.provenEnd != readFirst_ || next_ != readFirst_ || histCount_ > 0 ||
        candCount_ > 0 || !decided_.empty())
        return;
    const int32_t k = std::min(n, kHist);
    histEnd_ = kHist;
    std::memcpy(hist_.data() + size_t(kHist - k) * kRaw,
                settings_.provenBefore.data() + size_t(n - k) * kRaw, size_t(k) * kRaw);
    histCount_ = leadHeld_ = k;
}

// A one pass's reads are reads like the vote's own first one: from the disc (every
// sector of them fresh when it was read), delivered whole. They make one copy, from sectors
// the drive delivered one after the other; its two other copies still come from other
// places, fresh.
bool Ripper::takePassCopy(int32_t place, int32_t len, uint8_t* into, const uint8_t** copy,
                          int32_t* got, uint8_t* leads) {
    const int32_t held = int32_t(passCopy_.size() / kRaw);
    const int32_t skip = place - passFrom_;
    if (passFrom_ < 0 || skip < 0 || skip >= held)
        return false;
    const int32_t n = std::min(len, held - skip);
    if (place + n <= next_)
        return false; // it reaches no sector the vote decides
    std::memcpy(into, passCopy_.data() + size_t(skip) * kRaw, size_t(n) * kRaw);
    std::fill(leads, leads + n, 0);
    const auto lead0 = std::min<ptrdiff_t>(skip, ptrdiff_t(passLead_.size()));
    std::copy(passLead_.begin() + lead0,
              passLead_.begin() + std::min<ptrdiff_t>(skip + n, ptrdiff_t(passLead_.size())),
              leads);
    *copy = into;
    *got = n;
    return true;
}

void Ripper::dropPassCopy() {
    passCopy_.clear();
    passCopy_.shrink_to_fit();
    passLead_.clear();
    passFrom_ = -1;
}

void Ripper::keepPass(int32_t lsn, int32_t asked, int32_t got, const uint8_t* bytes,
                      const std::vector<uint8_t>& unheld) {
    if (cache_ == 0)
        return;
    constexpr size_t kPassCopies = 4;
    ReadHistory::PassCopy& tail = history_->passTail;
    auto tailEnd = [&] { return tail.from + int32_t(tail.places.size()); };
    std::vector<ReadHistory::PassCopy>& all = history_->passCopies;
    if (lsn == readFirst_ && passIndex_ < 0) {
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [&](const ReadHistory::PassCopy& c) {
                                     return c.discLast != settings_.discLast ||
                                            c.start == readFirst_;
                                 }),
                  all.end());
        if (all.size() >= kPassCopies)
            all.erase(all.begin());
        ReadHistory::PassCopy c;
        c.discLast = settings_.discLast;
        c.start = c.from = readFirst_;
        // The pass goes on from the range before: its last sectors lead this one's.
        if (tail.discLast == settings_.discLast && !tail.places.empty() && tailEnd() == lsn) {
            c.from = tail.from;
            c.bytes = tail.bytes;
            c.leads = tail.leads;
            c.places = tail.places;
        }
        all.push_back(std::move(c));
        passIndex_ = int(all.size()) - 1;
    }
    ReadHistory::PassCopy* c =
        passIndex_ >= 0 && size_t(passIndex_) < all.size() ? &all[size_t(passIndex_)] : nullptr;
    if (c && c->from + int32_t(c->places.size()) != lsn)
        c->open = false;
    if (tail.discLast != settings_.discLast || tailEnd() != lsn) {
        tail = ReadHistory::PassCopy{};
        tail.discLast = settings_.discLast;
        tail.from = lsn;
    }
    const size_t cap = size_t(maxCandidates_ + kHist);
    for (int32_t i = 0; i < asked; ++i) {
        const uint8_t* sector = bytes + size_t(i) * kRaw;
        if (i >= got || !unheld[size_t(i)] || retried_[size_t(i)]) {
            if (c)
                c->open = false;
            tail = ReadHistory::PassCopy{};
            tail.discLast = settings_.discLast;
            tail.from = lsn + i + 1;
            continue;
        }
        if (c && c->open && c->places.size() < cap) {
            c->bytes.insert(c->bytes.end(), sector, sector + kRaw);
            c->leads.push_back(starts_[size_t(i)]);
            c->places.push_back(lsn);
        } else if (c) {
            c->open = false;
        }
        tail.bytes.insert(tail.bytes.end(), sector, sector + kRaw);
        tail.leads.push_back(starts_[size_t(i)]);
        tail.places.push_back(lsn);
        if (tail.places.size() > size_t(kHist)) {
            tail.bytes.erase(tail.bytes.begin(), tail.bytes.begin() + kRaw);
            tail.leads.erase(tail.leads.begin());
            tail.places.erase(tail.places.begin());
            ++tail.from;
        }
    }
}

bool Ripper::startResampler() {
    const unsigned channels = isMono(settings_.format) ? 1 : 2;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = nullptr;
    soxr_.reset(soxr_create(44100, outRate(settings_.format), channels, &err, &io, &q, nullptr));
    return soxr_ && !err;
}

// One read. Before it, the last four bytes of each sector of the buffer get a mark of
// this read alone: a sector that still ends with it after the read was not delivered
// in full (a short transfer that reported success leaves the buffer as it was), so
// that stale bytes of an earlier read never take part in a proof. A sector the drive
// flagged with C2 errors ends the read there too. `why` names the read in the read
// log (CDRIP_READ_LOG).
int32_t Ripper::readRun(int32_t lsn, int32_t count, uint8_t* out, const char* why,
                        int32_t proveFrom, bool layOut) {
    if (count <= 0 || lsn < 0)
        return 0;
    const uint32_t mark = 0x80000001u | (++reads_ * 0x9E3779B1u);
    for (int32_t i = 0; i < count; ++i)
        std::memcpy(out + size_t(i + 1) * kRaw - 4, &mark, 4);
    c2_.assign(size_t(count), 0);
    int32_t got = 0;
    if (unprovable_ && settings_.paranoia && std::strcmp(why, "adrift") != 0) {
        // The cache turned out too large to defeat: a read to prove sectors or to defeat
        // the cache would only be answered from it. It is not made (it fails at once),
        // what waits for it is listed, and the rest is read once (see step).
        starts_.assign(size_t(count), 0);
        retried_.assign(size_t(count), 0);
        fast_.assign(size_t(count), 0);
        asked_ = 0;
    } else {
        got = sourceRead(lsn, count, out, layOut);
    }
    const bool flags = source_->hasC2();
    // Which sectors the drive transferred: those no longer ending with the mark, flagged
    // ones too. A short transfer ends what the read delivered, but the source may have
    // gone on with the next command, whose sectors did come from the drive.
    const int32_t answered = got;
    moved_.assign(size_t(count), 0);
    for (int32_t i = 0; i < answered; ++i) {
        uint32_t tail = 0;
        std::memcpy(&tail, out + size_t(i + 1) * kRaw - 4, 4);
        moved_[size_t(i)] = tail != mark ? 1 : 0;
        if (!moved_[size_t(i)] && got > i)
            got = i;
        if (flags && c2_[size_t(i)] != 0 && got > i)
            got = i;
    }
    // Which sectors that began a command hold what the drive delivered right before it
    // (the last read's last sector; within a read, the sector in front), and what the
    // drive delivered first of each sector. Only a drive echoes (not an image), and an
    // echo of digital silence is taken for silence read.
    echoes_.assign(size_t(count), 0);
    const bool drive = source_->commandSectors() > 0;
    // A read the drive could answer whole from its cache moves nothing on the disc: the
    // next one that reaches the disc goes on, landed as it was, from where the last one
    // that reached it ended. It counts as that read, so that a landing error found later
    // is followed along the drive's reading, not stopped at the cached read between.
    bool fromDisc = false;
    for (int32_t i = 0; i < answered && !fromDisc; ++i)
        fromDisc = moved_[size_t(i)] && fresh(lsn + i);
    const uint32_t id = fromDisc || history_->reads == 0 ? ++history_->reads : history_->reads;
    int32_t lastMoved = -1;
    for (int32_t i = 0; i < answered; ++i) {
        if (drive && starts_[size_t(i)]) {
            const uint8_t* prior = nullptr;
            if (i == 0 && !history_->lastBytes.empty())
                prior = history_->lastBytes.data();
            else if (i > 0 && moved_[size_t(i - 1)])
                prior = out + size_t(i - 1) * kRaw;
            echoes_[size_t(i)] = !prior || (std::memcmp(prior, out + size_t(i) * kRaw, kRaw) == 0 &&
                                            !allZero(prior, kRaw))
                                     ? 1
                                     : 0;
        }
        if (!moved_[size_t(i)])
            continue;
        lastMoved = i;
        if (size_t(lsn + i) >= history_->firstSeen.size())
            continue;
        uint64_t& seen = history_->firstSeen[size_t(lsn + i)];
        if (seen == 0 && !(flags && c2_[size_t(i)] != 0)) {
            seen = sectorHash(out + size_t(i) * kRaw);
            history_->firstBy[size_t(lsn + i)] = id;
        }
    }
    if (lastMoved >= 0)
        history_->lastBytes.assign(out + size_t(lastMoved) * kRaw,
                                   out + size_t(lastMoved + 1) * kRaw);
    // Only a sector the drive cannot have held, and did transfer, comes from the disc
    // and pushes another out of its cache: those move the clock (a sector a failed or
    // short transfer never reached may not be in the cache, or may be: counting it
    // neither way would let the clock run ahead of the drive). Every sector asked for
    // counts as used now. From `proveFrom` on, a sector the drive could have answered
    // from its cache ends what the read delivered.
    // A sector the drive delivered after a command over it failed in this read came
    // from its cache, and the one that failed may be whatever the drive kept for it (the
    // sector it delivered before): from `proveFrom` on, it ends what the read delivered.
    // Reading it again at once would be answered the same way, so it asks no flush.
    for (int32_t i = std::max(0, proveFrom - lsn); i < got; ++i)
        if (retried_[size_t(i)]) {
            got = i;
            break;
        }
    // Sectors no command asked for were not read: what the drive may hold of them is what
    // it held before.
    stale_ = false;
    // A re-read the reader takes for fresh that the drive answered far faster than the
    // disc gives sectors came from its cache: the cache is larger than taken. Then none of
    // the read's re-reads is fresh (its short commands are not timed, but went to the
    // same place), none of them moves the clock, and from `proveFrom` on the first of
    // them ends what the read delivered, as a sector the drive may hold does.
    const auto reread = [&](int32_t i) {
        const int64_t at = int64_t(lsn) + i;
        return at < int64_t(history_->lastRead.size()) && moved_[size_t(i)] &&
               !retried_[size_t(i)] &&
               history_->lastRead[size_t(at)] != std::numeric_limits<int32_t>::min() &&
               history_->clock - history_->lastRead[size_t(at)] > modelCache_;
    };
    std::vector<uint8_t> gone(size_t(answered), 0);
    for (int32_t i = 0; i < answered && i < got; ++i)
        gone[size_t(i)] = reread(i) ? 1 : 0;
    const bool fromCache =
        cache_ > 0 && answeredFromCache(fast_.data(), starts_.data(), gone.data(), got, answered);
    fastAnswer_ = fromCache;
    for (int32_t i = 0; i < asked_ && modelCache_ > 0; ++i) {
        const int64_t at = int64_t(lsn) + i;
        if (at >= int64_t(history_->lastRead.size()))
            break;
        int32_t& last = history_->lastRead[size_t(at)];
        if (!moved_[size_t(i)] || retried_[size_t(i)]) {
            last = int32_t(history_->clock);
            continue;
        }
        if (fromCache && reread(i)) {
            if (at >= proveFrom && i < got) {
                got = i;
                stale_ = true;
            }
        } else if (history_->clock - last > modelCache_) {
            ++history_->clock;
        } else if (cache_ > 0 && at >= proveFrom && i < got) {
            got = i;
            stale_ = true;
        }
        last = int32_t(history_->clock);
    }
    readOnce_ = readOnce_ || got > 0;
    history_->head = lsn + count;
    if (readLog_)
        std::fprintf(readLog_.get(), "%s %d %d %d %d\n", why, lsn, count, got,
                     proveFrom < lsn + count ? std::max(proveFrom, lsn) : -1);
    if (fromCache)
        answeredFast();
    return got;
}

bool ReadHistory::fastReread() {
    // One fast answer could be a stray (a drive that kept a few sectors aside): only a
    // second one makes the cache larger (each needs a tenth of the disc's time for many
    // sectors; a third could come too late, as the reading takes fewer re-reads before
    // it, each of them one more copy that may come from the cache untimed). Each one's
    // copies were not taken for fresh anyway.
    constexpr int32_t kEnough = 2;
    if (++fastRereads < kEnough)
        return false;
    fastRereads = 0;
    return true;
}

void Ripper::answeredFast() {
    if (unprovable_ || !history_->fastReread() || !source_->growCache())
        return;
    const int32_t sourceCache = source_->cacheSectors();
    if (cacheUndefeatable(sourceCache, source_->saidCacheSectors(), settings_.audioLast)) {
        // Too large to defeat on this disc: no re-read is fresh any more. The rest of the
        // range is read once and listed as unproven (see step), as a range of a drive
        // known to hold that much from the start is.
        unprovable_ = true;
        undefeated_ = std::max(sourceCache, source_->saidCacheSectors());
    } else {
        cache_ = modelCache_ = defeatedCache(sourceCache, settings_.audioLast);
        maxCandidates_ = 2 * (cache_ + 1) + 4 * kStep;
    }
    if (readLog_)
        std::fprintf(readLog_.get(), "cache -1 0 0 -1 source %d defeated %d%s\n", sourceCache,
                     unprovable_ ? 0 : cache_,
                     unprovable_ ? " (re-reads answered from the cache: too large to defeat, "
                                   "nothing proven by re-reads from here on)"
                                 : " (re-reads answered from the cache: taken as larger)");
}

// The source's read of `count` sectors at lsn (flags into c2_), with starts_ set at each
// sector a drive command began at. With `layOut` (a check), the reader lays out the
// commands itself: none begins at a sector whose first copy began one, so that no sector
// the check may prove has two copies from a command's first place. (A command's first
// sector is where a drive may answer with what its buffer held: the sector it delivered
// before. Two such copies of a sector agree on that echo when the sectors before it were
// read alike, as in two reads split into commands at the same sectors.)
int32_t Ripper::sourceRead(int32_t lsn, int32_t count, uint8_t* out, bool layOut) {
    starts_.assign(size_t(count), 0);
    retried_.assign(size_t(count), 0);
    fast_.assign(size_t(count), 0);
    const int32_t most = layOut ? source_->commandSectors() : 0;
    int32_t done = 0;
    asked_ = count;
    while (done < count) {
        int32_t n = count - done;
        if (most > 0) {
            n = std::min(n, most);
            while (n > 1 && done + n < count && leadsCandidate(lsn + done + n))
                --n;
        }
        const int32_t got = std::clamp(
            source_->read(lsn + done, n, out + size_t(done) * kRaw, c2_.data() + done), 0, n);
        if (got > 0) {
            if (const uint8_t* starts = source_->commandStarts())
                std::copy(starts, starts + got, starts_.begin() + done);
            starts_[size_t(done)] = 1;
            if (const uint8_t* again = source_->retried())
                std::copy(again, again + got, retried_.begin() + done);
            if (const uint8_t* fast = source_->answeredFast())
                std::copy(fast, fast + got, fast_.begin() + done);
        }
        // What the drive was asked for counts as read now; a read that ended early
        // asked nothing past its last command.
        if (got < n) {
            const int32_t commanded = source_->commanded();
            asked_ = done + (commanded >= 0 ? std::clamp(commanded, got, n) : n);
        }
        done += got;
        if (got < n)
            break;
    }
    return done;
}

// Whether the first copy of lsn began a drive command.
bool Ripper::leadsCandidate(int32_t lsn) const {
    const int32_t i = lsn - next_;
    return i >= 0 && i < candCount_ && candLead_[size_t(candHead_ + i)] != 0;
}

bool Ripper::readPlain(int32_t lsn, uint8_t* out) {
    // A drive that has just been asked for the track may still be spinning up: until a
    // read has worked, the whole retry budget.
    const int attempts = readOnce_ ? std::clamp(settings_.retries / 5, 1, 3) : settings_.retries;
    for (int attempt = 0; attempt < attempts; ++attempt)
        if (readRun(lsn, 1, out, "plain") == 1)
            return true;
    return false;
}

void Ripper::noteError(int32_t lsn) {
    ++errorCount_;
    if (chunkErrFirst_ < 0)
        chunkErrFirst_ = lsn;
    chunkErrLast_ = lsn;
}

// Without jitter correction: one read of a chunk's worth; where it fails, each sector
// on its own, and what still fails is silence, counted and listed.
void Ripper::readPlainRun() {
    const int32_t count = std::min(settings_.sectorsPerChunk, readLast_ - plainNext_ + 1);
    decided_.resize(size_t(count) * kRaw);
    damaged_.assign(size_t(count), false);
    taken_ = 0;
    uint8_t* out = decided_.data();
    for (int32_t done = 0; done < count;) {
        // A drive may return fewer sectors than asked for: the rest in the next read.
        const int32_t lsn = plainNext_ + done;
        // Which of its sectors the drive cannot hold: those it delivers come from the disc.
        std::vector<uint8_t> unheld(size_t(count - done));
        for (int32_t i = 0; i < count - done; ++i)
            unheld[size_t(i)] = fresh(lsn + i) ? 1 : 0;
        const int32_t got = readRun(lsn, count - done, out + size_t(done) * kRaw, "plain");
        keepPass(lsn, count - done, std::max(got, 0), out + size_t(done) * kRaw, unheld);
        if (got > 0) {
            done += got;
            continue;
        }
        uint8_t* at = out + size_t(done) * kRaw;
        if (!readPlain(plainNext_ + done, at)) {
            const bool flagged = !moved_.empty() && moved_[0] && !c2_.empty() && c2_[0];
            if (!(settings_.keepFlagged && flagged))
                std::memset(at, 0, kRaw);
            damaged_[size_t(done)] = true;
        }
        ++done;
    }
    if (unprovable_)
        damaged_.assign(size_t(count), true);
    plainNext_ += count;
}

// One sector of the disc for delivery, in order: silence outside the disc's audio,
// else the next decided sector. Whether it is damaged.
bool Ripper::sectorFor(int32_t lsn, uint8_t* out) {
    if (lsn < readFirst_ || lsn > readLast_) {
        std::memset(out, 0, kRaw); // beyond the disc's audio: silence, not damage
        return false;
    }
    if (lsn == carryLsn_) {
        std::memcpy(out, carry_.data(), kRaw);
        return carryDamaged_;
    }
    if (settings_.paranoia) {
        decideUpTo(lsn);
    } else if (taken_ == damaged_.size()) {
        readPlainRun();
    }
    std::memcpy(out, decided_.data() + taken_ * kRaw, kRaw);
    lastOut_ = lsn;
    lastOutDamaged_ = damaged_[taken_];
    // Delivered sectors go in batches, not one by one, and only once they are at least
    // as many as those left: a vote may decide thousands of sectors ahead, and moving all
    // of them down every 64 delivered would copy each many times over.
    if (++taken_ == damaged_.size() || (taken_ >= 64 && 2 * taken_ >= damaged_.size())) {
        decided_.erase(decided_.begin(), decided_.begin() + ptrdiff_t(taken_ * kRaw));
        damaged_.erase(damaged_.begin(), damaged_.begin() + ptrdiff_t(taken_));
        taken_ = 0;
    }
    return lastOutDamaged_;
}

// The verified reader. A drive delivers the bytes of one read contiguously from where
// it landed, and that may be off by any amount; every read that starts at one place may
// land off the same way; a read may slip part-way, come back short while it reports
// success, carry wrong bytes with or without a C2 flag, or be answered from the drive's
// cache with what an earlier read returned. So a copy counts only from a read that
// delivered it (readRun), and a sector is proven only by copies from reads that cannot
// share one error: reads that start at different places, each read when the drive could
// no longer hold the sector in its cache (fresh). Proof is one of:
//  - a check: a read that starts with proven sectors (the anchor), equal at lag 0 and
//    not equal at any other lag within kMaxShift since the proven audio does not repeat
//    there, gives a sector the same bytes as an earlier read from another place. The
//    anchor pins where the check landed; the earlier copy, from elsewhere, cannot have
//    slipped or erred the same way.
//  - a vote, where nothing pins a read (at the start of a range, after a damaged
//    sector, in digital silence or a steady tone): three reads from three different
//    places give the sector the same bytes. Only reads from one place reach a sector
//    right after an unreadable one; those then stand in for the missing places.
// A sector that nothing proves within the retry budget is delivered as best known
// (silence when it never read at all) and counted and listed as damaged.

bool Ripper::fresh(int32_t lsn) const {
    return cache_ == 0 || history_->clock - lastRead(lsn) > cache_;
}

int64_t Ripper::lastRead(int32_t lsn) const {
    if (lsn < 0 || size_t(lsn) >= history_->lastRead.size())
        return std::numeric_limits<int32_t>::min();
    return history_->lastRead[size_t(lsn)];
}

// Whether a read of `count` at `lsn` would meet, from `proveFrom` on, a sector the
// drive may still hold, counting the sectors the read itself brings in before it.
bool Ripper::wouldMeetCache(int32_t lsn, int32_t count, int32_t proveFrom) const {
    if (cache_ == 0)
        return false;
    int64_t clock = history_->clock;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t at = lsn + i;
        if (at < 0 || size_t(at) >= history_->lastRead.size())
            break;
        if (clock - lastRead(at) > cache_)
            ++clock;
        else if (at >= proveFrom)
            return true;
    }
    return false;
}

void Ripper::decide(const uint8_t* bytes, bool damaged) {
    decided_.insert(decided_.end(), bytes, bytes + kRaw);
    damaged_.push_back(damaged);
    ++next_;
    dropCandidates(1);
    if (damaged) {
        heldFrom_ = -1; // nothing joins them across a damaged sector
        lastDamaged_ = next_ - 1;
        histCount_ = leadHeld_ = 0;
        steady_ = false;
        return;
    }
    // The proven sectors go on one after the other; when the room is used up, the
    // last ones move to the front.
    if (histEnd_ == int32_t(hist_.size() / kRaw)) {
        std::memmove(hist_.data(), histEnd() - size_t(kHist - 1) * kRaw, size_t(kHist - 1) * kRaw);
        histEnd_ = kHist - 1;
    }
    std::memcpy(hist_.data() + size_t(histEnd_) * kRaw, bytes, kRaw);
    ++histEnd_;
    histCount_ = std::min(histCount_ + 1, kHist);
    leadHeld_ = std::min(leadHeld_ + 1, kHist);
}

void Ripper::dropCandidates(int32_t n) {
    n = std::min(n, candCount_);
    if (n <= 0)
        return;
    // Sectors leave from the front; the rest moves down only once the gone ones are
    // at least as many.
    candHead_ += n;
    candCount_ -= n;
    if (candCount_ == 0 || (candHead_ >= 256 && candHead_ >= candCount_)) {
        cand_.erase(cand_.begin(), cand_.begin() + ptrdiff_t(size_t(candHead_) * kRaw));
        candFrom_.erase(candFrom_.begin(), candFrom_.begin() + candHead_);
        candLead_.erase(candLead_.begin(), candLead_.begin() + candHead_);
        candProven_.erase(candProven_.begin(), candProven_.begin() + candHead_);
        candHead_ = 0;
    }
}

void Ripper::addCandidates(const uint8_t* bytes, int32_t n, int32_t from, const uint8_t* leads) {
    cand_.insert(cand_.end(), bytes, bytes + size_t(n) * kRaw);
    candFrom_.insert(candFrom_.end(), size_t(n), from);
    candLead_.insert(candLead_.end(), leads, leads + n);
    candProven_.insert(candProven_.end(), size_t(n), 0);
    candCount_ += n;
}

void Ripper::decideUpTo(int32_t until) {
    while (next_ <= until || (heldFrom_ >= 0 && heldFrom_ <= until && next_ <= readLast_))
        step();
    // Past the range's end no read of it joins them any more: they go out as proven.
    if (heldFrom_ >= 0 && heldFrom_ <= until)
        heldFrom_ = -1;
}

void Ripper::joinHeld(int32_t place) {
    if (heldFrom_ >= 0 && place > heldPlace_)
        heldFrom_ = -1;
}

void Ripper::listHeld() {
    // The reads that delivered them first landed off with them: what those reads
    // delivered first further on is no first read to hold a vote against.
    std::vector<uint32_t> by;
    for (int32_t lsn = heldFrom_; lsn < next_; ++lsn) {
        damaged_[damaged_.size() - size_t(next_ - lsn)] = true;
        if (size_t(lsn) < history_->firstBy.size() && history_->firstBy[size_t(lsn)] != 0)
            by.push_back(history_->firstBy[size_t(lsn)]);
    }
    std::sort(by.begin(), by.end());
    // So is a read made right after one of them that began where it ended: the drive went
    // on from there without a seek.
    // The chain starts at the last held sector: the read that ends the held stretch may
    // be the one the drive went on from.
    uint32_t last = 0; // the read that delivered the sector before first, when it is one
    if (next_ > 0 && size_t(next_ - 1) < history_->firstBy.size() &&
        std::binary_search(by.begin(), by.end(), history_->firstBy[size_t(next_ - 1)]))
        last = history_->firstBy[size_t(next_ - 1)];
    for (size_t lsn = size_t(next_); lsn < history_->firstBy.size(); ++lsn) {
        const uint32_t id = history_->firstBy[lsn];
        if (id != 0 && last != 0 && id == last + 1)
            by.insert(std::upper_bound(by.begin(), by.end(), id), id);
        last = 0;
        if (id != 0 && std::binary_search(by.begin(), by.end(), id)) {
            history_->firstSeen[lsn] = 0;
            history_->firstBy[lsn] = 0;
            last = id;
        }
    }
    heldFrom_ = -1;
    lastDamaged_ = next_ - 1;
    histCount_ = leadHeld_ = 0;
    steady_ = false;
}

// True when the last two proven sectors pin a read: they differ from the proven audio
// at every other lag within kMaxShift, so a read that landed off cannot match them.
bool Ripper::pinnable() const {
    return pins(histEnd(), histCount_);
}

// Whether the last two of `count` sectors ending at `end` would pin a read (see pinnable).
bool Ripper::pins(const uint8_t* end, int32_t count) {
    if (count < 3)
        return false;
    const uint8_t* anchor = end - kAnchor;
    if (allZero(anchor, kAnchor))
        return false;
    const int32_t room = (count - 2) * kRaw; // proven bytes before the anchor
    for (int32_t lag = 4; lag <= kMaxShift; lag += 4) {
        // Lag d: the anchor against the proven audio d bytes earlier (the same test
        // as the anchor against itself d bytes later).
        if (lag <= room) {
            if (std::memcmp(anchor - lag, anchor, kAnchor) == 0)
                return false;
        } else if (lag < kAnchor && std::memcmp(anchor, anchor + lag, size_t(kAnchor - lag)) == 0) {
            return false;
        }
    }
    return true;
}

void Ripper::step() {
    if (unprovable_) {
        // The drive's cache turned out too large to defeat: what a lead-less vote proved
        // can no longer be joined by a fresh read, and the rest goes as one read gives it.
        if (heldFrom_ >= 0)
            listHeld();
        adriftRead();
        return;
    }
    adoptPending();
    if (takeProvenAhead())
        return;
    if (pinnable()) {
        steady_ = false;
        extend();
    } else {
        vote();
    }
}

// Reads more than the cache holds elsewhere, so that the next read of the sectors
// around next_ comes from the disc: ahead of everything read for the range so far (the
// candidates, a vote's reads, sectors kept from an earlier flush), then, where the disc
// ends first, before them. What it reads within the range's reach is kept as first
// copies for later (pend_), so that the reading that defeats the cache is reading the
// range needs anyway. Should there be too little left to read (a short disc, reads that
// keep failing), the cache is not given up on: false, and the reads that follow cannot
// prove what the drive may hold, so that what stays unproven is listed as damaged.
bool Ripper::flush(bool forCheck, int32_t need, int32_t needEnd) {
    // Only the disc's audio is read: past it (a second session's gap, a data track) reads
    // fail and push nothing out of the cache.
    const int32_t first = settings_.audioFirst, last = settings_.audioLast;
    const int32_t lo = next_ - kHist - kVotes * kVotes * 8;
    int32_t pendEnd = pendStart_ + pendCount();
    int32_t at = std::max({next_ + candCount_, voteEnd_, pendCount() > 0 ? pendEnd : 0});
    // First copies held that end within what the vote reads (a one pass that stopped
    // early) are of sectors the vote's own copies give: they go, so that the flush keeps
    // the first copies it reads from past the vote on, rather than read them again later.
    if (pendCount() > 0 && pendEnd < at && pendEnd <= voteEnd_) {
        pend_.clear();
        pendFrom_.clear();
        pendLead_.clear();
        passHeld_ = 0;
        pendEnd = 0;
    }
    bool keep = pendCount() == 0 || at == pendEnd;
    if (pendCount() == 0)
        pendStart_ = at;
    // A vote's read needs its own sectors gone from the cache: the cache's worth of other
    // sectors after their latest read, no more (the one pass read them a while ago, and
    // the first copies a longer flush would read are the reading's to read after the
    // vote). Anything else, the cache's worth from now.
    int64_t until = history_->clock + cache_ + 1;
    if (need < needEnd) {
        int64_t latest = std::numeric_limits<int32_t>::min();
        for (int32_t i = std::max(need, 0); i < needEnd; ++i)
            latest = std::max(latest, lastRead(i));
        until = std::min(until, latest + cache_ + 1);
    }
    int64_t keptAt = -1; // the clock after the last first copies kept
    std::vector<uint8_t> scratch(size_t(kStep) * kRaw);
    // The sectors from `a` on, up to kStep and below `end`, that the drive cannot hold.
    // Only those are read: reading one it may hold pushes nothing out for certain, and
    // would keep it from counting as gone for another cache's worth.
    auto freshRun = [&](int32_t a, int32_t end) {
        int32_t n = 0;
        while (n < kStep && a + n < end && fresh(a + n))
            ++n;
        return n;
    };
    for (; history_->clock < until && at <= last;) {
        const int32_t count = freshRun(at, last + 1);
        if (count == 0) { // the drive may hold it
            keep = false;
            ++at;
            continue;
        }
        // (The one pass's first copies held take no room from the flushes' own.)
        keep = keep && at + count - 1 <= reachLast_ &&
               pendCount() + count <= maxCandidates_ + passHeld_;
        if (keep) {
            const size_t had = pend_.size();
            pend_.resize(had + size_t(count) * kRaw);
            const int32_t got = readRun(at, count, pend_.data() + had, "flush");
            pend_.resize(had + size_t(got) * kRaw);
            pendFrom_.insert(pendFrom_.end(), size_t(got), at);
            pendLead_.insert(pendLead_.end(), starts_.begin(), starts_.begin() + got);
            keep = got == count;
            keptAt = got > 0 ? history_->clock : keptAt;
        } else {
            readRun(at, count, scratch.data(), "flush");
        }
        at += count;
    }
    // The reading ahead reached the disc's end: no first copies are left to read, so the
    // check after this flush is the last but for what it cannot take. It takes them all
    // when the flush goes on until the first copies it kept are fresh too; otherwise it
    // would take the older ones only, and the rest would need another flush of sectors
    // read only to defeat the cache (a flush for a vote's read makes no first copies
    // fresh for a check: not there). Only where the sectors before the proof's reach
    // hold enough fresh ones for that: else the flush would read first copies again.
    if (forCheck && at > last && keptAt >= 0 && keptAt + cache_ + 1 > until) {
        int64_t behind = 0;
        for (int32_t i = first; i < lo; ++i)
            behind += fresh(i) ? 1 : 0;
        if (behind >= keptAt + cache_ + 1 - history_->clock)
            until = keptAt + cache_ + 1;
    }
    // Before them: the fresh sectors that are still wanted, read forward in one run
    // (a drive reads forward; a read backwards is a seek each time).
    int64_t want = until - history_->clock;
    int32_t from = std::max(lo, first);
    for (; want > 0 && from > first; --from)
        want -= fresh(from - 1) ? 1 : 0;
    for (int32_t at2 = from; history_->clock < until && at2 < std::max(lo, first);) {
        const int32_t count = std::max(1, freshRun(at2, std::max(lo, first)));
        if (fresh(at2))
            readRun(at2, count, scratch.data(), "flush");
        at2 += count;
    }
    // Still short (a short disc): any fresh sectors outside those the proof needs next
    // (the anchor, a vote's reads and the block of first copies checked next; first
    // copies further on that this reads again are read again later). Sectors read come
    // back fresh once the cache's worth of others came after them, so passes over the
    // disc go on while they find some.
    // When that finds too little, the first copies past the next few are read again
    // too (they are read again later).
    for (const int32_t near : {std::min(candCount_, cache_ + 1), kStep}) {
        const int32_t guardEnd = std::max(next_ + near, voteEnd_);
        for (bool found = true; found && history_->clock < until;) {
            found = false;
            for (int32_t at3 = first; history_->clock < until && at3 <= last;) {
                int32_t count = 0;
                while (count < kStep && at3 + count <= last &&
                       (at3 + count < lo || at3 + count > guardEnd) && fresh(at3 + count))
                    ++count;
                if (count == 0) {
                    ++at3;
                    continue;
                }
                const int64_t before = history_->clock;
                readRun(at3, count, scratch.data(), "flush");
                found = found || history_->clock > before; // a failing read moves nothing
                at3 += count;
            }
        }
    }
    ++flushes_;
    if (history_->clock >= until)
        return true;
    // Fewer sectors of audio outside those the proof needs next than the cache holds:
    // no reading can defeat it on this disc, so the cache is given up on for the rest of
    // the range (its history still kept for the ranges after it). Anywhere else (reads
    // that keep failing) it is not: false, and what stays unproven is listed.
    const int64_t outside =
        std::max(lo - first, 0) + std::max(0, last - std::max(next_ + kStep, voteEnd_));
    if (outside <= cache_)
        cache_ = 0;
    return cache_ == 0;
}

int32_t Ripper::maxAhead() const {
    return 4 * (cache_ + 1) + 4 * kStep;
}

// First copies kept by a flush join the candidates once these reach them; those that
// next_ has passed meanwhile are gone.
void Ripper::adoptPending() {
    if (pendCount() == 0)
        return;
    const int32_t reach = next_ + candCount_;
    const int32_t passed = std::clamp(reach - pendStart_, 0, pendCount());
    if (reach >= pendStart_) {
        for (int32_t i = passed; i < pendCount(); ++i)
            addCandidates(pend_.data() + size_t(i) * kRaw, 1, pendFrom_[size_t(i)],
                          &pendLead_[size_t(i)]);
        pend_.clear();
        pendFrom_.clear();
        pendLead_.clear();
    }
}

// Reads on beyond the candidates: first copies, checked later from other places.
bool Ripper::readAhead(int32_t limit, int32_t room) {
    const int32_t from = next_ + candCount_;
    int32_t count = std::min(kStep, limit + 1 - from);
    if (pendCount() > 0)
        count = std::min(count, pendStart_ - from);
    if (count <= 0 || candCount_ >= room)
        return false;
    read_.resize(size_t(count) * kRaw);
    // Beyond the range, only first copies the drive cannot be holding.
    const int32_t got = readRun(from, count, read_.data(), "ahead",
                                limit > readLimit_ ? from : std::numeric_limits<int32_t>::max());
    if (got <= 0)
        return false;
    addCandidates(read_.data(), got, from, starts_.data());
    return true;
}

void Ripper::failedCheck() {
    ++attempt_;
    if (++failedSteps_ >= 4) { // put it to a vote
        failedSteps_ = 0;
        histCount_ = 0;
    }
}

// Where the next check starts: A proven sectors before next_, never where the first
// copy of next_ came from, and somewhere else after each failed try.
// A check's first sector begins its first command, where a drive may answer with an echo
// of what it delivered before: with more than three proven sectors, A is at least three,
// and the anchor is compared from its second sector on (its last two pin the read).
int32_t Ripper::checkStart() const {
    const int32_t low = std::min(histCount_, kHist) > 3 ? 3 : 2;
    const int32_t places = std::min(histCount_, kHist) - low + 1; // A in low .. histCount_
    for (int32_t i = 0; i < places; ++i) {
        const int32_t a = low + (attempt_ + i) % places;
        if (candCount_ == 0 || candFrom_[size_t(candHead_)] != next_ - a)
            return a;
    }
    return 2;
}

void Ripper::extend() {
    if (candCount_ == 0 && cache_ > 0) {
        if (!readAhead())
            vote();
        return;
    }
    const int32_t a = checkStart();
    const int32_t from = next_ - a;
    // The first copies a check may prove now: the leading fresh ones, and only when
    // the anchor is fresh too, or the drive could answer it from its cache and so pin
    // nothing. With a cache, one check takes all of them: the next check then comes
    // after more than the cache's worth of other reads, anchor and all.
    bool anchorFresh = true;
    for (int32_t i = 0; i < a; ++i)
        anchorFresh = anchorFresh && fresh(from + i);
    int32_t limit = cache_ > 0 ? candCount_ : std::min(candCount_, kStep);
    // Once the rest of the disc's audio fits in the first copies a range may hold, the
    // first copies up to its end come first, where reading them all makes the anchor fresh
    // too: the check after them is then the last, and no flush reads sectors only to
    // defeat the cache at the end.
    if (cache_ > 0 && reachLast_ == settings_.audioLast &&
        settings_.audioLast + 1 - next_ <= maxAhead()) {
        int64_t anchorAt = std::numeric_limits<int32_t>::min();
        for (int32_t i = next_ - std::min(histCount_, kHist); i < next_; ++i)
            anchorAt = std::max(anchorAt, lastRead(i));
        const int32_t left = settings_.audioLast + 1 - (next_ + candCount_);
        if (left > 0 && history_->clock + left - anchorAt > cache_ &&
            readAhead(settings_.audioLast, maxAhead()))
            return;
    }
    // Where a check left sectors proven after an open one, the next reads only up to them.
    int32_t unproven = 0;
    while (unproven < candCount_ && !candProven_[size_t(candHead_ + unproven)])
        ++unproven;
    limit = std::min(limit, unproven);
    // A first copy is checkable when the drive cannot hold it by the time the check reaches
    // it: fresh now, or pushed out by the sectors the check itself brings in from the disc
    // before it (the anchor's and the first copies' before it), as readRun counts them.
    int32_t checkable = 0;
    int64_t clock = history_->clock + (cache_ > 0 ? a : 0);
    while (anchorFresh && checkable < limit &&
           (cache_ == 0 || clock - lastRead(next_ + checkable) > cache_)) {
        ++checkable;
        ++clock;
    }
    if (candCount_ > 0 && checkable == 0) {
        if (!readAhead() && !flush(true))
            failedCheck(); // nothing fresh to read elsewhere: in the end, a vote
        return;
    }
    // Without a cache, the check reads on and gives the next first copies.
    const int32_t more = cache_ == 0 && checkable == candCount_
                             ? std::max(0, std::min(kStep, readLimit_ + 1 - (next_ + candCount_)))
                             : 0;
    const int32_t count = a + checkable + more;
    read_.resize(size_t(count) * kRaw);
    const uint8_t* r = read_.data();
    const int32_t got = readRun(from, count, read_.data(), "check", from, true);
    const uint8_t* anchor = histEnd() - size_t(a) * kRaw;
    const int32_t skip = a > 2 ? 1 : 0; // the first sector: maybe an echo (see checkStart)
    if (got <= a || std::memcmp(r + size_t(skip) * kRaw, anchor + size_t(skip) * kRaw,
                                size_t(a - skip) * kRaw) != 0) {
        failedCheck();
        return;
    }
    joinHeld(from);
    const int32_t inRead = got - a; // sectors from next_ on
    const int32_t have = std::min(checkable, inRead);
    const uint8_t* mine = r + size_t(a) * kRaw; // the check's copy of next_ on
    const uint8_t* myLead = starts_.data() + a; // the check's copies that began a command
    std::vector<int32_t> open(size_t(have), -1);
    const int32_t k = compareCheck(mine, myLead, have, from, &open);
    const uint8_t* first = cand_.data() + size_t(candHead_) * kRaw;
    // The anchor pins the check where it starts; should it slip on the way, only the
    // sectors that its agreement with the first copies shows to be no shifted edge: before
    // the first difference, and before each sector left open where the copies differ.
    const int64_t end =
        int64_t(k) * kRaw +
        (k < have ? firstDiff(mine + size_t(k) * kRaw, first + size_t(k) * kRaw, kRaw) : 0);
    std::vector<uint8_t> ok(size_t(have), 0);
    const int32_t agreed = provenPrefix(mine, k, end, next_ + k > settings_.audioLast);
    for (int32_t i = 0; i < agreed; ++i)
        ok[size_t(i)] = open[size_t(i)] < 0 ? 1 : 0;
    for (int32_t o = 0; o < agreed; ++o) {
        if (open[size_t(o)] < 0 || open[size_t(o)] == kRaw)
            continue;
        const int32_t before = provenPrefix(mine, o, int64_t(o) * kRaw + open[size_t(o)], false);
        std::fill(ok.begin() + before, ok.begin() + o, 0);
    }
    for (int32_t i = 0; i < agreed; ++i)
        candProven_[size_t(candHead_ + i)] = ok[size_t(i)];
    int32_t proven = 0;
    while (proven < agreed && ok[size_t(proven)]) {
        decide(mine + size_t(proven) * kRaw, false);
        ++proven;
    }
    if (proven > 0) {
        failedSteps_ = 0;
        attempt_ = 0;
    }
    if (k < have) {
        mismatch(mine + size_t(proven) * kRaw, inRead - proven, from, myLead + proven);
        return;
    }
    // Every first copy compared: the check's copies past them are the next first ones.
    if (candCount_ == have - proven && inRead > have)
        addCandidates(mine + size_t(have) * kRaw, inRead - have, from, myLead + have);
    else if (proven == 0)
        failedCheck(); // the read stopped at next_, or proved nothing new
}

// Compares a check's copies of next_ on (`mine`, `have` of them; myLead: which began a
// drive command) with the first copies, and returns where they first differ (have: not
// within them). Where they differ and only one of the two began a command, that one may be
// the drive's echo of the sector before it: the sector is left open (*open: where within
// it they differ) with the copy from inside a command as its first copy, and the
// comparison goes on; so it does where both agree but both began a command (kRaw).
int32_t Ripper::compareCheck(const uint8_t* mine, const uint8_t* myLead, int32_t have, int32_t from,
                             std::vector<int32_t>* open) {
    for (int32_t k = 0; k < have; ++k) {
        const size_t c = size_t(candHead_ + k);
        uint8_t* first = cand_.data() + c * kRaw;
        const uint8_t* copy = mine + size_t(k) * kRaw;
        const int32_t same = firstDiff(copy, first, kRaw);
        const bool ours = myLead[k] != 0, theirs = candLead_[c] != 0;
        if (same == kRaw && !(ours && theirs))
            continue;
        if (same < kRaw && ours == theirs)
            return k;
        (*open)[size_t(k)] = same;
        if (same < kRaw && theirs) {
            std::memcpy(first, copy, kRaw);
            candLead_[c] = 0;
            candFrom_[c] = from;
        }
    }
    return have;
}

// The first copies a check proved while a sector before them was still open, once next_
// reaches them.
bool Ripper::takeProvenAhead() {
    if (candCount_ == 0 || !candProven_[size_t(candHead_)])
        return false;
    while (candCount_ > 0 && candProven_[size_t(candHead_)])
        decide(cand_.data() + size_t(candHead_) * kRaw, false);
    failedSteps_ = 0;
    attempt_ = 0;
    return true;
}

// A pinned check gave next_ other bytes than its first copy: one of them is wrong (or
// both copies began a drive command and could not prove it).
// The check's copies from there on replace the first copies, to be checked from yet
// another place; a sector that reads differently every time is damaged. Where the check's
// copy began a command and the first copy did not, the first copy stays: a copy from
// inside a command is the one a command's first sector may fail against.
void Ripper::mismatch(const uint8_t* copies, int32_t n, int32_t from, const uint8_t* leads) {
    ++attempt_;
    if (mismatchLsn_ != next_) {
        mismatchLsn_ = next_;
        mismatches_ = 0;
    }
    if (++mismatches_ >= std::max(2, settings_.retries / 4)) {
        decide(copies, true); // best known: the latest copy
        dropCandidates(candCount_);
        return;
    }
    spareCand_.assign(copies, copies + size_t(n) * kRaw);
    spareLead_.assign(leads, leads + n);
    spareFrom_.assign(size_t(n), from);
    for (int32_t i = 0; i < std::min(n, candCount_); ++i) {
        const size_t c = size_t(candHead_ + i);
        if (spareLead_[size_t(i)] && !candLead_[c]) {
            std::memcpy(spareCand_.data() + size_t(i) * kRaw, cand_.data() + c * kRaw, kRaw);
            spareLead_[size_t(i)] = 0;
            spareFrom_[size_t(i)] = candFrom_[c];
        }
    }
    dropCandidates(candCount_); // empties them
    cand_.swap(spareCand_);
    candLead_.swap(spareLead_);
    candFrom_.swap(spareFrom_);
    candProven_.assign(size_t(n), 0);
    candHead_ = 0;
    candCount_ = n;
    failedSteps_ = 0;
}

// Reads for a vote from `from` up to `count` sectors from `at` on (from `from` on, where
// it lies after `at`); the copies of the sectors from max(at, from) on start at
// `*copies` and `*n` of them were delivered.
void Ripper::voteRead(int32_t from, int32_t at, int32_t count, uint8_t* buf, const uint8_t** copies,
                      int32_t* n, uint8_t* leads, uint8_t* echoes, bool delivered) {
    const int32_t lead = std::max(0, at - from);
    const int32_t ask = lead + count - std::max(0, from - at);
    const int32_t proveFrom = std::max(at, from);
    // A long read (a block of steady audio) that would meet sectors the drive may still
    // hold reads elsewhere first rather than be cut there; a short one is read, and
    // only where it was cut, read again after a flush (a read that failed on an
    // unreadable sector, which leaves its sectors maybe cached, costs no flush).
    const bool flushed = (ask > 2 * kStep || delivered) && wouldMeetCache(from, ask, proveFrom) &&
                         flush(false, proveFrom, from + ask);
    int32_t got = readRun(from, ask, buf, "vote", proveFrom);
    // A read the drive answered only up to sectors already decided (it failed at or
    // before next_) would do no better after a flush: it is not read again.
    bool reachesNew = false;
    for (int32_t i = std::max(0, next_ - from); i < ask && !reachesNew; ++i)
        reachesNew = moved_[size_t(i)] != 0;
    if (stale_ && !flushed && reachesNew && flush(false, proveFrom, from + ask))
        got = readRun(from, ask, buf, "vote", proveFrom);
    // A re-read the drive answered from a cache larger than taken: again after each flush
    // (of the cache as then taken), until one comes from the disc, or the cache turns out
    // too large to defeat (a few fast answers make it larger: see answeredFast).
    for (int again = 0; fastAnswer_ && reachesNew && again < 4 && !unprovable_ &&
                        flush(false, proveFrom, from + ask);
         ++again)
        got = readRun(from, ask, buf, "vote", proveFrom);
    *copies = buf + size_t(lead) * kRaw;
    *n = std::max(0, got - lead);
    std::copy(starts_.begin() + lead, starts_.begin() + lead + *n, leads);
    std::copy(echoes_.begin() + lead, echoes_.begin() + lead + *n, echoes);
}

// Sector `at` + j of vote copy v, null where the copy does not hold it.
const uint8_t* Ripper::VoteRound::sector(int v, int32_t j) const {
    const int32_t i = j - off[v];
    return i >= 0 && i < got[v] ? copy[v] + size_t(i) * kRaw : nullptr;
}

// The sectors from `at` on that every copy of a vote round that holds them gives
// alike, in order, and in `*end` the byte (from `at`) where the copies stop agreeing or
// end, however many places they come from. Near the disc's start fewer places reach a
// sector: it needs as many places as there are, up to three; a place whose read does
// not reach `at` (a place -1, read from `at` instead) is one there is not.
int32_t Ripper::agreedRun(const VoteRound& r, int32_t at, int32_t b, int64_t* end) const {
    int standIns = 0;
    for (int v = 0; v < kVotes; ++v)
        standIns += r.places[v] < 0 ? 1 : 0;
    // Whether every copy that reaches sector j holds it and gives it alike, and how
    // many different places they come from. Copies from several places that all began a
    // drive command at j may all be the drive's echo of the sector before it: they
    // prove nothing. From one place only (the disc's first sector, a stand-in after an
    // unreadable one) every read of j begins there, and each may be the echo of what the
    // drive delivered before it, alike where that was the same sector: they prove j only
    // where one of them is not what the drive delivered right before its command.
    auto alike = [&](int32_t j, int* distinct, int32_t* within) {
        *distinct = 0;
        *within = kRaw;
        const uint8_t* first = nullptr;
        bool inside = false; // a copy from inside a command
        bool fresh = false;  // a copy that began a command and is no echo
        for (int v = 0; v < r.n; ++v) {
            if (r.off[v] > j || !r.covers(v, j))
                continue; // a place after the sector (at the disc's start)
            const uint8_t* c = r.sector(v, j);
            if (!c) {
                *within = 0;
                return false;
            }
            bool seen = false;
            for (int w = 0; w < v; ++w)
                seen = seen || (r.places[w] == r.places[v] && r.off[w] <= j);
            *distinct += r.places[v] >= 0 && !seen ? 1 : 0;
            inside = inside || !r.lead[v] || r.lead[v][j - r.off[v]] == 0;
            fresh = fresh || (r.echo[v] && r.echo[v][j - r.off[v]] == 0);
            if (!first)
                first = c;
            else
                *within = std::min(*within, firstDiff(first, c, kRaw));
        }
        if (first && !inside && (*distinct > 1 || !fresh))
            *within = 0;
        return first && *within == kRaw;
    };
    int32_t j = 0, within = kRaw;
    int distinct = 0;
    for (; j < b; ++j) {
        if (!alike(j, &distinct, &within) ||
            std::max(distinct, 1) < std::min(kVotes, at + j + 1) - standIns)
            break;
    }
    int64_t e = int64_t(j) * kRaw;
    for (int32_t k = j; k < b; ++k) {
        const bool same = alike(k, &distinct, &within);
        e += within;
        if (!same)
            break;
    }
    *end = e;
    return j;
}

// A vote compares the copies from kMargin sectors before next_ (the lead, already
// decided) on, and past the range's end while the disc's audio goes on: a silence
// that ends in sound at either end of what the copies agree on may be wrong in all of
// them alike by as much as they landed off, so only the sectors that lie at least that
// far inside it count. The lead never reaches back over a damaged sector, which the
// reads from before it would fail on. A first vote reads little: with a cache, what
// defeats it between two reads of one round is a flush, whose sectors are kept as first
// copies, and so are the first copy's sectors past those the vote proves. On steady
// audio, where vote follows vote, one block is more than the cache holds (and may go on
// past the range while the disc's audio does, for the next range to take): each of the
// three reads then pushes the others' sectors out of the cache by itself, and only the
// few sectors the next vote shares with this one need a flush, one a block.
// Where the lead is decided, the copies must also give its sectors the decided bytes, at
// the same place: copies from three places that agree with one another and not with the
// decided audio before them all landed off alike (a drive that finds its place there by
// addresses that are off, or reads again at another offset than the first time), and
// their agreement proves nothing. Nothing read there can then be pinned to the decided
// audio (the checks pinned by it failed before the vote), so the drive is adrift: the
// sector and the rest of the reading are listed as damaged, at one read a block. Where
// the lead is not decided (at the range's start, with nothing carried over or proven
// before it, and at the disc's start), the copies are held against one another and
// against the drive's first read of each sector: a landing error that every place
// shares there, the first read too, is not seen by the vote.
void Ripper::vote() {
    dropCandidates(candCount_);
    if (adrift_ && leadHeld_ == 0) {
        adriftRead();
        return;
    }
    const int32_t s = next_;
    // At the disc's start there is no room for a lead and three places before it.
    int32_t lead =
        s < kMargin + kVotes ? 0 : std::clamp(std::min(kMargin, s - (lastDamaged_ + 1)), 0, s);
    int32_t at = s - lead;
    // A block of steady audio: the flush after it must find the cache's worth of other
    // sectors the drive cannot hold, on either side of what the next vote reads.
    const bool roomy = cache_ > 0 && int64_t(settings_.audioLast) - settings_.audioFirst + 1 >=
                                         3 * int64_t(cache_ + kStep) + 4 * kStep;
    const bool big = steady_ && roomy;
    int32_t b = 0, tail = 0, len = 0;
    auto block = [&](bool large) {
        b = large ? std::max(std::min(readLast_ + 1 - s, kStep),
                             std::min(cache_ + kStep, settings_.audioLast + 1 - s))
                  : std::min(kStep, readLast_ + 1 - s);
        tail = s + b > readLast_ ? std::clamp(settings_.audioLast - (s + b - 1), 0, kMargin) : 0;
        len = lead + b + tail;
    };
    bool large = big;
    block(large);
    const int rounds = std::max(2, settings_.retries / kVotes);
    std::vector<uint8_t> buf(size_t(kVotes) * size_t(len + kVotes * rounds) * kRaw);
    size_t span = buf.size() / kVotes;
    std::vector<uint8_t> leads(buf.size() / kRaw); // per sector of buf: it began a command
    std::vector<uint8_t> echoes(buf.size() / kRaw);
    // The second read of the disc's first sector: one sector, so that the reads of the
    // other places stay fresh.
    std::vector<uint8_t> extra(kRaw), extraLead(1);
    std::vector<uint8_t> extraEcho(1);
    std::vector<uint8_t> best, agreed;
    static_assert(kVotes == 3, "VoteRound holds three copies");
    bool grown = false;
    VoteRound failed; // the last round, where none proved anything
    bool anyFailed = false;
    for (int round = 0; round < rounds; ++round) {
        VoteRound r;
        bool grow = false;
        bool handed = false; // copy 0 is the one pass's first read
        voteEnd_ = std::max(voteEnd_, at + len);
        for (int v = 0; v < kVotes; ++v) {
            // Three places a round, further back each round; places before the disc's
            // start are taken after `at` instead, and where a read does not reach s,
            // the read from `at` stands in.
            const int32_t back = at - (kVotes * round + v);
            r.places[v] = back >= 0 ? back : at + (-back) % kVotes;
            r.off[v] = std::max(0, r.places[v] - at);
            if (r.off[v] >= len) {
                r.places[v] = at;
                r.off[v] = 0;
            }
            uint8_t* into = buf.data() + size_t(v) * span;
            uint8_t* leadsInto = leads.data() + size_t(v) * (span / kRaw);
            uint8_t* echoesInto = echoes.data() + size_t(v) * (span / kRaw);
            r.lead[v] = leadsInto;
            r.echo[v] = echoesInto;
            handed =
                handed || (round == 0 && v == 0 &&
                           takePassCopy(r.places[v], len, into, &r.copy[v], &r.got[v], leadsInto));
            if (v == 0 && handed)
                std::fill(echoesInto, echoesInto + len, 1); // not known
            if (v != 0 || !handed)
                voteRead(r.places[v], at, len, into, &r.copy[v], &r.got[v], leadsInto, echoesInto,
                         handed && v == 1);
            if (r.got[v] + r.off[v] <= lead && r.places[v] != at) {
                r.places[v] = -1; // stands in for a place whose read does not reach s
                r.off[v] = 0;
                voteRead(at, at, len, into, &r.copy[v], &r.got[v], leadsInto, echoesInto);
            }
            // The first copy of a short vote shows steady audio through the block: the
            // vote goes on as a large one at once, before two more short reads and the
            // flushes between them.
            if (v == 0 && round == 0 && !large && !grown && roomy && r.got[0] >= kStep / 2 &&
                r.got[0] == len && repeats(r.copy[0], size_t(r.got[0]) * kRaw)) {
                grow = true;
                break;
            }
        }
        if (grow) {
            grown = large = true;
            block(large);
            buf.assign(size_t(kVotes) * size_t(len + kVotes * rounds) * kRaw, 0);
            span = buf.size() / kVotes;
            leads.assign(buf.size() / kRaw, 0);
            echoes.assign(buf.size() / kRaw, 0);
            --round;
            continue;
        }
        if (round == 0)
            dropPassCopy(); // one round's copy: the next rounds read from other places
        // At the disc's start only reads from its first sector reach it, each beginning
        // a command there: one copy is no proof (it may have landed off, or be the echo
        // of the sector the drive delivered before it). A second read of that sector alone,
        // now that the drive delivered others, must agree with it.
        if (at == 0) {
            r.n = 4;
            r.places[3] = 0;
            r.off[3] = 0;
            r.span[3] = 1;
            r.lead[3] = extraLead.data();
            r.echo[3] = extraEcho.data();
            voteRead(0, 0, 1, extra.data(), &r.copy[3], &r.got[3], extraLead.data(),
                     extraEcho.data());
        }
        int64_t end = 0;
        const int32_t j = agreedRun(r, at, len, &end);
        if (j < lead) {
            // A lead sector that does not read, or reads differently each time (before
            // the range, where nothing listed it): the lead starts after it instead.
            // A block of steady audio that went wrong goes on as a short one.
            lead -= j + 1;
            at = s - lead;
            large = false;
            block(large);
            --round;
            continue;
        }
        const int32_t decidedLead = std::min(lead, leadHeld_);
        bool contradicted = false;
        for (int32_t i = lead - decidedLead; i < lead && !contradicted; ++i) {
            const uint8_t* mine = histEnd() - size_t(lead - i) * kRaw;
            for (int v = 0; v < kVotes; ++v)
                if (const uint8_t* c = r.sector(v, i)) {
                    contradicted = std::memcmp(c, mine, kRaw) != 0;
                    break;
                }
        }
        // Held sectors that reads from further on contradict: the place they were read
        // from lands off (the join shows it), not every place after them.
        if (contradicted && heldFrom_ >= 0 && s - decidedLead >= heldFrom_) {
            listHeld();
            return;
        }
        if (contradicted) {
            adrift_ = true;
            for (int v = 0; v < kVotes && best.empty(); ++v)
                if (const uint8_t* c = r.sector(v, lead))
                    best.assign(c, c + kRaw);
            break;
        }
        // What the copies agree on, from whichever copy holds each sector, up to `end`.
        const int32_t held = std::min<int32_t>(len, int32_t((end + kRaw - 1) / kRaw));
        agreed.assign(size_t(std::max(held, j)) * kRaw, 0);
        for (int32_t i = 0; i < held; ++i)
            for (int v = 0; v < kVotes; ++v)
                if (const uint8_t* c = r.sector(v, i)) {
                    std::memcpy(agreed.data() + size_t(i) * kRaw, c, kRaw);
                    break;
                }
        const int32_t proven =
            provenPrefix(agreed.data(), j, end, at + j > settings_.audioLast) - lead;
        for (int v = 0; v < kVotes && best.empty(); ++v)
            if (const uint8_t* c = r.sector(v, lead))
                best.assign(c, c + kRaw);
        // Nothing decided pins a lead-less vote: copies that all read a stretch again at
        // another offset than the drive's first read of it agree with one another, and
        // only that first read differs. The stretch it contradicts is not proven; where a
        // lead-less vote contradicts another first read too, the drive is taken to be
        // adrift (see above). (A first read that landed off by chance is one read: the
        // votes after the stretch it read agree with the first reads there.)
        const int32_t upTo = std::min(proven, b);
        const int32_t kept = decidedLead == 0 && upTo > 0
                                 ? againstFirstRead(s, agreed.data() + size_t(lead) * kRaw, upTo)
                                 : upTo;
        // Where a first read from elsewhere contradicts them, the sectors before it, which
        // only reads from the vote's places reached, are no better known than those it
        // contradicts.
        for (int32_t i = 0; i < kept; ++i)
            decide(agreed.data() + size_t(lead + i) * kRaw, kept < upTo);
        int32_t lowest = at, highest = at; // where the round's reads began
        for (int v = 0; v < r.n; ++v) {
            const int32_t place = r.places[v] < 0 ? at : r.places[v];
            lowest = std::min(lowest, place);
            highest = std::max(highest, place);
        }
        if (kept == upTo && kept > 0 && decidedLead == 0 && heldFrom_ < 0) {
            heldFrom_ = s;
            heldPlace_ = highest;
        } else if (kept == upTo && kept > 0 && decidedLead > 0) {
            joinHeld(lowest);
            heldPlace_ = std::max(heldPlace_, highest);
        }
        if (kept < upTo) {
            const uint32_t by = history_->firstBy[size_t(s + kept)];
            for (int32_t i = kept;
                 i < upTo &&
                 againstFirstRead(s + i, agreed.data() + size_t(lead + i) * kRaw, 1) == 0;
                 ++i)
                decide(agreed.data() + size_t(lead + i) * kRaw, true);
            if (firstReadMissed_ != 0 && firstReadMissed_ != by)
                adrift_ = true;
            firstReadMissed_ = by;
            return;
        }
        if (proven > 0) {
            failedSteps_ = 0;
            attempt_ = 0;
            // A short block proven to its end (but for the silence there), or a large
            // one proven over more than a short block's worth, makes the next one large.
            steady_ = proven >= std::min(b, kStep) - kMargin - 1;
            // The first copy's sectors past the proven ones are first copies too.
            // (Not the one pass's read: its sectors may come from more reads than one.)
            if (r.off[0] == 0 && r.places[0] >= 0 && !handed) {
                const int32_t rest = std::min(r.got[0], lead + b) - (lead + std::min(proven, b));
                if (rest > 0)
                    addCandidates(r.copy[0] + size_t(lead + proven) * kRaw, rest, r.places[0],
                                  r.lead[0] + lead + proven);
            }
            return;
        }
        failed = r;
        anyFailed = !large;
        if (large) {
            large = false;
            block(large);
        }
    }
    if (best.empty())
        best.assign(kRaw, 0); // never read: silence
    decide(best.data(), true);
    // The sectors right after it whose copies in the last round all differ, each from
    // each, are read wrong every time as it is (a scratch the C2 pointers miss): they are
    // listed with it as the first copy gave them. A vote of their own each would spend
    // the same rounds, each read after a cache's worth of reading elsewhere, to the same
    // end. The first sector any two copies agree on ends them: it gets its own vote.
    if (!anyFailed || adrift_)
        return;
    for (int32_t i = lead + 1; i < lead + b && next_ <= readLast_; ++i) {
        const uint8_t* copies[kVotes] = {};
        for (int v = 0; v < kVotes; ++v)
            copies[v] = failed.places[v] >= 0 ? failed.sector(v, i) : nullptr;
        if (!copies[0] || !copies[1] || !copies[2] ||
            std::memcmp(copies[0], copies[1], kRaw) == 0 ||
            std::memcmp(copies[0], copies[2], kRaw) == 0 ||
            std::memcmp(copies[1], copies[2], kRaw) == 0)
            return;
        decide(copies[0], true);
    }
}

int32_t Ripper::againstFirstRead(int32_t lsn, const uint8_t* bytes, int32_t n) const {
    for (int32_t i = 0; i < n; ++i) {
        const size_t at = size_t(lsn + i);
        const uint64_t seen = at < history_->firstSeen.size() ? history_->firstSeen[at] : 0;
        if (seen != 0 && seen != sectorHash(bytes + size_t(i) * kRaw))
            return i;
    }
    return n;
}

// One read of up to a block from next_: its sectors are decided as damaged, as read
// (silence where the read gave none).
void Ripper::adriftRead() {
    const int32_t n = std::clamp(readLast_ + 1 - next_, 1, kStep);
    read_.resize(size_t(n) * kRaw);
    const int32_t got = readRun(next_, n, read_.data(), "adrift");
    for (int32_t i = 0; i < got; ++i)
        decide(read_.data() + size_t(i) * kRaw, true);
    if (got <= 0) {
        std::fill(read_.begin(), read_.begin() + kRaw, 0);
        decide(read_.data(), true);
    }
}

void Ripper::append(const uint8_t* bytes, size_t n) {
    // Never more than the range's exact byte count.
    n = size_t(std::min<int64_t>(int64_t(n), expected_ - produced_));
    fifo_.insert(fifo_.end(), bytes, bytes + n);
    produced_ += int64_t(n);
}

void Ripper::convert(const uint8_t* raw, int32_t frames) {
    const uint8_t* in = raw;
    if (isMono(settings_.format)) {
        mono_.resize(size_t(frames) * 2);
        for (int32_t i = 0; i < frames; ++i) {
            int16_t l, r;
            std::memcpy(&l, raw + 4 * i, 2);
            std::memcpy(&r, raw + 4 * i + 2, 2);
            // Average of both channels, rounded down (an arithmetic shift).
            auto m = static_cast<int16_t>((int32_t(l) + int32_t(r)) >> 1);
            std::memcpy(mono_.data() + 2 * i, &m, 2);
        }
        in = mono_.data();
    }
    if (!soxr_) {
        append(in, size_t(frames) * (isMono(settings_.format) ? 2 : 4));
        return;
    }
    const size_t frameBytes = isMono(settings_.format) ? 2 : 4;
    resampled_.resize((size_t(frames) / 2 + 256) * frameBytes);
    size_t done = 0, made = 0;
    soxr_process(soxr_.get(), in, size_t(frames), &done, resampled_.data(),
                 resampled_.size() / frameBytes, &made);
    append(resampled_.data(), made * frameBytes);
}

void Ripper::finish() {
    if (soxr_) {
        const size_t frameBytes = isMono(settings_.format) ? 2 : 4;
        resampled_.resize(4096 * frameBytes);
        for (int guard = 0; guard < 64; ++guard) {
            size_t made = 0;
            soxr_process(soxr_.get(), nullptr, 0, nullptr, resampled_.data(), 4096, &made);
            if (made == 0)
                break;
            append(resampled_.data(), made * frameBytes);
        }
    }
    // Pad to the exact length, should the resampler have fallen short.
    std::vector<uint8_t> zeros(size_t(expected_ - produced_), 0);
    append(zeros.data(), zeros.size());
    readDone_ = true;
}

CR_STATUS Ripper::chunk(uint8_t* out, int32_t* numBytes) {
    *numBytes = 0;
    if (finished_)
        return CR_STATUS_FAIL;
    chunkErrFirst_ = chunkErrLast_ = -1;
    if (doneNext_) {
        // The range's last data went out with status 3 so that its damage was listed;
        // this call only ends the range.
        finished_ = true;
        return CR_STATUS_DONE;
    }
    if (!readDone_) {
        const int32_t count = std::min(settings_.sectorsPerChunk, last_ - pos_ + 1);
        // The disc sectors this chunk takes its bytes from.
        const int32_t from = pos_ + shiftSectors_;
        const int32_t to = from + count - 1 + (shiftRest_ > 0 ? 1 : 0);
        window_.resize(size_t(to - from + 1) * kRaw);
        windowDamaged_.assign(size_t(to - from + 1), 0);
        for (int32_t lsn = from; lsn <= to; ++lsn)
            windowDamaged_[size_t(lsn - from)] =
                sectorFor(lsn, window_.data() + size_t(lsn - from) * kRaw) ? 1 : 0;
        carry_.assign(window_.end() - kRaw, window_.end());
        carryLsn_ = to;
        carryDamaged_ = windowDamaged_.back() != 0;
        // Under the read offset a chunk's sector takes its bytes from two of the drive's
        // (the rest of one from shiftRest_ on, then the start of the next): it is damaged
        // where either is, and listed as the sector of the audio it holds.
        for (int32_t k = 0; k < count; ++k)
            if (windowDamaged_[size_t(k)] || (shiftRest_ > 0 && windowDamaged_[size_t(k) + 1]))
                noteError(pos_ + k);
        std::memcpy(raw_.data(), window_.data() + shiftRest_, size_t(count) * kRaw);
        convert(raw_.data(), count * kFrames);
        pos_ += count;
        if (pos_ > last_)
            finish();
    }
    const size_t n = std::min(fifo_.size() - fifoStart_, size_t(bufferSize_));
    std::memcpy(out, fifo_.data() + fifoStart_, n);
    fifoStart_ += n;
    if (fifoStart_ == fifo_.size()) {
        fifo_.clear();
        fifoStart_ = 0;
    }
    delivered_ += int64_t(n);
    *numBytes = int32_t(n);
    if (chunkErrFirst_ >= 0) {
        lastErrFirst_ = uint32_t(chunkErrFirst_);
        lastErrLast_ = uint32_t(chunkErrLast_);
    }
    if (readDone_ && delivered_ == expected_) {
        if (chunkErrFirst_ >= 0) {
            doneNext_ = true;
            return CR_STATUS_JITTER;
        }
        finished_ = true;
        return CR_STATUS_DONE;
    }
    return chunkErrFirst_ >= 0 ? CR_STATUS_JITTER : CR_STATUS_OK;
}

int32_t Ripper::percent() const {
    if (expected_ <= 0)
        return 0;
    return int32_t(delivered_ * 100 / expected_);
}

void Ripper::lastErrorRange(uint32_t* first, uint32_t* last) const {
    *first = lastErrFirst_;
    *last = lastErrLast_;
}

} // namespace cdrip
