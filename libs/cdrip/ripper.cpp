#include "ripper.h"

#include <algorithm>
#include <cstring>

namespace cdrip {
namespace {

constexpr int32_t kRaw = CDIO_CD_FRAMESIZE_RAW; // 2352 bytes a sector
constexpr int32_t kFrames = kRaw / 4;           // 588 stereo frames a sector

bool isMono(int format) {
    return format % 2 == 1;
}
int outRate(int format) {
    return format < 2 ? 44100 : format < 4 ? 22050 : 11025;
}

// Paranoia reports what it fixed through a callback; the fixes themselves are checked
// independently below, so the callback only has to exist.
void paranoiaCallback(long, paranoia_cb_mode_t) {}

} // namespace

int32_t bytesPerSector(int format) {
    return 4 * kFrames / (isMono(format) ? 2 : 1) / (44100 / outRate(format));
}

Ripper::~Ripper() {
    if (hooked_)
        removeFaultHook(drive_.get());
}

bool Ripper::open(const std::string& source, bool image, const Faults* faults, int32_t first,
                  int32_t last, const RipSettings& settings) {
    settings_ = settings;
    first_ = pos_ = first;
    last_ = last;
    if (!drive_.open(source, image))
        return false;
    if (faults && !faults->empty()) {
        installFaultHook(drive_.get(), faults);
        hooked_ = true;
    }
    if (settings_.paranoia) {
        paranoia_.reset(cdio_paranoia_init(drive_.get()));
        if (!paranoia_)
            return false;
        cdio_paranoia_modeset(paranoia_.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
        cdio_paranoia_seek(paranoia_.get(), first, SEEK_SET);
    }
    if (outRate(settings_.format) != 44100 && !startResampler())
        return false;
    const int32_t bps = bytesPerSector(settings_.format);
    expected_ = int64_t(last - first + 1) * bps;
    // Two sectors' room beyond a full chunk takes the resampler's delay at the end.
    bufferSize_ = (settings_.sectorsPerChunk + 2) * bps;
    raw_.resize(size_t(settings_.sectorsPerChunk) * kRaw);
    return true;
}

bool Ripper::startResampler() {
    const unsigned channels = isMono(settings_.format) ? 1 : 2;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = nullptr;
    soxr_.reset(soxr_create(44100, outRate(settings_.format), channels, &err, &io, &q, nullptr));
    return soxr_ && !err;
}

void Ripper::markBad(int32_t lsn, uint8_t* out) {
    std::memset(out, 0, kRaw); // an unreadable sector is delivered as silence
    badInChunk_.push_back(lsn);
    noteError(lsn);
}

bool Ripper::readPlain(int32_t lsn, uint8_t* out) {
    for (int attempt = 0; attempt < 3; ++attempt)
        if (cdio_cddap_read(drive_.get(), out, lsn, 1) == 1)
            return true;
    return false;
}

bool Ripper::readParanoid(int32_t lsn, uint8_t* out) {
    int16_t* data =
        cdio_paranoia_read_limited(paranoia_.get(), paranoiaCallback, settings_.retries);
    if (!data) {
        cdio_paranoia_seek(paranoia_.get(), lsn + 1, SEEK_SET); // keep the cursor in step
        return false;
    }
    std::memcpy(out, data, kRaw);
    return true;
}

// Checks a sector whose paranoia copy differs from a plain read of it. Paranoia's
// fixes are not always right: after giving up on a read error it returns a whole block
// of silence, readable sectors included; under jitter a dropped/duplicated-bytes fixup
// can throw its alignment off by many sectors for the rest of the range, and it has been
// seen to damage the disc's last sector, which it cannot overlap-check against anything
// after it, without a word. The sector is read directly up to four times. Unreadable:
// silence, reported. A direct read equal to paranoia's copy confirms it. Two equal direct
// reads replace it. Otherwise paranoia's copy is delivered and the sector reported.
// Returns true when paranoia's copy was replaced.
bool Ripper::verifySector(int32_t lsn, uint8_t* out) {
    std::vector<uint8_t> prev(kRaw), cur(kRaw);
    bool havePrev = false, readable = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!readPlain(lsn, cur.data()))
            continue;
        readable = true;
        if (std::memcmp(cur.data(), out, kRaw) == 0)
            return false;
        if (havePrev && prev == cur) {
            std::memcpy(out, cur.data(), kRaw);
            return true;
        }
        prev.swap(cur);
        havePrev = true;
    }
    if (!readable)
        markBad(lsn, out);
    else
        noteError(lsn);
    return readable;
}

void Ripper::noteError(int32_t lsn) {
    ++errorCount_;
    if (chunkErrFirst_ < 0)
        chunkErrFirst_ = lsn;
    chunkErrLast_ = lsn;
}

