#include "onepass.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace cdrip {
namespace {

class CountingSource final : public SectorSource {
public:
    CountingSource(std::unique_ptr<SectorSource> inner, int64_t* sectors)
        : inner_(std::move(inner)), sectors_(sectors) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override {
        if (count > 0)
            *sectors_ += count;
        return inner_->read(lsn, count, out, c2);
    }
    bool hasC2() const override { return inner_->hasC2(); }
    int32_t cacheSectors() const override { return inner_->cacheSectors(); }
    int32_t saidCacheSectors() const override { return inner_->saidCacheSectors(); }
    const uint8_t* commandStarts() const override { return inner_->commandStarts(); }
    const uint8_t* retried() const override { return inner_->retried(); }
    int32_t commandSectors() const override { return inner_->commandSectors(); }
    int32_t commanded() const override { return inner_->commanded(); }
    const uint8_t* answeredFast() const override { return inner_->answeredFast(); }
    bool growCache() override { return inner_->growCache(); }

private:
    std::unique_ptr<SectorSource> inner_;
    int64_t* sectors_;
};

} // namespace

RipSettings onePassSettings(const RipSettings& secure) {
    RipSettings s = secure;
    // The plain reading: one read a chunk, each sector on its own once where that
    // fails; no second try, since whatever fails is read again securely anyway.
    s.paranoia = false;
    s.retries = 1;
    s.keepFlagged = true; // the AccurateRip checksum judges what the drive flagged
    return s;
}

std::unique_ptr<SectorSource> countingSectors(std::unique_ptr<SectorSource> inner,
                                              int64_t* sectors) {
    if (!inner || !sectors)
        return inner;
    return std::make_unique<CountingSource>(std::move(inner), sectors);
}

bool SecurePlan::ready() const {
    return std::all_of(reads.begin(), reads.end(), [](const PlannedRead& r) { return r.made; });
}

bool SecurePlans::pending() const {
    return std::any_of(plans.begin(), plans.end(), [](const SecurePlan& p) { return !p.ready(); });
}

int32_t defeatedCache(const SectorSource& inner, int32_t discLast) {
    return defeatedCache(inner.cacheSectors(), discLast);
}

namespace {

constexpr int32_t kRun = 32; // sectors a read made to defeat the cache asks for

// Reads of one drive entered in the reader's history of its cache, as the reader
// enters its own: a sector the drive delivered and could not have held moves the
// clock, and every sector asked for counts as read now.
class DriveReads {
public:
    DriveReads(std::unique_ptr<SectorSource> inner, std::shared_ptr<ReadHistory> history,
               int32_t discLast)
        : inner_(std::move(inner)), history_(std::move(history)), discLast_(discLast),
          cache_(defeatedCache(*inner_, discLast)) {}

    SectorSource& inner() const { return *inner_; }
    ReadHistory& history() const { return *history_; }
    int32_t cache() const { return cache_; }
    // Whether reading elsewhere can make the drive forget a sector: false for a cache
    // larger than the reader defeats on this disc.
    bool defeatable() const {
        return !cacheUndefeatable(inner_->cacheSectors(), inner_->saidCacheSectors(), discLast_);
    }

    void ready() {
        if (cache_ > 0 && history_->lastRead.size() != size_t(discLast_ + 1)) {
            history_->clock = 0;
            history_->lastRead.assign(size_t(discLast_ + 1), std::numeric_limits<int32_t>::min());
        }
    }

    // True when no sector of lsn .. lsn + count - 1 can be in the drive's cache (once
    // `soon` more sectors have come from the disc).
    bool fresh(int32_t lsn, int32_t count, int32_t soon = 0) const {
        for (int32_t i = 0; i < count && cache_ > 0; ++i)
            if (!freshOne(lsn + i, soon))
                return false;
        return true;
    }

