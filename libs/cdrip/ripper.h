// One extraction: a sector range of one drive read with or without paranoia and
// delivered chunk by chunk in one of the six output formats.
#pragma once

#include "cdrip.h"
#include "handles.h"
#include "sectorsource.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace cdrip {

struct RipSettings {
    bool paranoia = true;
    int format = CR_STEREO44100;
    int32_t sectorsPerChunk = 26;
    int32_t retries = 20;
    int32_t discLast = -1; // last sector before the lead-out: reads may look one beyond the range
    int32_t offsetSamples = 0; // read offset: positive delivers audio from later on the disc
    int32_t audioFirst = 0;    // the disc's first and last audio sectors: beyond them the
    int32_t audioLast = -1;    // offset reads silence (-1: discLast)
};

// Bytes one sector becomes in `format` (2352, 1176, 588 or 294).
int32_t bytesPerSector(int format);

class Ripper {
public:
    Ripper() = default;
    Ripper(const Ripper&) = delete;
    Ripper& operator=(const Ripper&) = delete;
    ~Ripper() = default;

    // Takes over `source` and positions at `first`. False when there is no source or
    // the output format cannot be made.
    bool open(std::unique_ptr<SectorSource> source, int32_t first, int32_t last,
              const RipSettings& settings);

    int32_t bufferSize() const { return bufferSize_; }
    CR_STATUS chunk(uint8_t* out, int32_t* numBytes);
    int32_t percent() const;
    int32_t errorCount() const { return errorCount_; }
    void lastErrorRange(uint32_t* first, uint32_t* last) const;

private:
    bool startResampler();
    // Reads a chunk's worth of sectors at plainNext_ into decided_ without verification.
    void readPlainRun();
    void sectorFor(int32_t lsn, uint8_t* out);
    bool readPlain(int32_t lsn, uint8_t* out);
    // The verified reader (jitter correction on): decides sectors up to `until`.
    void decideUpTo(int32_t until);
    void step();
    void extend();
    void bootstrap();
    // Number of whole sectors a read of `count` at `lsn` returned (0 on failure).
    int32_t readRun(int32_t lsn, int32_t count, uint8_t* out);
    void decide(const uint8_t* bytes, bool damaged);
    void noteError(int32_t lsn);
    void convert(const uint8_t* raw, int32_t frames);
    void append(const uint8_t* bytes, size_t n);
    void finish();

    std::unique_ptr<SectorSource> source_;
    SoxrPtr soxr_;
    RipSettings settings_;
    int32_t first_ = 0, last_ = 0, pos_ = 0;
    int32_t bufferSize_ = 0;
    int64_t expected_ = 0, produced_ = 0, delivered_ = 0;
    std::vector<uint8_t> raw_, mono_, resampled_, fifo_;
    size_t fifoStart_ = 0;
    bool readDone_ = false, finished_ = false, doneNext_ = false;
    int32_t errorCount_ = 0;
    int32_t chunkErrFirst_ = -1, chunkErrLast_ = -1;
    uint32_t lastErrFirst_ = 0, lastErrLast_ = 0;

    // Verified reader state. Sectors below next_ are decided: decided_ holds those not
    // yet delivered (from pos_ on) and damaged_ marks the ones that could not be proven.
    // anchor_ holds the two proven sectors before next_ when anchorCount_ is 2.
    // pending_ holds sectors next_ .. next_ + pendingCount_ - 1 as one aligned read
    // gave them; a second aligned read with the same bytes proves them.
    int32_t next_ = 0;
    std::vector<uint8_t> decided_;
    std::vector<bool> damaged_;
    std::vector<uint8_t> anchor_;
    int32_t anchorCount_ = 0;
    std::vector<uint8_t> pending_;
    int32_t pendingCount_ = 0;
    std::vector<uint8_t> read_;
    int32_t failedSteps_ = 0, mismatchLsn_ = -1, mismatches_ = 0;
    // The read offset: the sectors read, and the window a chunk's bytes come from.
    int32_t readFirst_ = 0, readLast_ = -1, plainNext_ = 0;
    int32_t shiftSectors_ = 0, shiftRest_ = 0;
    std::vector<uint8_t> window_, carry_;
    int32_t carryLsn_ = -1;
    size_t taken_ = 0; // sectors at the front of decided_ already delivered
};

} // namespace cdrip
