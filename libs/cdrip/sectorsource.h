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

    // Where the drive commands of the last read() began: for each sector it delivered,
    // 1 when a command began at it, else 0; null when the source does not say (then only
    // the read's own first sector is known to begin one). A drive may answer a command's
    // first sector with what its buffer still held (the sector it delivered before), so
    // that copies which all began commands may agree on the same wrong bytes.
    virtual const uint8_t* commandStarts() const { return nullptr; }

    // The most sectors one drive command of read() moves, where a longer read goes in
    // commands of that many from its first sector (0: not commands of a drive). A reader
    // that lays out its own commands reads at most this many a call.
    virtual int32_t commandSectors() const { return 0; }
};

// The cache a drive may hold when it does not say: 8 MB, about 3,567 sectors.
constexpr int32_t kDriveCacheSectors = 8 * 1024 * 1024 / kSectorBytes + 1;

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

} // namespace cdrip
