// The one-pass read: a sector range read once at the drive's full speed, for a caller
// that proves the audio another way (its AccurateRip checksum) and reads securely only
// what that does not prove.
//
// Every sector is read once, in long runs one after the other, so that the drive never
// seeks back. Where a read fails, the sectors from there on are read on their own once
// each; a sector that still fails, or that the drive flags with C2 errors where it
// offers C2 pointers, is a suspect sector: delivered as silence and reported like a
// damaged sector of the secure reader (counted, and listed with the chunk that holds
// it), so that the caller reads it again securely. The reading itself is the ripper's
// plain reading: the same read offset, the same sector source with the same fault
// injection, the same test for bytes a short transfer did not deliver.
#pragma once

#include "ripper.h"
#include "sectorsource.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace cdrip {

// The ripper's settings for a one-pass read of what `secure` would read securely.
RipSettings onePassSettings(const RipSettings& secure);

// `inner`, with every sector a read asks it for added to *sectors: what a range cost
// in sectors read, whichever reader read it.
std::unique_ptr<SectorSource> countingSectors(std::unique_ptr<SectorSource> inner,
                                              int64_t* sectors);

// A secure reading planned ahead of the one pass. On a clean disc the secure reader of a
// few sectors (the samples AccurateRip leaves out) makes a known handful of reads; each
// of them must come from the disc, which on a drive with a read cache means that more
// than the cache's worth of other sectors came from the disc since any read of its
// sectors. Made on their own, those reads cost a cache's worth of reading elsewhere each.
// Planned, they are made while the one pass goes by: by the pass itself where it reaches
// them, else by a short trip away from it at the last moment the drive has forgotten the
// sectors (before the pass reaches them, or as soon as it has left them far enough
// behind; one trip to both edges where that seeks less, and a last read behind the pass
// at its end where that seeks less), and kept until the secure reading takes them.
struct PlannedRead {
    int32_t lsn = 0, count = 0;
    bool made = false, taken = false;
    bool cached = false; // the drive answered it from its cache: not a fresh copy
    int32_t got = 0;     // whole sectors the read delivered
    std::vector<uint8_t> bytes, c2;
    std::vector<uint8_t> starts; // per sector delivered: a drive command began at it
};

struct SecurePlan {
    int32_t first = 0, last = 0; // the range, as the secure reading will open it
    std::vector<PlannedRead> reads;
    bool ready() const;
};

// The plans of one drive, and what the reads made for them cost.
struct SecurePlans {
    std::vector<SecurePlan> plans;
    int64_t trips = 0; // reads made away from the pass
    bool pending() const;
};

// The reads the secure reader, with `settings` (jitter correction on), makes of
// first..last on a disc where every read is sound and no audio repeats: it reads a
// stand-in disc of distinct noise.
std::vector<PlannedRead> secureReadsOf(RipSettings settings, int32_t first, int32_t last);

// The reader's drive cache for `inner` on a disc ending at discLast: what it defeats.
int32_t defeatedCache(const SectorSource& inner, int32_t discLast);

// A one-pass range's source: `inner`, making the planned reads of `plans` on the way.
// Every read it passes on or makes is entered in `history` as the reader enters its
// own (a sector from the disc moves the clock). audioLast: the disc's last audio sector,
// where a pass over the whole disc ends (-1: discLast).
std::unique_ptr<SectorSource> errandSectors(std::unique_ptr<SectorSource> inner,
                                            std::shared_ptr<SecurePlans> plans,
                                            std::shared_ptr<ReadHistory> history, int32_t discLast,
                                            int32_t audioLast = -1);

// A secure range's source with its plan: each read the plan made is given once, as it
// was delivered, to the read that asks for it again; any other read goes to `inner`,
// after more than the cache's worth of other sectors has come from the disc since its
// sectors were last read, so that every read it answers comes from the disc. It has no
// cache of its own to defeat (cacheSectors() is 0).
std::unique_ptr<SectorSource> plannedSectors(std::unique_ptr<SectorSource> inner, SecurePlan plan,
                                             std::shared_ptr<ReadHistory> history, int32_t discLast,
                                             int32_t audioFirst, int32_t audioLast);

} // namespace cdrip
