#include "faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace cdrip {
namespace {

using ReadFn = long (*)(cdrom_drive_t*, void*, lsn_t, long);

struct Hook {
    ReadFn original = nullptr;
    const Faults* faults = nullptr;
    uint32_t reads = 0; // varies the jitter from one read to the next
};

// The read hook has no user pointer, so the hooks are found by drive. The table and
// its lock are never destroyed: a ripper still open when the process ends removes its
// hook from the library state's destructor, which may run after other statics are gone.
std::mutex& hookLock() {
    static auto* m = new std::mutex;
    return *m;
}
std::map<cdrom_drive_t*, Hook>& hooks() {
    static auto* table = new std::map<cdrom_drive_t*, Hook>;
    return *table;
}

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

// A read as a drive with the simulated faults would answer it: short (a failure) at the
// first bad sector, shifted by a few samples when it starts inside a jitter range and
// the plan says so (jitterShift), and with noisy sectors different on every read.
long faultyRead(cdrom_drive_t* d, void* p, lsn_t begin, long sectors) {
    Hook hook;
    uint32_t n = 0;
    {
        std::lock_guard<std::mutex> guard(hookLock());
        auto it = hooks().find(d);
        if (it == hooks().end())
            return -1;
        hook = it->second;
        n = it->second.reads++;
    }
    if (!p || sectors <= 0) // nothing to fill: the drive's own answer
        return hook.original(d, p, begin, sectors);
    long good = 0;
    while (good < sectors && !hook.faults->isBad(int32_t(begin + good)))
        ++good;
    if (good == 0)
        return -1;
    auto* out = static_cast<uint8_t*>(p);
    const Faults::Jitter* j = hook.faults->jitterAt(begin);
    const int32_t shift = j ? jitterShift(*hook.faults, *j, n) : 0;
    if (shift == 0) {
        const long got = hook.original(d, p, begin, good);
        if (got <= 0)
            return got;
        good = std::min(good, got);
    } else {
        // Read one sector more on either side and cut the window out at the shift.
        const long wideCount = good + 2;
        std::vector<uint8_t> wide(size_t(wideCount) * CDIO_CD_FRAMESIZE_RAW, 0);
        const lsn_t from = begin - 1;
        for (long s = 0; s < wideCount; ++s) {
            // Sectors outside the disc or unreadable ones stay zero, as a drive returns them.
            uint8_t* at = wide.data() + size_t(s) * CDIO_CD_FRAMESIZE_RAW;
            if (from + s < 0 || hook.faults->isBad(from + s))
                continue;
            if (hook.original(d, at, from + s, 1) != 1)
                std::memset(at, 0, CDIO_CD_FRAMESIZE_RAW);
        }
        std::memcpy(out, wide.data() + CDIO_CD_FRAMESIZE_RAW + shift,
                    size_t(good) * CDIO_CD_FRAMESIZE_RAW);
    }
    // A noisy sector reads, but never the same twice: its first four bytes carry the
    // read's number (never 0) mixed in.
    for (long s = 0; s < good; ++s) {
        if (!hook.faults->isNoisy(int32_t(begin + s)))
            continue;
        uint8_t* at = out + size_t(s) * CDIO_CD_FRAMESIZE_RAW;
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

void installFaultHook(cdrom_drive_t* drive, const Faults* faults) {
    if (!drive || !faults || faults->empty() || !drive->read_audio)
        return;
    std::lock_guard<std::mutex> guard(hookLock());
    hooks()[drive] = Hook{drive->read_audio, faults, 0};
    drive->read_audio = faultyRead;
}

void removeFaultHook(cdrom_drive_t* drive) {
    std::lock_guard<std::mutex> guard(hookLock());
    auto it = hooks().find(drive);
    if (it == hooks().end())
        return;
    drive->read_audio = it->second.original;
    hooks().erase(it);
}

} // namespace cdrip