    // One read; the whole sectors at the front it delivered (a short transfer that
    // reported success is found by a mark of this read at the end of each sector).
    int32_t live(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) {
        if (count <= 0 || lsn < 0)
            return 0;
        const uint32_t mark = 0x40000003u | (++reads_ * 0x2545F491u);
        for (int32_t i = 0; i < count; ++i)
            std::memcpy(out + size_t(i + 1) * kSectorBytes - 4, &mark, 4);
        if (c2)
            std::memset(c2, 0, size_t(count));
        const int32_t delivered = std::clamp(inner_->read(lsn, count, out, c2), 0, count);
        int32_t got = delivered;
        for (int32_t i = 0; i < got; ++i) {
            uint32_t tail = 0;
            std::memcpy(&tail, out + size_t(i + 1) * kSectorBytes - 4, 4);
            if (tail == mark) {
                got = i;
                break;
            }
        }
        std::vector<uint8_t> gone(size_t(got), 0);
        for (int32_t i = 0; i < got; ++i)
            gone[size_t(i)] = freshOne(lsn + i) ? 1 : 0;
        for (int32_t i = 0; i < count && cache_ > 0; ++i) {
            const int64_t at = int64_t(lsn) + i;
            if (at >= int64_t(history_->lastRead.size()))
                break;
            if (i < got && freshOne(int32_t(at)))
                ++history_->clock;
            history_->lastRead[size_t(at)] = int32_t(history_->clock);
        }
        noteFast(got, answeredFromCache(inner_->answeredFast(), inner_->commandStarts(),
                                        gone.data(), got, delivered));
        return got;
    }

    // Whether the last live read came back as fast as the drive's cache answers, however
    // long ago its sectors were read: none of its copies is fresh.
    bool lastFast() const { return lastFast_; }

    // Reads more than the cache's worth of sectors from the disc away from lsn ..
    // lsn + count - 1 (from the other half of the disc's audio on), so that the next
    // read of them comes from the disc. False when the disc had too few to read.
    bool defeat(int32_t lsn, int32_t count, int32_t audioFirst, int32_t audioLast) {
        if (cache_ == 0 || fresh(lsn, count))
            return true;
        const int64_t until = history_->clock + cache_ + 1;
        const int32_t span = audioLast - audioFirst + 1;
        if (span <= 0)
            return false;
        const int32_t mid = audioFirst + span / 2;
        int32_t at = lsn + count / 2 < mid ? mid : audioFirst;
        std::vector<uint8_t> scratch(size_t(kRun) * kSectorBytes);
        for (int32_t walked = 0; history_->clock < until && walked < span;) {
            int32_t n = 0;
            while (n < kRun && at + n <= audioLast &&
                   (at + n < lsn - kRun || at + n > lsn + count + kRun) && freshOne(at + n))
                ++n;
            if (n == 0) {
                at = at + 1 > audioLast ? audioFirst : at + 1;
                ++walked;
                continue;
            }
            live(at, n, scratch.data(), nullptr);
            at = at + n > audioLast ? audioFirst : at + n;
            walked += n;
        }
        return history_->clock >= until;
    }

private:
    // A read that came back as fast as from the cache: none of its copies is fresh. Where
    // the cache answered re-reads this history had forgotten (`forgotten`), the cache is
    // larger than taken for. Counted with the reader's own, such re-reads make it larger,
    // so that what is read later is read far enough apart; a cache that grows too large
    // to defeat on the disc makes the sources say so.
    void noteFast(int32_t got, bool forgotten) {
        lastFast_ = false;
        if (const uint8_t* fast = inner_->answeredFast())
            lastFast_ = std::any_of(fast, fast + got, [](uint8_t f) { return f != 0; });
        if (forgotten && history_->fastReread() && inner_->growCache())
            cache_ = defeatedCache(*inner_, discLast_);
    }

    bool freshOne(int32_t lsn, int32_t soon = 0) const {
        if (cache_ == 0 || lsn < 0 || size_t(lsn) >= history_->lastRead.size())
            return true;
        return history_->clock + soon - history_->lastRead[size_t(lsn)] > cache_;
    }

