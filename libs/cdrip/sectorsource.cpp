#include "sectorsource.h"

#include "handles.h"

#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <vector>

namespace cdrip {

struct CddaHandle {
    CdioPtr cdio;
    bool image = false;
    // The most sectors one READ CD asks for: 25 (what drives and host adapters take
    // almost everywhere), less once the drive refused a longer one.
    int32_t commandLength = 25;
    // Whether the drive returns C2 error pointers with READ CD: unknown until the
    // first read asks for them; a drive that refuses the form is read without them.
    C2Support c2 = C2Support::Unknown;
    // The buffer the drive reports in its capabilities page, in KB (0: none).
    int32_t cacheKB = 0;
    // The buffer its reads showed it to have, in KB (0: nothing more than reported).
    int32_t grownKB = 0;
    // What the timing of its commands showed so far: the sectors a command delivered,
    // the seconds a sector took in the last commands of sectors never delivered before
    // (a ring), and where the last command ended (-1: not known, as after a failure).
    std::vector<uint8_t> seen;
    std::vector<double> newSectorSeconds;
    size_t nextSample = 0;
    int32_t nextLsn = -1;
    bool lastFast = false; // the last command came back as fast as from the cache
};

namespace {

constexpr int32_t kC2Bytes = 294;   // one bit for each byte of a sector
constexpr size_t kKeptSamples = 64; // timed commands of new sectors the median is of

// libcdio's audio reads of one opened drive or image.
class CddaSource final : public SectorSource {
public:
    explicit CddaSource(std::shared_ptr<CddaHandle> handle) : h_(std::move(handle)) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override {
        if (count <= 0 || lsn < 0 || !out)
            return 0;
        // A read goes in commands of at most commandLength sectors, and the first one that
        // falls short ends the read.
        // A command that fails fails as a whole, good sectors before the failing one
        // too: that piece is read again in commands that end before it, so that only
        // the sector that does not read is missing from what the read delivered.
        int32_t piece = h_->commandLength;
        starts_.assign(size_t(count), 0);
        retried_.assign(size_t(count), 0);
        anyRetried_ = false;
        fast_.assign(size_t(count), 0);
        anyFast_ = false;
        int32_t done = 0;
        commanded_ = 0;
        while (done < count) {
            int32_t ask = std::min(piece, count - done);
            // A command ends before a sector an earlier read narrowed a failure to, so
            // that the sectors in front of it come from a command that did not fail.
            const auto bad = unreadable_.upper_bound(lsn + done);
            if (bad != unreadable_.end() && *bad < lsn + done + ask)
                ask = *bad - (lsn + done);
            commanded_ = done + ask;
            long got = readPiece(lsn + done, ask, out, c2, done);
            if (got <= 0 && ask > 1 && refusedLast_) {
                // Refused for its length, not failed on the disc: the read goes on in the
                // longest commands the drive takes.
                if (const int32_t fit = longestTaken(lsn + done, ask, out, c2, done); fit > 0) {
                    piece = h_->commandLength = fit;
                    continue;
                }
            }
            if (got <= 0 && ask > 1) {
                got = narrow(lsn + done, ask, out, c2, done);
                if (got > 0) {
                    std::fill_n(retried_.begin() + done, std::min<long>(got, ask), 1);
                    anyRetried_ = true;
                }
            }
            if (got <= 0)
                break;
            done += int32_t(std::min<long>(got, ask));
            if (got < ask)
                break;
        }
        return done;
    }

