// Where the ripper's audio sectors come from: one small read interface under the
// ripper, so that a drive, a disc image or a fault decorator over either can stand
// behind it.
//
// A source answers one call: read `count` whole sectors (2352 bytes each, 16-bit
// little-endian stereo samples) from a logical sector number. What it returns is
// how many whole sectors at the front of the buffer this very read delivered; the
// ripper never looks at the buffer beyond them, because a short transfer may leave
// there what an earlier read put there. A source that has the drive's C2 error
// pointers also says, per delivered sector, whether the drive flagged it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace cdrip {

constexpr int32_t kSectorBytes = 2352; // one audio sector: 588 stereo samples

class SectorSource {
public:
    SectorSource() = default;
    SectorSource(const SectorSource&) = delete;
    SectorSource& operator=(const SectorSource&) = delete;
    virtual ~SectorSource() = default;

    // Reads sectors lsn .. lsn + count - 1 into `out` (room for count * kSectorBytes).
    // Returns the number of whole sectors at the front of `out` that this read
    // delivered, 0 .. count (0: the read failed). The rest of `out` is unspecified.
    // `c2` is null or has room for `count` flags; when hasC2() is true, c2[i] is set
    // for each delivered sector i: 1 when the drive flagged an error in it, else 0.
    virtual int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* c2) = 0;

    // True when read() fills the C2 flags.
    virtual bool hasC2() const { return false; }

    // The most sectors the source may answer from a read cache of its own instead of
    // reading the disc again: 0 for a source without one (an image file). A reader
    // that must not take a cached copy for a fresh read reads more than this many
    // sectors elsewhere before it reads a sector again.
    virtual int32_t cacheSectors() const { return 0; }

    // The cache the drive itself says it has (its capabilities page) or was seen to have
    // (re-reads it answered from a cache larger than it was taken for), in sectors, with
    // none of cacheSectors()' allowance for drives that say less: 0 when it says nothing.
    virtual int32_t saidCacheSectors() const { return 0; }

    // Where the drive commands of the last read() began: for each sector it delivered,
    // 1 when a command began at it, else 0; null when the source does not say (then only
    // the read's own first sector is known to begin one). A drive may answer a command's
    // first sector with what its buffer still held (the sector it delivered before), so
    // that copies which all began commands may agree on the same wrong bytes.
    virtual const uint8_t* commandStarts() const { return nullptr; }

    // Which sectors of the last read() a command delivered after a command over them had
    // failed in that read: 1 for each, else 0; null when none was. A drive answers such a
    // re-read from its cache, and for the sector that failed it may keep anything there
    // (the last sector it delivered), which it then returns as good.
    virtual const uint8_t* retried() const { return nullptr; }

    // How many sectors from the last read's start the drive was asked for: a read that
    // ends early (a failed command, or one that ended its transfer early) asks nothing
    // past that command. -1: every sector of the read may have been asked for.
    virtual int32_t commanded() const { return -1; }

    // The most sectors one drive command of read() moves, where a longer read goes in
    // commands of that many from its first sector (0: not commands of a drive). A reader
    // that lays out its own commands reads at most this many a call.
    virtual int32_t commandSectors() const { return 0; }

    // Which sectors of the last read() came back far faster than the disc gives them:
    // 1 for each sector of a command that re-read sectors delivered before, sent the
    // drive elsewhere and took less than a tenth of the time this drive's reads of new
    // sectors take for as many; else 0. Null when none did, or when reads take no time
    // that tells (an image, a drive whose reads are not timed yet). The drive's cache
    // answered such a command but for at most a tenth of its sectors, however long ago
    // they were read (see answeredFromCache).
    virtual const uint8_t* answeredFast() const { return nullptr; }

    // The drive was seen to hold more than cacheSectors(): from now on it is taken to hold
    // twice the buffer it was taken for (with the same margin as a reported one). False
    // when there is no cache to grow (an image) or it is already taken as the largest.
    virtual bool growCache() { return false; }
};

// The cache a drive may hold when it does not say: 8 MB, about 3,567 sectors. A drive
// that reports a larger buffer is taken to hold that much and a sixteenth more.
constexpr int32_t kDriveCacheSectors = 8 * 1024 * 1024 / kSectorBytes + 1;