    std::unique_ptr<SectorSource> inner_;
    std::shared_ptr<ReadHistory> history_;
    int32_t discLast_, cache_;
    uint32_t reads_ = 0;
    bool lastFast_ = false;
};

void makeRead(DriveReads& drive, PlannedRead& r) {
    r.bytes.assign(size_t(r.count) * kSectorBytes, 0);
    r.c2.assign(size_t(r.count), 0);
    r.got = drive.live(r.lsn, r.count, r.bytes.data(), r.c2.data());
    // From the drive's cache: the secure reading reads it again itself.
    r.cached = drive.lastFast();
    r.starts.assign(size_t(r.count), 0);
    if (const uint8_t* starts = drive.inner().commandStarts())
        std::copy(starts, starts + r.got, r.starts.begin());
    else if (r.got > 0)
        r.starts[0] = 1;
    r.made = true;
}

// The pass reads on as asked; before each of its reads, a planned read falls due:
//  - ahead of the pass, while other planned reads of its sectors are still to be made
//    (the pass itself makes the last of them as it goes by): when the pass is no more
//    than a cache's worth (plus a margin) away from it for each of those reads, so that
//    every one of them, and the pass's, comes a cache's worth after the one before;
//  - behind the pass (or where it stands): as soon as the drive has forgotten its
//    sectors.
// A trip away from the pass for the reads due also makes the other planned reads that
// may be made now (the drive has forgotten their sectors, and a read ahead leaves room
// for the ones after it) where that costs less seeking than their own trip would: on a
// short disc one trip goes to both edges. A trip of reads behind the pass alone waits a
// little for such a read that the drive is about to forget. Near the end of the disc, a
// read behind the pass waits for the pass to end where that is cheaper: from the disc's
// last sector, one seek to it (the secure reading makes it then), no trip back.
// A planned read that starts within a read of the pass and that the drive cannot answer
// from its cache is made by the pass: its read is cut there into two reads one after
// the other (no seek), and the pass takes its sectors from the planned read.
class ErrandSource final : public SectorSource {
public:
    ErrandSource(std::unique_ptr<SectorSource> inner, std::shared_ptr<SecurePlans> plans,
                 std::shared_ptr<ReadHistory> history, int32_t discLast, int32_t audioLast)
        : drive_(std::move(inner), std::move(history), discLast), plans_(std::move(plans)),
          discSectors_(std::max(discLast + 1, 1)),
          audioEnd_(audioLast >= 0 ? audioLast + 1 : discLast + 1) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override {
        drive_.ready();
        if (count <= 0 || lsn < 0)
            return 0;
        errands(lsn, count);
        PlannedRead* r = servable(lsn, count);
        if (!r)
            return drive_.live(lsn, count, out, c2);
        const int32_t before = r->lsn - lsn;
        if (before > 0) {
            const int32_t got = drive_.live(lsn, before, out, c2);
            if (got < before)
                return got;
        }
        makeRead(drive_, *r);
        const int32_t rest = count - before;
        const int32_t n = std::min(r->got, rest);
        std::memcpy(out + size_t(before) * kSectorBytes, r->bytes.data(), size_t(n) * kSectorBytes);
        if (c2)
            std::memcpy(c2 + before, r->c2.data(), size_t(n));
        if (n < std::min(r->count, rest) || rest <= r->count)
            return before + n;
        const int32_t more = drive_.live(r->lsn + r->count, rest - r->count,
                                         out + size_t(before + r->count) * kSectorBytes,
                                         c2 ? c2 + before + r->count : nullptr);
        return before + r->count + more;
    }
    bool hasC2() const override { return drive_.inner().hasC2(); }
    int32_t cacheSectors() const override { return drive_.inner().cacheSectors(); }
    int32_t saidCacheSectors() const override { return drive_.inner().saidCacheSectors(); }

private:
    static constexpr int32_t kMarginSectors = 4 * kRun;
    // What the trips are weighed by: a seek takes a fixed time and a part that grows
    // with its distance (about 80 ms, and up to 120 ms more across the whole disc).
    static constexpr double kSeekFixed = 80, kSeekAcross = 120;

    struct Pending {
        PlannedRead* read;
        int32_t others; // other planned reads of its sectors still to be made
    };