    bool hasC2() const override { return h_->c2 == C2Support::Yes; }
    int32_t cacheSectors() const override {
        return h_->image ? 0 : driveCacheSectors(cacheKBOf(*h_));
    }
    int32_t saidCacheSectors() const override { return cdrip::saidCacheSectors(cacheKBOf(*h_)); }
    const uint8_t* answeredFast() const override { return anyFast_ ? fast_.data() : nullptr; }
    bool growCache() override {
        const int32_t base =
            std::max({h_->cacheKB, h_->grownKB, int32_t(kDriveCacheSectors) * kSectorBytes / 1024});
        if (h_->image || base >= kMaxGrownKB)
            return false;
        h_->grownKB = std::min(2 * base, kMaxGrownKB);
        return true;
    }
    const uint8_t* commandStarts() const override {
        return h_->image || starts_.empty() ? nullptr : starts_.data();
    }
    const uint8_t* retried() const override { return anyRetried_ ? retried_.data() : nullptr; }
    int32_t commanded() const override { return commanded_; }
    int32_t commandSectors() const override { return h_->image ? 0 : h_->commandLength; }

private:
    // One command of `ask` sectors at lsn into the buffers' sector `at` on: the sectors
    // it delivered, 0 when it failed.
    long readPiece(int32_t lsn, int32_t ask, uint8_t* out, uint8_t* c2, int32_t at) {
        const long got = command(lsn, ask, out, c2, at);
        if (got > 0 && size_t(at) < starts_.size())
            starts_[size_t(at)] = 1;
        return got;
    }

    // One drive command, timed on a monotonic clock (see timed). A drive may end a
    // transfer early and still report success, the buffer past it left as it was: what
    // it did not write is no read of those sectors (it would deliver what the buffer held
    // before), and it took less time for what was asked, as if the cache had answered.
    // Each sector's last four bytes get a mark of this command first: the sectors at the
    // end that still hold it were not written. They get the caller's bytes back and are
    // not delivered (the caller reads them again), and the command is not timed.
    long command(int32_t lsn, int32_t ask, uint8_t* out, uint8_t* c2, int32_t at) {
        uint8_t* into = out + size_t(at) * kSectorBytes;
        const uint32_t mark = 0x20000005u | (++commands_ * 0x6C8E9CF5u); // never 0
        tails_.resize(size_t(std::max(ask, 0)));
        for (int32_t i = 0; i < ask; ++i) {
            uint8_t* tail = into + size_t(i + 1) * kSectorBytes - 4;
            std::memcpy(&tails_[size_t(i)], tail, 4);
            std::memcpy(tail, &mark, 4);
        }
        const auto begin = std::chrono::steady_clock::now();
        long got = untimedCommand(lsn, ask, out, c2, at);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        // A transfer that ends early leaves no gaps: the unwritten sectors are the last.
        int32_t written = ask;
        for (; written > 0; --written) {
            uint8_t* tail = into + size_t(written) * kSectorBytes - 4;
            uint32_t held = 0;
            std::memcpy(&held, tail, 4);
            if (held != mark)
                break;
            std::memcpy(tail, &tails_[size_t(written - 1)], 4);
        }
        got = std::min<long>(got, written);
        timed(lsn, ask, got, took.count(), at);
        return got;
    }