int32_t Ripper::readSectors(int32_t count) {
    const int32_t before = errorCount_;
    uint8_t* out = raw_.data();
    if (!settings_.paranoia) {
        if (cdio_cddap_read(drive_.get(), out, pos_, count) == count)
            return 0;
        for (int32_t i = 0; i < count; ++i)
            if (!readPlain(pos_ + i, out + size_t(i) * kRaw))
                markBad(pos_ + i, out + size_t(i) * kRaw);
        return errorCount_ - before;
    }
    for (int32_t i = 0; i < count; ++i)
        if (!readParanoid(pos_ + i, out + size_t(i) * kRaw))
            markBad(pos_ + i, out + size_t(i) * kRaw);
    crossCheck(count);
    return errorCount_ - before;
}

// Compares paranoia's sectors with one plain read of the same sectors; a sector that
// differs is checked on its own (verifySector).
void Ripper::crossCheck(int32_t count) {
    check_.resize(raw_.size());
    const bool whole = cdio_cddap_read(drive_.get(), check_.data(), pos_, count) == count;
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = size_t(i) * kRaw;
        if (whole && std::memcmp(check_.data() + at, raw_.data() + at, kRaw) == 0)
            continue;
        if (std::find(badInChunk_.begin(), badInChunk_.end(), pos_ + i) != badInChunk_.end())
            continue; // already delivered as silence and counted
        if (verifySector(pos_ + i, raw_.data() + at))
            // Paranoia was wrong here: start it afresh after this sector.
            cdio_paranoia_seek(paranoia_.get(), pos_ + count, SEEK_SET);
    }
}

void Ripper::append(const uint8_t* bytes, size_t n) {
    // Never more than the range's exact byte count.
    n = size_t(std::min<int64_t>(int64_t(n), expected_ - produced_));
    fifo_.insert(fifo_.end(), bytes, bytes + n);
    produced_ += int64_t(n);
}

void Ripper::convert(const uint8_t* raw, int32_t frames) {
    const uint8_t* in = raw;
    if (isMono(settings_.format)) {
        mono_.resize(size_t(frames) * 2);
        for (int32_t i = 0; i < frames; ++i) {
            int16_t l, r;
            std::memcpy(&l, raw + 4 * i, 2);
            std::memcpy(&r, raw + 4 * i + 2, 2);
            // Average of both channels, rounded down (an arithmetic shift).
            auto m = static_cast<int16_t>((int32_t(l) + int32_t(r)) >> 1);
            std::memcpy(mono_.data() + 2 * i, &m, 2);
        }
        in = mono_.data();
    }
    if (!soxr_) {
        append(in, size_t(frames) * (isMono(settings_.format) ? 2 : 4));
        return;
    }
    const size_t frameBytes = isMono(settings_.format) ? 2 : 4;
    resampled_.resize((size_t(frames) / 2 + 256) * frameBytes);
    size_t done = 0, made = 0;
    soxr_process(soxr_.get(), in, size_t(frames), &done, resampled_.data(),
                 resampled_.size() / frameBytes, &made);
    append(resampled_.data(), made * frameBytes);
}

void Ripper::finish() {
    if (soxr_) {
        const size_t frameBytes = isMono(settings_.format) ? 2 : 4;
        resampled_.resize(4096 * frameBytes);
        for (int guard = 0; guard < 64; ++guard) {
            size_t made = 0;
            soxr_process(soxr_.get(), nullptr, 0, nullptr, resampled_.data(), 4096, &made);
            if (made == 0)
                break;
            append(resampled_.data(), made * frameBytes);
        }
    }
    // Pad to the exact length, should the resampler have fallen short.
    std::vector<uint8_t> zeros(size_t(expected_ - produced_), 0);
    append(zeros.data(), zeros.size());
    readDone_ = true;
}

CR_STATUS Ripper::chunk(uint8_t* out, int32_t* numBytes) {
    *numBytes = 0;
    if (finished_)
        return CR_STATUS_FAIL;
    chunkErrFirst_ = chunkErrLast_ = -1;
    badInChunk_.clear();
    if (!readDone_) {
        const int32_t count = std::min(settings_.sectorsPerChunk, last_ - pos_ + 1);
        readSectors(count);
        convert(raw_.data(), count * kFrames);
        pos_ += count;
        if (pos_ > last_)
            finish();
    }
    const size_t n = std::min(fifo_.size() - fifoStart_, size_t(bufferSize_));
    std::memcpy(out, fifo_.data() + fifoStart_, n);
    fifoStart_ += n;
    if (fifoStart_ == fifo_.size()) {
        fifo_.clear();
        fifoStart_ = 0;
    }
    delivered_ += int64_t(n);
    *numBytes = int32_t(n);
    if (chunkErrFirst_ >= 0) {
        lastErrFirst_ = uint32_t(chunkErrFirst_);
        lastErrLast_ = uint32_t(chunkErrLast_);
    }
    if (readDone_ && delivered_ == expected_) {
        finished_ = true;
        return CR_STATUS_DONE;
    }
    return chunkErrFirst_ >= 0 ? CR_STATUS_JITTER : CR_STATUS_OK;
}

int32_t Ripper::percent() const {
    if (expected_ <= 0)
        return 0;
    return int32_t(delivered_ * 100 / expected_);
}

void Ripper::lastErrorRange(uint32_t* first, uint32_t* last) const {
    *first = lastErrFirst_;
    *last = lastErrLast_;
}

} // namespace cdrip