    // The other unmade reads of the plan that share sectors with r.
    static int32_t othersOf(const SecurePlan& plan, const PlannedRead& r) {
        int32_t others = 0;
        for (const PlannedRead& o : plan.reads)
            others +=
                !o.made && &o != &r && o.lsn < r.lsn + r.count && r.lsn < o.lsn + o.count ? 1 : 0;
        return others;
    }
    // How far ahead of a pass at lsn a read with `others` still to come falls due.
    int64_t dueAhead(int32_t others) const {
        return int64_t(others) * (drive_.cache() + 1) + kMarginSectors;
    }
    double seek(int64_t from, int64_t to) const {
        return kSeekFixed + kSeekAcross * double(std::abs(to - from)) / discSectors_;
    }
    // The seeking of a trip from the pass at `at` to `reads` and back, in the cheaper of
    // the two orders along the disc (the reads are sorted into it).
    double route(std::vector<PlannedRead*>& reads, int32_t at) const {
        if (reads.empty())
            return 0;
        auto cost = [&](const std::vector<PlannedRead*>& order) {
            double total = 0;
            int64_t head = at;
            for (const PlannedRead* r : order) {
                total += seek(head, r->lsn);
                head = int64_t(r->lsn) + r->count;
            }
            return total + seek(head, at);
        };
        std::sort(reads.begin(), reads.end(),
                  [](const PlannedRead* a, const PlannedRead* b) { return a->lsn < b->lsn; });
        std::vector<PlannedRead*> down(reads.rbegin(), reads.rend());
        const double up = cost(reads), back = cost(down);
        if (back < up)
            reads = std::move(down);
        return std::min(up, back);
    }

    // The unmade reads the pass does not reach now, with their plans' counts. A read that
    // shares sectors with the pass's read waits: made first, it would leave them in the
    // drive's cache for the pass, whose copies must come from the disc (a secure reading
    // of its range takes them as first copies).
    std::vector<Pending> pending(int32_t lsn, int32_t count) {
        std::vector<Pending> all;
        for (SecurePlan& plan : plans_->plans)
            for (PlannedRead& r : plan.reads)
                if (!r.made && !(r.lsn < lsn + count && r.lsn + r.count > lsn))
                    all.push_back({&r, othersOf(plan, r)});
        return all;
    }
    bool due(const Pending& p, int32_t lsn, int32_t count) const {
        const PlannedRead& r = *p.read;
        if (r.lsn >= lsn + count && (p.others == 0 || int64_t(r.lsn) - lsn > dueAhead(p.others)))
            return false;
        return drive_.fresh(r.lsn, r.count);
    }
    // A read ahead not due yet that may be made now: its plan's later reads still fit
    // between it and the pass. Then what its own trip would cost when it falls due.
    bool early(const Pending& p, int32_t lsn, int32_t count, double* own) const {
        const PlannedRead& r = *p.read;
        if (r.lsn < lsn + count || p.others == 0 ||
            int64_t(r.lsn) - lsn <= int64_t(p.others) * (drive_.cache() + 1) + kRun)
            return false;
        const int64_t at = std::max<int64_t>(lsn, int64_t(r.lsn) - dueAhead(p.others));
        *own = seek(at, r.lsn) + seek(int64_t(r.lsn) + r.count, at);
        return true;
    }

    // The trip for the reads due, with the early reads that are cheaper along (their own
    // trips' cost added to *saved). False: it waits for an early read about to be fresh.
    bool along(const std::vector<Pending>& all, std::vector<PlannedRead*>& trip, int32_t lsn,
               int32_t count, bool urgent, double* saved) {
        for (const Pending& p : all) {
            double own = 0;
            if (std::find(trip.begin(), trip.end(), p.read) != trip.end() ||
                !early(p, lsn, count, &own))
                continue;
            // One trip reads a sector once: a second read of it would not be fresh.
            const bool shared = std::any_of(trip.begin(), trip.end(), [&](const PlannedRead* r) {
                return r->lsn < p.read->lsn + p.read->count && p.read->lsn < r->lsn + r->count;
            });
            std::vector<PlannedRead*> with = trip;
            with.push_back(p.read);
            if (shared || route(with, lsn) - route(trip, lsn) >= own)
                continue;
            if (drive_.fresh(p.read->lsn, p.read->count)) {
                trip = std::move(with);
                *saved += own;
            } else if (!urgent && drive_.fresh(p.read->lsn, p.read->count, kMarginSectors)) {
                return false; // the drive forgets it within a few reads: both go then
            }
        }
        return true;
    }

    // The seeking from the disc's end to `reads`, one after the other.
    double fromEnd(std::vector<PlannedRead*> reads) const {
        double total = 0;
        int64_t head = audioEnd_;
        std::sort(reads.begin(), reads.end(),
                  [](const PlannedRead* a, const PlannedRead* b) { return a->lsn < b->lsn; });
        for (const PlannedRead* r : reads) {
            total += seek(head, r->lsn);
            head = int64_t(r->lsn) + r->count;
        }
        return total;
    }