    // What a command of `ask` sectors at lsn that delivered `got` in `seconds` shows.
    // One that read only sectors never delivered before is a read of the disc: it tells
    // how long a sector takes there. One that read only sectors delivered before, after
    // the drive was elsewhere (a read that goes on from the last one may be answered from
    // what the drive read ahead), and came back in under a tenth of that, came from the
    // cache. A slow command tells nothing: a drive may pause, spin up or retry.
    void timed(int32_t lsn, int32_t ask, long got, double seconds, int32_t at) {
        CddaHandle& h = *h_;
        if (h.image)
            return;
        if (got != ask || lsn < 0) {
            h.nextLsn = -1; // where a failed or short command left the drive is not known
            h.lastFast = false;
            return;
        }
        // A command that goes on from a fast one goes on from the cache: the drive read
        // nothing ahead for it (it reads ahead after reading the disc).
        const bool moved = h.nextLsn >= 0 && (lsn != h.nextLsn || h.lastFast);
        h.nextLsn = lsn + ask;
        h.lastFast = false;
        if (h.seen.size() < size_t(lsn + ask))
            h.seen.resize(size_t(lsn + ask), 0);
        const auto from = h.seen.begin() + lsn, to = from + ask;
        const bool anySeen = std::find(from, to, 1) != to;
        const bool allSeen = std::find(from, to, 0) == to;
        std::fill(from, to, 1);
        if (ask < kTimedSectors)
            return;
        if (!anySeen) {
            if (h.newSectorSeconds.size() < kKeptSamples)
                h.newSectorSeconds.push_back(seconds / ask);
            else
                h.newSectorSeconds[h.nextSample] = seconds / ask;
            h.nextSample = (h.nextSample + 1) % kKeptSamples;
            return;
        }
        if (!allSeen || !moved || h.newSectorSeconds.size() < size_t(kTimedSamples))
            return;
        std::vector<double> sorted = h.newSectorSeconds;
        const auto mid = sorted.begin() + ptrdiff_t(sorted.size() / 2);
        std::nth_element(sorted.begin(), mid, sorted.end());
        if (*mid < kMeasurableSeconds || seconds * 10 >= *mid * ask)
            return;
        std::fill_n(fast_.begin() + at, std::min<size_t>(size_t(ask), fast_.size() - size_t(at)),
                    1);
        anyFast_ = true;
        h.lastFast = true;
    }

    long untimedCommand(int32_t lsn, int32_t ask, uint8_t* out, uint8_t* c2, int32_t at) {
        uint8_t* into = out + size_t(at) * kSectorBytes;
        refusedLast_ = false;
        if (c2 && !h_->image && h_->c2 != C2Support::No) {
            const long got = readWithC2(lsn, ask, into, c2 + at);
            if (got >= 0)
                return got;
            // The drive refused the form: the same piece again, plainly.
        }
        // One command; libcdio neither retries it nor swaps the bytes of its samples
        // (images hold little-endian samples, and READ CD returns CD-DA little-endian).
        const long got =
            cdio_read_audio_sectors(h_->cdio.get(), into, lsn, uint32_t(ask)) == DRIVER_OP_SUCCESS
                ? ask
                : 0;
        if (c2 && got > 0)
            std::memset(c2 + at, 0, size_t(std::min<long>(got, ask)));
        if (got <= 0 && !h_->image)
            refusedLast_ = refused(h_->cdio.get());
        return got;
    }

    // After a command of `ask` sectors at lsn was refused (no sense data, or ILLEGAL
    // REQUEST: a host adapter's or drive's limit on one transfer, where damage on the disc
    // answers MEDIUM ERROR): the longest command at lsn that the drive takes, found by
    // halving the gap between the longest taken and the shortest refused, 0 when not even
    // one sector is taken or a read on the way fails otherwise (then the caller narrows it
    // down as damage). What the probes read is read again by the caller, in such pieces.
    int32_t longestTaken(int32_t lsn, int32_t ask, uint8_t* out, uint8_t* c2, int32_t at) {
        int32_t taken = 0, refusedAt = ask;
        while (refusedAt - taken > 1) {
            const int32_t mid = taken + (refusedAt - taken) / 2;
            const long got = command(lsn, mid, out, c2, at);
            if (got == mid)
                taken = mid;
            else if (got <= 0 && refusedLast_)
                refusedAt = mid;
            else
                return 0;
        }
        return taken;
    }

