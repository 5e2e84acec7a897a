#include "ripper.h"

#include <algorithm>
#include <cstring>
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

constexpr int32_t kAnchor = 2 * kRaw; // proven bytes a verified read starts with
constexpr int32_t kMaxShift = kRaw;   // the most a read may land off, in bytes
constexpr int32_t kStep = 32;         // new sectors one verified read asks for
constexpr int32_t kBootSectors = 4;   // sectors a vote decides at a time
constexpr int kVotes = 5;             // consecutive reads of one vote
constexpr int kMajority = 3;          // equal copies that decide a vote

bool allZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
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
    if (outRate(settings_.format) != 44100 && !startResampler())
        return false;
    const int32_t bps = bytesPerSector(settings_.format);
    expected_ = int64_t(last - first + 1) * bps;
    // Two sectors' room beyond a full chunk takes the resampler's delay at the end.
    bufferSize_ = (settings_.sectorsPerChunk + 2) * bps;
    raw_.resize(size_t(settings_.sectorsPerChunk) * kRaw);
    anchor_.assign(size_t(kAnchor), 0);
    return true;
}

bool Ripper::startResampler() {
    const unsigned channels = isMono(settings_.format) ? 1 : 2;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = nullptr;
    soxr_.reset(soxr_create(44100, outRate(settings_.format), channels, &err, &io, &q, nullptr));
    return soxr_ && !err;
}

int32_t Ripper::readRun(int32_t lsn, int32_t count, uint8_t* out) {
    if (count <= 0 || lsn < 0)
        return 0;
    const int32_t got = source_->read(lsn, count, out, nullptr);
    return std::clamp(got, 0, count);
}

bool Ripper::readPlain(int32_t lsn, uint8_t* out) {
    const int attempts = std::clamp(settings_.retries / 5, 1, 3);
    for (int attempt = 0; attempt < attempts; ++attempt)
        if (readRun(lsn, 1, out) == 1)
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
        const int32_t got = readRun(plainNext_ + done, count - done, out + size_t(done) * kRaw);
        if (got > 0) {
            done += got;
            continue;
        }
        uint8_t* at = out + size_t(done) * kRaw;
        if (!readPlain(plainNext_ + done, at)) {
            std::memset(at, 0, kRaw);
            damaged_[size_t(done)] = true;
        }
        ++done;
    }
    plainNext_ += count;
}

// One sector of the disc for delivery, in order: silence outside the disc's audio,
// else the next decided sector.
void Ripper::sectorFor(int32_t lsn, uint8_t* out) {
    if (lsn < readFirst_ || lsn > readLast_) {
        std::memset(out, 0, kRaw); // beyond the disc's audio: silence, not damage
        return;
    }
    if (lsn == carryLsn_) {
        std::memcpy(out, carry_.data(), kRaw);
        return;
    }
    if (settings_.paranoia) {
        decideUpTo(lsn);
    } else if (taken_ == damaged_.size()) {
        readPlainRun();
    }
    std::memcpy(out, decided_.data() + taken_ * kRaw, kRaw);
    if (damaged_[taken_])
        noteError(lsn);
    // Delivered sectors go in batches, not one by one.
    if (++taken_ == damaged_.size() || taken_ >= 64) {
        decided_.erase(decided_.begin(), decided_.begin() + ptrdiff_t(taken_ * kRaw));
        damaged_.erase(damaged_.begin(), damaged_.begin() + ptrdiff_t(taken_));
        taken_ = 0;
    }
}

// The verified reader. A drive delivers the bytes of one read contiguously, but a read
// may land off by up to one sector (kMaxShift) and a sector may read differently each
// time. A sector is proven by one of:
//  - two reads that are both aligned and give it the same bytes. A read is aligned
//    when it starts with the two proven sectors before next_ (the anchor), equal at
//    lag 0 and at no other lag within kMaxShift: a read that landed off by d would
//    match the anchor at lag d.
//  - silence: a read in which the sector and both its neighbours are all zero; since
//    no read lands off by more than a sector, the disc is silent there.
//  - a vote (at the start of a range, after an unproven sector, or where the anchor is
//    silent or periodic and so cannot pin a read): five consecutive reads of the
//    sector, of which three give the same bytes. The drive model behind this is that
//    at most two of any five consecutive reads land off, so three equal copies include
//    one that landed right.
// A sector that nothing proves within the retry budget is delivered as best known
// (silence when it never read at all) and counted and listed as damaged.
void Ripper::decide(const uint8_t* bytes, bool damaged) {
    decided_.insert(decided_.end(), bytes, bytes + kRaw);
    damaged_.push_back(damaged);
    ++next_;
    if (damaged) {
        anchorCount_ = 0;
        return;
    }
    std::memmove(anchor_.data(), anchor_.data() + kRaw, kRaw);
    std::memcpy(anchor_.data() + kRaw, bytes, kRaw);
    anchorCount_ = std::min(anchorCount_ + 1, 2);
}

void Ripper::decideUpTo(int32_t until) {
    while (next_ <= until)
        step();
}

void Ripper::step() {
    if (anchorCount_ < 2)
        bootstrap();
    else
        extend();
}

