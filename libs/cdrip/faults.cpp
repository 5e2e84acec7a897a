#include "faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

void parseItem(const std::string& item, Faults& f) {
    auto colon = item.find(':');
    if (colon == std::string::npos)
        return;
    std::string kind = item.substr(0, colon), rest = item.substr(colon + 1);
    SectorRange r;
    if (kind == "bad") {
        if (parseRange(rest, r))
            f.bad.push_back(r);
        return;
    }
    if (kind == "noisy") {
        if (parseRange(rest, r))
            f.noisy.push_back(r);
        return;
    }
    if (kind == "seed") {
        long v = 0;
        if (parseLong(rest, 0, 2147483647L, v))
            f.seed = uint32_t(v);
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

// A source as a drive with the simulated faults would answer it: short (a failure) at
// the first bad sector, shifted by a few samples when the read starts inside a jitter
// range and the plan says so (jitterShift), and with noisy sectors different on every
// read.
class FaultySource final : public SectorSource {
public:
    FaultySource(std::unique_ptr<SectorSource> inner, const Faults* faults)
        : inner_(std::move(inner)), faults_(faults) {}

    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) override;
    bool hasC2() const override { return inner_->hasC2(); }
    int32_t cacheSectors() const override { return inner_->cacheSectors(); }

private:
    std::unique_ptr<SectorSource> inner_;
    const Faults* faults_;
    uint32_t reads_ = 0; // varies the jitter from one read to the next
};

int32_t FaultySource::read(int32_t begin, int32_t sectors, uint8_t* out, uint8_t* c2) {
    const uint32_t n = reads_++;
    if (!out || sectors <= 0) // nothing to fill: the drive's own answer
        return inner_->read(begin, sectors, out, c2);
    int32_t good = 0;
    while (good < sectors && !faults_->isBad(begin + good))
        ++good;
    if (good == 0)
        return 0;
    const Faults::Jitter* j = faults_->jitterAt(begin);
    const int32_t shift = j ? jitterShift(*faults_, *j, n) : 0;
    if (shift == 0) {
        const int32_t got = inner_->read(begin, good, out, c2);
        if (got <= 0)
            return 0;
        good = std::min(good, got);
    } else {
        // Read one sector more on either side and cut the window out at the shift.
        const int32_t wideCount = good + 2;
        std::vector<uint8_t> wide(size_t(wideCount) * kSectorBytes, 0);
        const int32_t from = begin - 1;
        for (int32_t s = 0; s < wideCount; ++s) {
            // Sectors outside the disc or unreadable ones stay zero, as a drive returns them.
            uint8_t* at = wide.data() + size_t(s) * kSectorBytes;
            if (from + s < 0 || faults_->isBad(from + s))
                continue;
            if (inner_->read(from + s, 1, at, nullptr) != 1)
                std::memset(at, 0, kSectorBytes);
        }
        std::memcpy(out, wide.data() + kSectorBytes + shift, size_t(good) * kSectorBytes);
        if (c2 && hasC2())
            std::memset(c2, 0, size_t(good));
    }
    // A noisy sector reads, but never the same twice: its first four bytes carry the
    // read's number (never 0) mixed in.
    for (int32_t s = 0; s < good; ++s) {
        if (!faults_->isNoisy(begin + s))
            continue;
        uint8_t* at = out + size_t(s) * kSectorBytes;
        const uint32_t x = n + 1;
        for (int b = 0; b < 4; ++b)
            at[b] = uint8_t(at[b] ^ uint8_t(x >> (8 * b)));
    }
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