    // After a command of `ask` sectors at lsn failed: the sectors in front of where it
    // failed, read by commands that each end before the place the failure was narrowed
    // to. Where an earlier failure was narrowed to a sector inside the piece, one command
    // reads up to it (none when the piece starts there); else the stretch that holds the
    // failure is halved until it is one sector, about log2(ask) commands. That sector is
    // not read alone again: every failed command held it, and the caller decides what to
    // read again. Returns the sectors delivered from lsn on.
    long narrow(int32_t lsn, int32_t ask, uint8_t* out, uint8_t* c2, int32_t at) {
        int32_t good = 0, span = ask; // the failure lies in good .. good + span - 1
        if (unreadable_.count(lsn) != 0)
            failedAt_ = lsn; // a command at a sector known not to read: none in front
        if (failedAt_ >= lsn && failedAt_ < lsn + ask) {
            span = failedAt_ - lsn;
            if (span == 0)
                return 0;
            const long got = readPiece(lsn, span, out, c2, at);
            if (got == span)
                return span;
            if (got > 0)
                return got; // a short transfer: it ends the read where it ended
        }
        // Right after a sector that did not read, the next one is most likely unreadable
        // too (damage runs over neighbouring sectors): it is tried alone first.
        if (span > 1 && failedAt_ >= 0 && lsn == failedAt_ + 1) {
            const long got = readPiece(lsn, 1, out, c2, at);
            if (got <= 0) {
                failedAt_ = lsn;
                unreadable_.insert(lsn);
                return 0;
            }
            good = 1;
            --span;
        }
        while (span > 1) {
            const int32_t half = span / 2;
            const long got = readPiece(lsn + good, half, out, c2, at + good);
            if (got == half) {
                good += half;
                span -= half;
            } else if (got > 0) {
                return good + got;
            } else {
                span = half;
            }
        }
        failedAt_ = lsn + good;
        unreadable_.insert(failedAt_);
        return good;
    }

    // One READ CD of CD-DA with the C2 error pointers after each sector. The sectors'
    // bytes start as `out` holds them, so that what a short transfer did not reach keeps
    // the caller's marks. -1 when the drive refuses the form (then read without it from
    // now on), 0 when the read failed, else the sectors read.
    long readWithC2(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) {
        const size_t block = kSectorBytes + kC2Bytes;
        buffer_.assign(size_t(count) * block, 0);
        for (int32_t i = 0; i < count; ++i)
            std::memcpy(buffer_.data() + size_t(i) * block, out + size_t(i) * kSectorBytes,
                        kSectorBytes);
        CdIo_t* cdio = h_->cdio.get();
        const driver_return_code_t rc =
            mmc_read_cd(cdio, buffer_.data(), lsn, 1 /* CD-DA */, false, false, 0, true, false,
                        1 /* C2 error pointers */, 0, uint16_t(block), uint32_t(count));
        if (rc != DRIVER_OP_SUCCESS) {
            refusedLast_ = refused(cdio);
            if (h_->c2 == C2Support::Unknown && refusedLast_) {
                // Refused for the form, or for the command's length: one sector in the
                // same form tells which.
                if (count > 1 && readWithC2(lsn, 1, out, c2) == 1) {
                    refusedLast_ = true;
                    return 0;
                }
                h_->c2 = C2Support::No;
                return -1;
            }
            return 0;
        }
        h_->c2 = C2Support::Yes;
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* b = buffer_.data() + size_t(i) * block;
            std::memcpy(out + size_t(i) * kSectorBytes, b, kSectorBytes);
            const uint8_t* flags = b + kSectorBytes;
            c2[i] = std::any_of(flags, flags + kC2Bytes, [](uint8_t f) { return f != 0; }) ? 1 : 0;
        }
        return count;
    }

    // True when the drive's answer to the last command was ILLEGAL REQUEST (it does not
    // take the command in this form), or when it gave no sense data to tell.
    static bool refused(CdIo_t* cdio) {
        cdio_mmc_request_sense_t* sense = nullptr;
        const int n = mmc_last_cmd_sense(cdio, &sense);
        bool illegal = n <= 0;
        if (n >= 3 && sense)
            illegal = (reinterpret_cast<const uint8_t*>(sense)[2] & 0x0F) == 5;
        if (sense)
            cdio_free(sense);
        return illegal;
    }