// The most sectors of a drive's cache a reader defeats by reading elsewhere (36 MB,
// above the 32 MB buffers drives are sold with): a larger cache would cost each
// re-read more than a fresh copy is worth.
constexpr int32_t kMaxDefeatedCache = 16000;

// The cache the reader defeats on a drive whose capabilities page (MODE SENSE 2Ah)
// reports a buffer of `reportedKB` kilobytes (0: not reported).
int32_t driveCacheSectors(int32_t reportedKB);

// The part of a source's cache of `sourceCache` sectors a reader defeats on a disc whose
// audio ends at `last`: at most kMaxDefeatedCache, and never more than half the disc
// (reading elsewhere needs the rest). Where that is less than the whole cache, a re-read
// may be answered from the cache whatever is read in between.
int32_t defeatedCache(int32_t sourceCache, int32_t last);

// Whether a cache of `sourceCache` sectors is too large for a reader to defeat on a disc
// whose audio ends at `last`: then no re-read can be taken for a fresh copy. It is where
// the cache is larger than the 8 MB every drive is taken to have and than the reader
// defeats, or where the drive says (`said`, saidCacheSectors()) it holds more than the
// reader defeats. On a disc shorter than twice the 8 MB, a drive that says nothing, or
// says it holds at most half the disc, is taken at its word.
bool cacheUndefeatable(int32_t sourceCache, int32_t said, int32_t last);

// What the drive says of its cache in sectors, from a buffer of `kb` kilobytes.
int32_t saidCacheSectors(int32_t kb);

// A device or a disc image read through libcdio's cdda layer (audio in
// little-endian order). Null when `source` holds no readable disc.
std::unique_ptr<SectorSource> openCddaSource(const std::string& source, bool image);

// One opened device or image, for the sources of several ranges one after the other:
// opening a drive reads from the disc (libcdio's checks), which on a drive costs a seek
// away from where the reading goes on, so a drive stays open from range to range.
struct CddaHandle;
std::shared_ptr<CddaHandle> openCdda(const std::string& source, bool image);
// A source over `handle`. On a drive, a read that is given room for C2 flags asks for
// the drive's C2 error pointers (MMC READ CD with the C2 field); a drive that refuses
// that form is read without them from then on (hasC2() false).
std::unique_ptr<SectorSource> cddaSource(std::shared_ptr<CddaHandle> handle);
enum class C2Support { Unknown, Yes, No };
C2Support c2SupportOf(const CddaHandle& handle);
// The buffer a drive is taken to have, in KB: what it reported, or more where its reads
// showed that (SectorSource::growCache); 0 for an image.
int32_t cacheKBOf(const CddaHandle& handle);

// How a drive's timed reads are judged: a command of at least kTimedSectors whose
// sectors were all delivered before, and that sends the drive elsewhere, was answered
// from the cache when it took less than a tenth of the time the median command of new
// sectors took a sector for as many. Nothing is judged before kTimedSamples such
// commands were timed, nor where they took less than kMeasurableSeconds a sector (no
// spinning disc gives audio that fast: 52x is 256 us a sector). A source that takes no
// time of its own (an image behind a driver, an emulated drive) takes whatever the host
// spends on a command: on a busy host, or with checked memory, that reaches 20 us a
// sector, and its cache would be judged from the host's noise.
constexpr int32_t kTimedSectors = 8;
constexpr int32_t kTimedSamples = 8;
constexpr double kMeasurableSeconds = 50e-6;
// Whether the fast commands of a read (`fast`: answeredFast(); `starts`: where commands
// began, null for one command) show the cache holding sectors a reader took for gone from
// it (`gone`, per sector): a command the cache answered but for at most a tenth shows that
// only where a tenth of it or more were taken for gone. One whose other sectors the
// drive was known to hold (a read from a sector further back) may have read those few
// from the disc. Only the first `got` of the `delivered` sectors count.
bool answeredFromCache(const uint8_t* fast, const uint8_t* starts, const uint8_t* gone, int32_t got,
                       int32_t delivered);
// The largest buffer a drive is taken to have once its reads showed more than it said.
constexpr int32_t kMaxGrownKB = 65536;

} // namespace cdrip
