// One extraction: a sector range of one drive read with or without paranoia and
// delivered chunk by chunk in one of the six output formats.
#pragma once

#include "cdrip.h"
#include "faults.h"
#include "handles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cdrip {

struct RipSettings {
    bool paranoia = true;
    int format = CR_STEREO44100;
    int32_t sectorsPerChunk = 26;
    int32_t retries = 20;
};

// Bytes one sector becomes in `format` (2352, 1176, 588 or 294).
int32_t bytesPerSector(int format);

class Ripper {
public:
    Ripper() = default;
    Ripper(const Ripper&) = delete;
    Ripper& operator=(const Ripper&) = delete;
    ~Ripper();

    // Opens the source and positions at `first`; `faults` (may be null) must outlive the
    // ripper. False when the source cannot be read.
    bool open(const std::string& source, bool image, const Faults* faults, int32_t first,
              int32_t last, const RipSettings& settings);

    int32_t bufferSize() const { return bufferSize_; }
    CR_STATUS chunk(uint8_t* out, int32_t* numBytes);
    int32_t percent() const;
    int32_t errorCount() const { return errorCount_; }
    void lastErrorRange(uint32_t* first, uint32_t* last) const;

private:
    bool startResampler();
    // Reads `count` sectors at pos_ into raw_; returns the number found unreadable.
    int32_t readSectors(int32_t count);
    bool readPlain(int32_t lsn, uint8_t* out);
    bool readParanoid(int32_t lsn, uint8_t* out);
    bool verifySector(int32_t lsn, uint8_t* out);
    void crossCheck(int32_t count);
    void markBad(int32_t lsn, uint8_t* out);
    void noteError(int32_t lsn);
    void convert(const uint8_t* raw, int32_t frames);
    void append(const uint8_t* bytes, size_t n);
    void finish();

    CddaDrive drive_;
    ParanoiaPtr paranoia_;
    SoxrPtr soxr_;
    RipSettings settings_;
    bool hooked_ = false;
    int32_t first_ = 0, last_ = 0, pos_ = 0;
    int32_t bufferSize_ = 0;
    int64_t expected_ = 0, produced_ = 0, delivered_ = 0;
    std::vector<uint8_t> raw_, mono_, resampled_, fifo_;
    size_t fifoStart_ = 0;
    bool readDone_ = false, finished_ = false;
    int32_t errorCount_ = 0;
    std::vector<int32_t> badInChunk_;
    std::vector<uint8_t> check_;
    int32_t chunkErrFirst_ = -1, chunkErrLast_ = -1;
    uint32_t lastErrFirst_ = 0, lastErrLast_ = 0;
};

} // namespace cdrip