    std::shared_ptr<CddaHandle> h_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> starts_;  // per sector of the last read: a command began at it
    int32_t failedAt_ = -1;        // where the last failed command was narrowed to
    std::set<int32_t> unreadable_; // every sector a failed command was narrowed to
    std::vector<uint8_t> retried_; // per sector of the last read: delivered after a failure
    bool anyRetried_ = false;
    bool refusedLast_ = false;  // the last failed command was refused, not failed on the disc
    std::vector<uint8_t> fast_; // per sector of the last read: see answeredFast
    bool anyFast_ = false;
    int32_t commanded_ = 0;       // see commanded()
    uint32_t commands_ = 0;       // drive commands made: each marks the buffer its own way
    std::vector<uint32_t> tails_; // what the caller had at the end of each sector asked for
};

// The buffer size a drive reports in its CD capabilities page (MODE SENSE(10) of page
// 2Ah, bytes 12-13 of the page, in KB), 0 when it does not answer.
int32_t askedCacheKB(CdIo_t* cdio) {
    uint8_t buf[64] = {};
    if (!cdio || mmc_mode_sense_10(cdio, buf, sizeof buf, 0x2A) != DRIVER_OP_SUCCESS)
        return 0;
    const size_t length = size_t((buf[0] << 8) | buf[1]) + 2;
    const size_t page = 8 + size_t((buf[6] << 8) | buf[7]); // after the block descriptors
    if (page + 14 > std::min(length, sizeof buf) || (buf[page] & 0x3F) != 0x2A ||
        buf[page + 1] < 12)
        return 0;
    return int32_t((buf[page + 12] << 8) | buf[page + 13]);
}

} // namespace

int32_t driveCacheSectors(int32_t reportedKB) {
    const int64_t reported = saidCacheSectors(reportedKB);
    if (reported <= kDriveCacheSectors)
        return kDriveCacheSectors;
    // A margin for what the drive keeps beside the buffer it reports (sectors read ahead
    // into it, a size rounded down to whole kilobytes).
    return int32_t(reported + reported / 16);
}

int32_t defeatedCache(int32_t sourceCache, int32_t last) {
    return std::max(0, std::min({sourceCache, kMaxDefeatedCache, (last + 1) / 2}));
}

bool cacheUndefeatable(int32_t sourceCache, int32_t said, int32_t last) {
    const int32_t defeated = defeatedCache(sourceCache, last);
    return sourceCache > std::max(kDriveCacheSectors, defeated) || said > defeated;
}

int32_t saidCacheSectors(int32_t kb) {
    return int32_t((int64_t(std::max(kb, 0)) * 1024 + kSectorBytes - 1) / kSectorBytes);
}

std::shared_ptr<CddaHandle> openCdda(const std::string& source, bool image) {
    auto h = std::make_shared<CddaHandle>();
    h->image = image;
    h->cdio = openAudioCdio(source, image);
    if (!h->cdio)
        return nullptr;
    if (!image)
        h->cacheKB = askedCacheKB(h->cdio.get());
    return h;
}

C2Support c2SupportOf(const CddaHandle& handle) {
    return handle.c2;
}

bool answeredFromCache(const uint8_t* fast, const uint8_t* starts, const uint8_t* gone, int32_t got,
                       int32_t delivered) {
    if (!fast)
        return false;
    for (int32_t i = 0; i < delivered && i < got;) {
        int32_t end = i + 1;
        while (end < delivered && !(starts && starts[end]))
            ++end;
        int32_t taken = 0;
        for (int32_t j = i; j < end && j < got; ++j)
            taken += fast[j] && gone[j] ? 1 : 0;
        if (taken > 0 && taken * 10 >= end - i)
            return true;
        i = end;
    }
    return false;
}

int32_t cacheKBOf(const CddaHandle& handle) {
    return handle.image ? 0 : std::max(handle.cacheKB, handle.grownKB);
}

std::unique_ptr<SectorSource> cddaSource(std::shared_ptr<CddaHandle> handle) {
    if (!handle)
        return nullptr;
    return std::make_unique<CddaSource>(std::move(handle));
}

std::unique_ptr<SectorSource> openCddaSource(const std::string& source, bool image) {
    return cddaSource(openCdda(source, image));
}

} // namespace cdrip
