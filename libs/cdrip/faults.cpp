#include "faults.h"

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

// The read hook has no user pointer, so the hooks are found by drive.
std::mutex hookLock;
std::map<cdrom_drive_t*, Hook>& hooks() {
    static std::map<cdrom_drive_t*, Hook> table;
    return table;
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
// first bad sector, and shifted by a few samples when it starts inside a jitter range.
long faultyRead(cdrom_drive_t* d, void* p, lsn_t begin, long sectors) {
    Hook hook;
    {
        std::lock_guard<std::mutex> guard(hookLock);
        auto it = hooks().find(d);
        if (it == hooks().end())
            return -1;
        hook = it->second;
        it->second.reads++;
    }
    long good = 0;
    while (good < sectors && !hook.faults->isBad(int32_t(begin + good)))
        ++good;
    if (good == 0)
        return -1;
    // Like a drive with jitter: every third read that starts in the range lands a few
    // samples off, by a different amount each time; the others land where asked.
    const Faults::Jitter* j = hook.faults->jitterAt(begin);
    if (!j || hook.reads % 3 != 2)
        return hook.original(d, p, begin, good);
    // Read one sector more on either side and cut the window out at the shift.
    const int32_t steps = j->maxShift / 4;
    int32_t shift = 4 * (int32_t((hook.reads / 3) % uint32_t(2 * steps)) - steps);
    if (shift >= 0)
        shift += 4; // a jittered read is never on the spot
    const long n = good + 2;
    std::vector<uint8_t> wide(size_t(n) * CDIO_CD_FRAMESIZE_RAW, 0);
    const lsn_t from = begin - 1;
    for (long s = 0; s < n; ++s) {
        // Sectors outside the disc or unreadable ones stay zero, as a drive returns them.
        if (from + s < 0 || hook.faults->isBad(from + s))
            continue;
        if (hook.original(d, wide.data() + size_t(s) * CDIO_CD_FRAMESIZE_RAW, from + s, 1) != 1)
            std::memset(wide.data() + size_t(s) * CDIO_CD_FRAMESIZE_RAW, 0, CDIO_CD_FRAMESIZE_RAW);
    }
    std::memcpy(p, wide.data() + CDIO_CD_FRAMESIZE_RAW + shift,
                size_t(good) * CDIO_CD_FRAMESIZE_RAW);
    return good;
}

} // namespace

bool Faults::isBad(int32_t lsn) const {
    for (const SectorRange& r : bad)
        if (r.contains(lsn))
            return true;
    return false;
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
    std::lock_guard<std::mutex> guard(hookLock);
    hooks()[drive] = Hook{drive->read_audio, faults, 0};
    drive->read_audio = faultyRead;
}

void removeFaultHook(cdrom_drive_t* drive) {
    std::lock_guard<std::mutex> guard(hookLock);
    auto it = hooks().find(drive);
    if (it == hooks().end())
        return;
    drive->read_audio = it->second.original;
    hooks().erase(it);
}

} // namespace cdrip