    void errands(int32_t lsn, int32_t count) {
        std::vector<Pending> all = pending(lsn, count);
        // Due: ahead of the pass, behind it, and behind it as the last read of its
        // sectors (which may wait for the pass's end: nothing needs to come after it).
        std::vector<PlannedRead*> ahead, behind, last;
        for (const Pending& p : all)
            if (due(p, lsn, count))
                (p.read->lsn >= lsn + count ? ahead
                 : p.others == 0            ? last
                                            : behind)
                    .push_back(p.read);
        if (ahead.empty() && behind.empty() && last.empty())
            return;
        std::vector<PlannedRead*> now = ahead;
        now.insert(now.end(), behind.begin(), behind.end());
        std::vector<PlannedRead*> trip = now;
        trip.insert(trip.end(), last.begin(), last.end());
        double saved = 0;
        if (!along(all, trip, lsn, count, !ahead.empty(), &saved))
            return;
        // The last reads behind left for the pass's end, within two caches' worth of
        // reading (what the caller holds of the tracks read meanwhile stays small).
        if (!last.empty() && int64_t(audioEnd_) - (lsn + count) <= 2 * int64_t(drive_.cache())) {
            std::vector<PlannedRead*> without = now;
            double savedWithout = 0;
            if (!without.empty())
                along(all, without, lsn, count, true, &savedWithout);
            const double later = route(without, lsn) + (saved - savedWithout) + fromEnd(last);
            if (later < route(trip, lsn))
                trip = std::move(without);
        }
        route(trip, lsn);
        for (PlannedRead* r : trip) {
            if (r->made || !drive_.fresh(r->lsn, r->count))
                continue; // another read of the trip read its sectors
            makeRead(drive_, *r);
            ++plans_->trips;
        }
    }

    PlannedRead* servable(int32_t lsn, int32_t count) {
        for (SecurePlan& plan : plans_->plans)
            for (PlannedRead& r : plan.reads)
                if (!r.made && r.lsn >= lsn && r.lsn < lsn + count && drive_.fresh(r.lsn, r.count))
                    return &r;
        return nullptr;
    }

    DriveReads drive_;
    std::shared_ptr<SecurePlans> plans_;
    double discSectors_;
    int32_t audioEnd_; // where the pass ends: after the disc's last audio sector
};

class PlannedSource final : public SectorSource {
public:
    PlannedSource(std::unique_ptr<SectorSource> inner, SecurePlan plan,
                  std::shared_ptr<ReadHistory> history, int32_t discLast, int32_t audioFirst,
                  int32_t audioLast)
        : drive_(std::move(inner), std::move(history), discLast), plan_(std::move(plan)),
          audioFirst_(audioFirst), audioLast_(audioLast), defeatable_(drive_.defeatable()) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override {
        drive_.ready();
        if (count <= 0 || lsn < 0)
            return 0;
        for (PlannedRead& r : plan_.reads) {
            if (!r.made || r.taken || r.cached || r.lsn != lsn || r.count < count)
                continue;
            r.taken = true; // a read is given once: asked again, the drive reads again
            const int32_t n = std::min(count, r.got);
            std::memcpy(out, r.bytes.data(), size_t(n) * kSectorBytes);
            if (c2)
                std::memcpy(c2, r.c2.data(), size_t(count));
            starts_ = r.starts.empty() ? nullptr : r.starts.data();
            retried_ = nullptr;
            return n;
        }
        starts_ = nullptr;
        retried_ = nullptr;
        // Where the cache cannot be defeated the reader takes no re-read as fresh (it sees
        // the drive's cache): reading elsewhere first would buy nothing. Where it was
        // taken as defeatable and turned out too large to defeat since, the reader takes
        // every read as fresh still: none gives a copy.
        if (defeatable_ && !drive_.defeatable())
            return undefeated();
        for (int tries = 0;; ++tries) {
            if (defeatable_ && !drive_.defeat(lsn, count, audioFirst_, audioLast_))
                return 0; // nowhere left to read: the drive could answer from its cache
            const int32_t got = drive_.live(lsn, count, out, c2);
            if (!defeatable_ || !drive_.lastFast()) {
                starts_ = drive_.inner().commandStarts();
                retried_ = drive_.inner().retried();
                return got;
            }
            // Answered from the cache, which is larger than it was taken for: read again
            // after reading elsewhere as far as the larger cache needs. A cache grown too
            // large to defeat on this disc, or one that keeps answering, gives no copy:
            // the read fails, and what stays unproven is listed.
            if (!drive_.defeatable())
                return undefeated();
            if (tries == 2)
                return 0;
        }
    }
    bool hasC2() const override { return drive_.inner().hasC2(); }
    // Every read it answers is fresh, where the drive's cache can be defeated at all.
    int32_t cacheSectors() const override {
        return defeatable_ ? 0 : drive_.inner().cacheSectors();
    }
    int32_t saidCacheSectors() const override {
        return defeatable_ ? 0 : drive_.inner().saidCacheSectors();
    }
    // The planned reads were made as the reader asks for them, in the drive's commands:
    // the reader lays out none of its own here (commandSectors() 0).
    const uint8_t* commandStarts() const override { return starts_; }
    const uint8_t* retried() const override { return retried_; }

private:
    // No copy from a cache grown too large to defeat: the history keeps that cache, so
    // that the job can say why the range's unproven sectors are listed.
    int32_t undefeated() {
        drive_.history().undefeatedCache =
            std::max({drive_.history().undefeatedCache, drive_.inner().cacheSectors(),
                      drive_.inner().saidCacheSectors()});
        return 0;
    }