void Ripper::bootstrap() {
    pendingCount_ = 0;
    pending_.clear();
    const int32_t b = std::min(kBootSectors, readLast_ + 1 - next_);
    const int rounds = std::max(1, settings_.retries / kVotes);
    const size_t span = size_t(b) * kRaw;
    std::vector<uint8_t> copies(kVotes * span);
    std::vector<uint8_t> best;
    int32_t got[kVotes];
    for (int round = 0; round < rounds; ++round) {
        for (int v = 0; v < kVotes; ++v)
            got[v] = readRun(next_, b, copies.data() + v * span);
        int32_t proven = 0;
        for (int32_t j = 0; j < b; ++j) {
            const uint8_t* winner = nullptr;
            const uint8_t* seen = nullptr;
            for (int v = 0; v < kVotes && !winner; ++v) {
                if (got[v] <= j)
                    continue;
                const uint8_t* mine = copies.data() + v * span + size_t(j) * kRaw;
                seen = mine;
                int votes = 0;
                for (int w = 0; w < kVotes; ++w)
                    if (got[w] > j &&
                        std::memcmp(mine, copies.data() + w * span + size_t(j) * kRaw, kRaw) == 0)
                        ++votes;
                if (votes >= kMajority)
                    winner = mine;
            }
            if (!winner) {
                if (j == 0 && seen)
                    best.assign(seen, seen + kRaw);
                break;
            }
            decide(winner, false);
            ++proven;
        }
        if (proven > 0) {
            failedSteps_ = 0;
            return;
        }
    }
    if (best.empty())
        best.assign(kRaw, 0); // never read: silence
    decide(best.data(), true);
}

void Ripper::extend() {
    const int32_t from = next_ - 2;
    const int32_t have = pendingCount_;
    const int32_t fresh = std::max(0, std::min(kStep, readLast_ + 1 - (next_ + have)));
    int32_t count = 2 + have + fresh;
    if (from + count <= settings_.discLast)
        ++count; // one more for the silence proof of the last sector asked for
    read_.resize(size_t(count) * kRaw);
    const uint8_t* r = read_.data();
    const int32_t got = readRun(from, count, read_.data());
    auto failed = [&] {
        if (++failedSteps_ >= 4) { // put it to a vote
            failedSteps_ = 0;
            anchorCount_ = 0;
        }
    };
    if (got < 2 || std::memcmp(r, anchor_.data(), kAnchor) != 0) {
        failed();
        return;
    }
    const int64_t readBytes = int64_t(got) * kRaw;
    bool aligned = true;
    for (int32_t lag = -kMaxShift; lag <= kMaxShift && aligned; lag += 4) {
        if (lag > 0)
            aligned = std::memcmp(r, anchor_.data() + lag, size_t(kAnchor - lag)) != 0;
        else if (lag < 0) {
            const int64_t n = std::min<int64_t>(kAnchor, readBytes + lag);
            aligned = n <= 0 || std::memcmp(r - lag, anchor_.data(), size_t(n)) != 0;
        }
    }
    // Sectors of this read after the anchor, up to the range's end.
    const int32_t inRead = std::min(got - 2, readLast_ + 1 - next_);
    int32_t k = 0;
    while (k < have && k < inRead &&
           std::memcmp(r + size_t(2 + k) * kRaw, pending_.data() + size_t(k) * kRaw, kRaw) == 0)
        ++k;
    for (int32_t i = 0; i < k; ++i)
        decide(pending_.data() + size_t(i) * kRaw, false);
    const int32_t rest = 2 + k; // read index of sector next_ now
    if (k < have) {
        if (!aligned || k >= inRead) {
            pending_.erase(pending_.begin(), pending_.begin() + size_t(k) * kRaw);
            pendingCount_ -= k;
            if (k == 0)
                failed();
            return;
        }
        // An aligned read gave other bytes than the aligned read before: the sector
        // reads differently each time.
        if (mismatchLsn_ != next_) {
            mismatchLsn_ = next_;
            mismatches_ = 0;
        }
        if (++mismatches_ >= std::max(2, settings_.retries / 4)) {
            decide(r + size_t(rest) * kRaw, true); // best known: the latest copy
            pending_.clear();
            pendingCount_ = 0;
            return;
        }
        pending_.assign(r + size_t(rest) * kRaw, r + size_t(2 + inRead) * kRaw);
        pendingCount_ = inRead - k;
        failedSteps_ = 0;
        return;
    }
    pending_.clear();
    pendingCount_ = 0;
    if (aligned) {
        pending_.assign(r + size_t(rest) * kRaw, r + size_t(2 + inRead) * kRaw);
        pendingCount_ = inRead - k;
        if (k == 0 && pendingCount_ == 0)
            failed(); // the read stopped at next_
        else
            failedSteps_ = 0;
        return;
    }
    // The anchor is silent or periodic: this read proves only silence.
    int32_t j = rest;
    while (j + 1 < got && next_ <= readLast_ &&
           allZero(r + size_t(j - 1) * kRaw, 3 * size_t(kRaw))) {
        decide(r + size_t(j) * kRaw, false);
        ++j;
    }
    if (j == rest && k == 0) { // nothing proven: put it to a vote
        failedSteps_ = 0;
        anchorCount_ = 0;
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
        for (int32_t lsn = from; lsn <= to; ++lsn)
            sectorFor(lsn, window_.data() + size_t(lsn - from) * kRaw);
        carry_.assign(window_.end() - kRaw, window_.end());
        carryLsn_ = to;
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
