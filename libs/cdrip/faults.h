// Simulated disc faults of virtual drives (CDRIP_FAULTS), applied by a decorator of
// the ripper's sector source.
#pragma once

#include "sectorsource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cdrip {

struct SectorRange {
    int32_t first = 0;
    int32_t last = 0;
    bool contains(int32_t lsn) const { return lsn >= first && lsn <= last; }
};

// How a drive fails, item by item (the CDRIP_FAULTS syntax is in cdrip.h). Reads are
// counted from 0 per opened source; "a place" is the sector a read starts at.
struct Faults {
    std::vector<SectorRange> bad;
    struct Jitter {
        SectorRange range;
        int32_t maxShift = 8; // bytes, a multiple of 4 (whole stereo samples)
    };
    std::vector<Jitter> jitter;
    std::vector<SectorRange> noisy; // read, but with different bytes every time
    uint32_t seed = 1;              // chooses which reads land off, and by how much

    // A read, or a place, that lands off by up to maxShift bytes either way (never 0),
    // with a chance in percent: per read (drift), per place for every read from it
    // (stuck), or per place from a sector part-way on (slip).
    struct Chance {
        SectorRange range;
        int32_t maxShift = 8;
        int32_t percent = 100;
    };
    std::vector<Chance> drift, stuck, slip;
    std::vector<Chance> shortRead; // the read stops short, yet reports every sector
    std::vector<Chance> c2;        // wrong bytes the drive flags with C2 errors
    std::vector<Chance> flaky;     // wrong bytes without a flag
    // Every read of these sectors wrong the same way: `bytes` bytes of each changed,
    // from byte 1000 on (or the sector's last `bytes` where they do not fit there).
    struct Same {
        SectorRange range;
        int32_t bytes = 8;
    };
    std::vector<Same> same;
    struct Burst {
        SectorRange range;
        int32_t reads = 3; // reads that reach the range and fail, then it reads
    };
    std::vector<Burst> burst;
    int32_t cacheSectors = 0; // a cache of the last sectors delivered, answered again
    int32_t spinup = 0;       // the first reads after the source opens fail

    bool empty() const {
        return bad.empty() && jitter.empty() && noisy.empty() && drift.empty() && stuck.empty() &&
               slip.empty() && shortRead.empty() && c2.empty() && flaky.empty() && same.empty() &&
               burst.empty() && cacheSectors == 0 && spinup == 0;
    }
    bool isBad(int32_t lsn) const;
    bool isNoisy(int32_t lsn) const;
    const Jitter* jitterAt(int32_t lsn) const;
};

// Parses the CDRIP_FAULTS syntax (see cdrip.h); items that do not parse are skipped.
Faults parseFaults(const char* text);

// The shift in bytes of the drive's `n`-th read (counted from 0) when it starts in
// jitter range `j`; 0 when that read lands right. Reads are taken in groups of five:
// only the second and the third of a group may land off, and when both do, by the
// same amount. So no five consecutive reads hold more than two that land off, and
// two consecutive reads can be wrong in the same way.
int32_t jitterShift(const Faults& f, const Faults::Jitter& j, uint32_t n);

// `inner` with the faults applied to its reads; `inner` itself when there are none.
// The faults object must outlive the source.
std::unique_ptr<SectorSource> withFaults(std::unique_ptr<SectorSource> inner, const Faults* faults);

} // namespace cdrip