    DriveReads drive_;
    SecurePlan plan_;
    int32_t audioFirst_, audioLast_;
    bool defeatable_;                  // the cache as taken when the range began: defeatable
    const uint8_t* starts_ = nullptr;  // the last read's command starts
    const uint8_t* retried_ = nullptr; // its sectors delivered after a failed command
};

// A disc of noise that never repeats: each sector's bytes from its number.
class NoiseSource final : public SectorSource {
public:
    NoiseSource(int32_t audioLast, std::vector<PlannedRead>* reads)
        : audioLast_(audioLast), reads_(reads) {}
    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override {
        PlannedRead r;
        r.lsn = lsn;
        r.count = count;
        reads_->push_back(std::move(r));
        const int32_t n = std::clamp(audioLast_ + 1 - lsn, 0, count);
        for (int32_t i = 0; i < n; ++i) {
            uint64_t x = uint64_t(lsn + i) * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
            for (int32_t b = 0; b < kSectorBytes; b += 4) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                const auto w = uint32_t(x >> 16);
                std::memcpy(out + size_t(i) * kSectorBytes + size_t(b), &w, 4);
            }
            if (c2)
                c2[i] = 0;
        }
        return n;
    }

private:
    int32_t audioLast_;
    std::vector<PlannedRead>* reads_;
};

} // namespace

std::vector<PlannedRead> secureReadsOf(RipSettings settings, int32_t first, int32_t last) {
    std::vector<PlannedRead> reads;
    settings.paranoia = true;
    settings.history = nullptr;
    settings.readLog.clear();
    const int32_t audioLast = settings.audioLast >= 0 ? settings.audioLast : settings.discLast;
    Ripper probe;
    if (!probe.open(std::make_unique<NoiseSource>(audioLast, &reads), first, last, settings))
        return {};
    std::vector<uint8_t> buffer(size_t(std::max(probe.bufferSize(), 1)));
    for (int guard = 0; guard < 1 << 20; ++guard) {
        int32_t n = 0;
        const CR_STATUS s = probe.chunk(buffer.data(), &n);
        if (s == CR_STATUS_DONE || s == CR_STATUS_FAIL)
            break;
    }
    return reads;
}

std::unique_ptr<SectorSource> errandSectors(std::unique_ptr<SectorSource> inner,
                                            std::shared_ptr<SecurePlans> plans,
                                            std::shared_ptr<ReadHistory> history, int32_t discLast,
                                            int32_t audioLast) {
    if (!inner || !plans || !history)
        return inner;
    return std::make_unique<ErrandSource>(std::move(inner), std::move(plans), std::move(history),
                                          discLast, audioLast);
}

std::unique_ptr<SectorSource> plannedSectors(std::unique_ptr<SectorSource> inner, SecurePlan plan,
                                             std::shared_ptr<ReadHistory> history, int32_t discLast,
                                             int32_t audioFirst, int32_t audioLast) {
    if (!inner || !history)
        return inner;
    return std::make_unique<PlannedSource>(std::move(inner), std::move(plan), std::move(history),
                                           discLast, audioFirst, audioLast);
}

} // namespace cdrip
