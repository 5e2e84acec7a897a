// The emulated drive's disc and drive model: what the test configures (a cue sheet
// with its raw little-endian .bin, the drive's name, read offset, cache, speed, faults,
// tray) and the state the drive keeps between commands.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace emudrive {

constexpr int kSectorBytes = 2352;
constexpr int kSessionGap = 11400; // lead-out 6750 + lead-in 4500 + pregap 150 sectors

struct Track {
    int number = 0;
    int start = 0; // LSN on the emulated disc
    bool data = false;
    std::string title, performer, isrc;
};

// A range of sectors that a fault family acts on, with its own parameters.
struct Fault {
    std::string kind; // bad, c2bad, c2quiet, c2false, burst, jitter, stale, slip, short, wrong,
                      // land, later, echo
    int first = 0, last = -1;
    int count = 0;   // burst: reads that fail before it clears; jitter, slip: most bytes off;
                     // wrong: bytes of each sector the disc holds wrong; land, later: the
                     // bytes a read lands off (signed)
    int percent = 0; // jitter, slip, short: chance per read, in percent
};

struct Disc {
    bool present = false;
    std::vector<uint8_t> bin; // the image's raw sectors
    std::vector<Track> tracks;
    int leadout = 0;   // LSN of the lead-out
    int audioEnd = 0;  // first sector after the audio (where its bytes end)
    int dataStart = 0; // LSN of the first data track, 0 when none
    int dataBin = 0;   // sector of the .bin where the data track begins
    bool twoSessions = false;
    std::string title, performer, mcn;
    // Sector of the image holding disc sector `lsn`, -1 where the disc has none (the gap
    // between the sessions, beyond the lead-out).
    int binSector(int lsn) const;
};

// Reads `cue` and its FILE, laid out as one session or, with twoSessions, with the data
// track as a second session 11,400 sectors after the audio. False with *error.
bool loadDisc(const std::string& cue, bool twoSessions, Disc* disc, std::string* error);

struct Stats {
    long commands = 0, reads = 0, sectorsRead = 0, sectorsFromCache = 0, sectorsFromMedia = 0;
    long seeks = 0, failedReads = 0, cacheFlushes = 0;
    long slips = 0, shortTransfers = 0; // reads that slipped part-way, transfers that ended early
    long sectorsReadAhead = 0;          // read into the cache past what was asked
    long shiftedReads = 0;              // reads that landed off (jitter, land, later)
    double clockSeconds = 0;            // virtual: seeks and transfers at the drive's speed
    long pacedMicros = 0;               // real time slept for sectors read from the media
};

// The drive as configured: key=value settings (see README.md).
struct Model {
    std::string device = "/dev/sr0";
    std::string cue;
    std::string vendor = "VELMORA", product = "EMULATED-DRIVE", revision = "1.00";
    int offset = 0;          // read offset of the drive in samples (what AccurateRip lists)
    int cache = 0;           // sectors kept in the read cache
    int cacheReportKB = -1;  // the buffer MODE SENSE reports, in KB (-1: the cache's size)
    bool c2 = false;         // the drive offers C2 error pointers
    bool fuaFlushes = false; // a READ(10) with FUA empties the cache
    int speed = 40;          // times 75 sectors a second
    int paceMicros = 0;      // real time a sector read from the media takes (the clock is virtual)
    int maxSectors = 25;     // most sectors of one transfer
    int maxBytes = 0;        // most bytes of one transfer, C2 pointers included (0: any)
    int readAhead = 0;       // sectors read on into the cache after a read from the media
    int major = 11;          // device number reported by stat: 11 SCSI CD-ROM, 3 IDE
    int minor = 0;
    bool twoSessions = false;
    std::string mcn;                 // overrides the cue sheet's CATALOG
    std::map<int, std::string> isrc; // overrides the cue sheet's ISRC lines
    std::string tray = "closed";     // closed, open, nodisc
    long goneAfterReads = -1;        // the drive disappears after this many READ CD
    int goneAt = -1;                 // ... or at the first READ CD that reaches this sector
    int changeAt = -1;               // the disc is changed at the first READ CD reaching it
    long changeAfterReads = -1;      // the disc is changed after this many READ CD
    std::string changeTo;            // cue sheet of the disc put in then ("": same disc)
    bool hideOthers = true;          // other CD devices of the machine are not seen
    unsigned seed = 1;
    std::vector<Fault> faults;
    std::string statsFile, logFile;
};

// Parses "key=value" settings separated by newlines or ';' into *model. Unknown keys
// and bad values are errors (the drive refuses to start rather than guess).
bool parseSettings(const std::string& text, Model* model, std::string* error);

} // namespace emudrive
