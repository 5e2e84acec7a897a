#include "faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

namespace cdrip {
namespace {

uint32_t mix(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

bool parseLong(const std::string& text, long lo, long hi, long& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// "FIRST-LAST" or "SECTOR"; sectors 0 .. 100 minutes.
bool parseRange(const std::string& text, SectorRange& r) {
    constexpr long kMax = 100L * 60 * 75;
    long a = 0, b = 0;
    auto dash = text.find('-');
    if (dash == std::string::npos) {
        if (!parseLong(text, 0, kMax, a))
            return false;
        b = a;
    } else if (!parseLong(text.substr(0, dash), 0, kMax, a) ||
               !parseLong(text.substr(dash + 1), 0, kMax, b) || b < a) {
        return false;
    }
    r.first = int32_t(a);
    r.last = int32_t(b);
    return true;
}

// "RANGE[@N][/P]": a range, a size N in lo..hi and a chance P in percent (1..100).
bool parseChance(std::string rest, long lo, long hi, Faults::Chance& c) {
    auto slash = rest.find('/');
    if (slash != std::string::npos) {
        long p = 0;
        if (!parseLong(rest.substr(slash + 1), 1, 100, p))
            return false;
        c.percent = int32_t(p);
        rest.resize(slash);
    }
    auto at = rest.find('@');
    if (at != std::string::npos) {
        long n = 0;
        if (!parseLong(rest.substr(at + 1), lo, hi, n))
            return false;
        c.maxShift = int32_t(n);
        rest.resize(at);
    }
    return parseRange(rest, c.range);
}

constexpr long kMostShift = 5L * kSectorBytes; // a read lands off by up to five sectors

// The items with a chance: where each goes, its default chance, and whether it takes
// a shift. True when `kind` is one of them.
bool parseChanceItem(const std::string& kind, const std::string& rest, Faults& f) {
    struct Kind {
        const char* name;
        std::vector<Faults::Chance> Faults::*list;
        int32_t percent;
        bool shift;
    };
    static const Kind kinds[] = {
        {"drift", &Faults::drift, 20, true}, {"stuck", &Faults::stuck, 100, true},
        {"slip", &Faults::slip, 100, true},  {"short", &Faults::shortRead, 100, false},
        {"c2", &Faults::c2, 100, false},     {"flaky", &Faults::flaky, 100, false},
    };
    for (const Kind& k : kinds) {
        if (kind != k.name)
            continue;
        Faults::Chance c;
        c.percent = k.percent;
        if (!k.shift && rest.find('@') != std::string::npos)
            return true; // a size where none belongs: not an item
        if (parseChance(rest, 4, kMostShift, c)) {
            c.maxShift = c.maxShift / 4 * 4;
            (f.*k.list).push_back(c);
        }
        return true;
    }
    return false;
}

void parseItem(const std::string& item, Faults& f) {
    auto colon = item.find(':');
    if (colon == std::string::npos)
        return;
    std::string kind = item.substr(0, colon), rest = item.substr(colon + 1);
    SectorRange r;
    long v = 0;
    if (parseChanceItem(kind, rest, f))
        return;
    if (kind == "same") {
        Faults::Same same;
        auto at = rest.find('@');
        if (at != std::string::npos) {
            if (!parseLong(rest.substr(at + 1), 4, kSectorBytes, v) || v % 4 != 0)
                return;
            same.bytes = int32_t(v);
            rest.resize(at);
        }
        if (parseRange(rest, same.range))
            f.same.push_back(same);
        return;
    }
    if (kind == "bad" || kind == "noisy") {
        if (parseRange(rest, r))
            (kind == "bad" ? f.bad : f.noisy).push_back(r);
        return;
    }
    if (kind == "seed") {
        if (parseLong(rest, 0, 2147483647L, v))
            f.seed = uint32_t(v);
        return;
    }
    if (kind == "cache" || kind == "spinup") {
        if (parseLong(rest, 1, kind == "cache" ? 20000 : 1000, v))
            (kind == "cache" ? f.cacheSectors : f.spinup) = int32_t(v);
        return;
    }
    if (kind == "burst") {
        Faults::Burst bu;
        auto at = rest.find('@');
        if (at != std::string::npos) {
            if (!parseLong(rest.substr(at + 1), 1, 1000, v))
                return;
            bu.reads = int32_t(v);
            rest.resize(at);
        }
        if (parseRange(rest, bu.range))
            f.burst.push_back(bu);
        return;
    }
    if (kind != "jitter")
        return;
    Faults::Jitter j;
    auto at = rest.find('@');
    if (at != std::string::npos) {
        long shift = 0;
        if (!parseLong(rest.substr(at + 1), 4, 2352, shift))
            return;
        j.maxShift = int32_t(shift / 4 * 4);
        rest.resize(at);
    }
    if (parseRange(rest, j.range)) {
        f.jitter.push_back(j);
    }
}

const Faults::Chance* chanceAt(const std::vector<Faults::Chance>& list, int32_t lsn) {
    for (const Faults::Chance& c : list)
        if (c.range.contains(lsn))
            return &c;
    return nullptr;
}

bool roll(uint32_t h, int32_t percent) {
    return int32_t(h % 100) < percent;
}

// A shift of 4 .. maxShift bytes either way, never 0.
int32_t pickShift(uint32_t h, int32_t maxShift) {
    const int32_t steps = std::max(1, maxShift / 4);
    int32_t shift = 4 * (int32_t(h % uint32_t(2 * steps)) - steps);
    if (shift >= 0)
        shift += 4;
    return shift;
}

// Salts that keep the choices of one family apart from those of another.
enum Salt : uint32_t {
    kDrift = 0xD1,
    kStuck = 0x57,
    kSlip = 0x5E,
    kShort = 0x5B,
    kFlaky = 0xF1,
    kC2 = 0xC2,
};

// A source as a drive with the simulated faults would answer it. A read fails at the
// first bad sector (or one of a burst that still holds); it lands off as the jitter,
// drift and stuck items say, and slips part-way where a slip item says; sectors come
// back wrong as the noisy, flaky, c2 and same items say; it stops short but reports
// every sector where a short item says; and with a cache, a read of sectors the
// drive still holds returns what the drive delivered for them before.
class FaultySource final : public SectorSource {
public:
    FaultySource(std::unique_ptr<SectorSource> inner, const Faults* faults)
        : inner_(std::move(inner)), faults_(faults), burstReads_(faults->burst.size(), 0) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override;
    bool hasC2() const override { return inner_->hasC2() || !faults_->c2.empty(); }
    int32_t cacheSectors() const override {
        return std::max(inner_->cacheSectors(), faults_->cacheSectors);
    }
    int32_t saidCacheSectors() const override {
        return std::max(inner_->saidCacheSectors(), faults_->cacheSectors);
    }

private:
    struct Cached {
        std::vector<uint8_t> bytes;
        uint8_t c2 = 0;
    };
    int32_t fromDisc(int32_t begin, int32_t sectors, uint8_t* out, uint8_t* c2, uint32_t n,
                     int32_t* whole);
    int32_t readable(int32_t begin, int32_t sectors);
    int32_t shiftOf(int32_t begin, uint32_t n) const;
    void fetch(int64_t firstByte, size_t bytes, uint8_t* out);
    void spoil(int32_t begin, int32_t good, uint8_t* out, uint8_t* c2, uint32_t n) const;
    void keep(int32_t lsn, const uint8_t* bytes, uint8_t c2);

    std::unique_ptr<SectorSource> inner_;
    const Faults* faults_;
    uint32_t reads_ = 0; // varies the faults from one read to the next
    std::vector<int32_t> burstReads_;
    std::map<int32_t, Cached> cache_;
    std::deque<int32_t> cacheOrder_;
};

int32_t FaultySource::read(int32_t begin, int32_t sectors, uint8_t* out, uint8_t* c2) {
    const uint32_t n = reads_++;
    if (!out || sectors <= 0) // nothing to fill: the drive's own answer
        return inner_->read(begin, sectors, out, c2);
    if (n < uint32_t(faults_->spinup))
        return 0;
    if (c2)
        std::memset(c2, 0, size_t(sectors));
    int32_t k = 0;
    for (; k < sectors; ++k) { // the sectors the cache still holds, from the first on
        auto it = cache_.find(begin + k);
        if (it == cache_.end())
            break;
        std::memcpy(out + size_t(k) * kSectorBytes, it->second.bytes.data(), kSectorBytes);
        if (c2)
            c2[k] = it->second.c2;
    }
    if (k == sectors)
        return k;
    int32_t whole = 0;
    const int32_t got = fromDisc(begin + k, sectors - k, out + size_t(k) * kSectorBytes,
                                 c2 ? c2 + k : nullptr, n, &whole);
    for (int32_t s = 0; s < whole && faults_->cacheSectors > 0; ++s)
        keep(begin + k + s, out + size_t(k + s) * kSectorBytes, c2 ? c2[k + s] : 0);
    return got > 0 ? k + got : k;
}

void FaultySource::keep(int32_t lsn, const uint8_t* bytes, uint8_t c2) {
    Cached& c = cache_[lsn];
    if (c.bytes.empty())
        cacheOrder_.push_back(lsn);
    c.bytes.assign(bytes, bytes + kSectorBytes);
    c.c2 = c2;
    while (cacheOrder_.size() > size_t(faults_->cacheSectors)) {
        cache_.erase(cacheOrder_.front());
        cacheOrder_.pop_front();
    }
}

// Sectors from `begin` before the first bad one or one of a burst that still holds;
// each burst the read reaches counts the read.
int32_t FaultySource::readable(int32_t begin, int32_t sectors) {
    auto holds = [&](int32_t lsn) {
        for (size_t b = 0; b < faults_->burst.size(); ++b)
            if (faults_->burst[b].range.contains(lsn) && burstReads_[b] < faults_->burst[b].reads)
                return true;
        return false;
    };
    int32_t good = 0;
    while (good < sectors && !faults_->isBad(begin + good) && !holds(begin + good))
        ++good;
    if (good < sectors)
        for (size_t b = 0; b < faults_->burst.size(); ++b)
            if (faults_->burst[b].range.contains(begin + good))
                ++burstReads_[b];
    return good;
}

int32_t FaultySource::shiftOf(int32_t begin, uint32_t n) const {
    if (const Faults::Jitter* j = faults_->jitterAt(begin))
        if (int32_t shift = jitterShift(*faults_, *j, n))
            return shift;
    if (const Faults::Chance* c = chanceAt(faults_->drift, begin)) {
        const uint32_t h = mix(faults_->seed ^ kDrift, n);
        if (roll(h, c->percent))
            return pickShift(mix(h, 1), c->maxShift);
    }
    if (const Faults::Chance* c = chanceAt(faults_->stuck, begin)) {
        const uint32_t h = mix(faults_->seed ^ kStuck, uint32_t(begin));
        if (roll(h, c->percent))
            return pickShift(mix(h, 1), c->maxShift);
    }
    return 0;
}

// `bytes` bytes of the disc from byte `firstByte` (sector 0 starts at byte 0), as the
// drive reads them: silence before the disc, beyond its end and where a sector is bad.
void FaultySource::fetch(int64_t firstByte, size_t bytes, uint8_t* out) {
    auto sectorOf = [](int64_t byte) { // rounded down, also before the disc
        return byte >= 0 ? byte / kSectorBytes : -((-byte + kSectorBytes - 1) / kSectorBytes);
    };
    const int64_t s0 = sectorOf(firstByte), s1 = sectorOf(firstByte + int64_t(bytes) - 1);
    std::vector<uint8_t> disc(size_t(s1 - s0 + 1) * kSectorBytes, 0);
    for (int64_t s = std::max<int64_t>(s0, 0); s <= s1;) {
        if (faults_->isBad(int32_t(s))) {
            ++s;
            continue;
        }
        int64_t e = s;
        while (e + 1 <= s1 && !faults_->isBad(int32_t(e + 1)))
            ++e;
        uint8_t* at = disc.data() + size_t(s - s0) * kSectorBytes;
        const int32_t want = int32_t(e - s + 1);
        // The source may give fewer sectors a read than asked: read on.
        int32_t got = 0;
        while (got < want) {
            const int32_t n = inner_->read(int32_t(s) + got, want - got,
                                           at + size_t(got) * kSectorBytes, nullptr);
            if (n <= 0)
                break;
            got += std::min(n, want - got);
        }
        std::memset(at + size_t(got) * kSectorBytes, 0, size_t(want - got) * kSectorBytes);
        s = e + 1;
    }
    // Sectors every read gets wrong the same way: some bytes changed, always alike
    // (every byte of the run: the pattern is never 0).
    for (int64_t s = std::max<int64_t>(s0, 0); s <= s1; ++s) {
        for (const Faults::Same& same : faults_->same)
            if (same.range.contains(int32_t(s))) {
                uint8_t* at = disc.data() + size_t(s - s0) * kSectorBytes;
                const int32_t from = std::min<int32_t>(1000, kSectorBytes - same.bytes);
                for (int32_t b = 0; b < same.bytes; ++b) {
                    const uint8_t x = uint8_t(0x5A + b);
                    at[from + b] = uint8_t(at[from + b] ^ (x != 0 ? x : 0xA5));
                }
            }
    }
    std::memcpy(out, disc.data() + size_t(firstByte - s0 * kSectorBytes), bytes);
}

// The wrong bytes of one read: noisy sectors carry the read's number (never 0) in
// their first four bytes; flaky and c2 sectors, by their chance, a few bytes changed
// by the read, the latter flagged.
void FaultySource::spoil(int32_t begin, int32_t good, uint8_t* out, uint8_t* c2, uint32_t n) const {
    for (int32_t s = 0; s < good; ++s) {
        uint8_t* at = out + size_t(s) * kSectorBytes;
        const int32_t lsn = begin + s;
        if (faults_->isNoisy(lsn)) {
            const uint32_t x = n + 1;
            for (int b = 0; b < 4; ++b)
                at[b] = uint8_t(at[b] ^ uint8_t(x >> (8 * b)));
        }
        for (Salt salt : {kFlaky, kC2}) {
            const Faults::Chance* c = chanceAt(salt == kFlaky ? faults_->flaky : faults_->c2, lsn);
            const uint32_t h = mix(mix(faults_->seed ^ salt, n), uint32_t(lsn));
            if (!c || !roll(h, c->percent))
                continue;
            const size_t where = 4 * (size_t(h >> 8) % (kSectorBytes / 4 - 1));
            const uint32_t x = mix(h, 3) | 1u;
            for (int b = 0; b < 4; ++b)
                at[where + size_t(b)] = uint8_t(at[where + size_t(b)] ^ uint8_t(x >> (8 * b)));
            if (salt == kC2 && c2)
                c2[s] = 1;
        }
    }
}

// One read from the disc itself. Returns the sectors it reports; *whole receives the
// whole sectors it really delivered (fewer after a short transfer).
int32_t FaultySource::fromDisc(int32_t begin, int32_t sectors, uint8_t* out, uint8_t* c2,
                               uint32_t n, int32_t* whole) {
    *whole = 0;
    const int32_t good = readable(begin, sectors);
    if (good == 0)
        return 0;
    const int32_t shift = shiftOf(begin, n);
    // A slip: from a sector part-way on, the rest comes from elsewhere again.
    int32_t slipAt = good, slipShift = 0;
    if (const Faults::Chance* c = chanceAt(faults_->slip, begin); c && good >= 2) {
        const uint32_t h = mix(faults_->seed ^ kSlip, uint32_t(begin));
        if (roll(h, c->percent)) {
            slipAt = 1 + int32_t((h >> 8) % uint32_t(good - 1));
            slipShift = pickShift(mix(h, 2), c->maxShift);
        }
    }
    std::vector<uint8_t> read(size_t(good) * kSectorBytes);
    const int64_t at = int64_t(begin) * kSectorBytes + shift;
    fetch(at, size_t(slipAt) * kSectorBytes, read.data());
    if (slipAt < good)
        fetch(at + int64_t(slipAt) * kSectorBytes + slipShift, size_t(good - slipAt) * kSectorBytes,
              read.data() + size_t(slipAt) * kSectorBytes);
    spoil(begin, good, read.data(), c2, n);
    size_t delivered = read.size();
    if (const Faults::Chance* c = chanceAt(faults_->shortRead, begin)) {
        const uint32_t h = mix(faults_->seed ^ kShort, n);
        if (roll(h, c->percent))
            delivered = size_t(mix(h, 4)) % read.size();
    }
    std::memcpy(out, read.data(), delivered);
    *whole = int32_t(delivered / kSectorBytes);
    return good;
}

} // namespace

bool Faults::isBad(int32_t lsn) const {
    for (const SectorRange& r : bad)
        if (r.contains(lsn))
            return true;
    return false;
}

bool Faults::isNoisy(int32_t lsn) const {
    for (const SectorRange& r : noisy)
        if (r.contains(lsn))
            return true;
    return false;
}

int32_t jitterShift(const Faults& f, const Faults::Jitter& j, uint32_t n) {
    const uint32_t group = n / 5, place = n % 5;
    if (place != 1 && place != 2)
        return 0;
    const uint32_t h = mix(f.seed, group);
    const uint32_t pattern = h % 4; // 0 none, 1 the second, 2 the third, 3 both
    if (pattern == 0 || (pattern == 1 && place != 1) || (pattern == 2 && place != 2))
        return 0;
    const int32_t steps = std::max(1, j.maxShift / 4);
    int32_t shift = 4 * (int32_t((h >> 8) % uint32_t(2 * steps)) - steps);
    if (shift >= 0)
        shift += 4; // a read that lands off is never on the spot
    return shift;
}

const Faults::Jitter* Faults::jitterAt(int32_t lsn) const {
    for (const Jitter& j : jitter)
        if (j.range.contains(lsn))
            return &j;
    return nullptr;
}

Faults parseFaults(const char* text) {
    Faults f;
    if (!text)
        return f;
    std::string all(text), item;
    for (size_t i = 0; i <= all.size(); ++i) {
        char c = i < all.size() ? all[i] : ',';
        if (c == ',' || c == ';') {
            parseItem(item, f);
            item.clear();
        } else if (c != ' ' && c != '\t') {
            item += c;
        }
    }
    return f;
}

std::unique_ptr<SectorSource> withFaults(std::unique_ptr<SectorSource> inner,
                                         const Faults* faults) {
    if (!inner || !faults || faults->empty())
        return inner;
    return std::make_unique<FaultySource>(std::move(inner), faults);
}

} // namespace cdrip
