// One extraction: a sector range of one drive read with or without paranoia and
// delivered chunk by chunk in one of the six output formats.
#pragma once

#include "cdrip.h"
#include "handles.h"
#include "sectorsource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace cdrip {

// What a reader knows of a drive's read cache: the sectors that came from the disc so
// far (clock), and for each sector of the disc the clock when it was last asked for.
// The ranges read from one drive share it.
struct ReadHistory {
    int64_t clock = 0;
    std::vector<int32_t> lastRead;
    int32_t head = -1; // where the drive goes on after the last read
    // The bytes of the sector the drive delivered last (empty: none yet): a drive that
    // echoes its buffer at a command's first sector gives those there.
    std::vector<uint8_t> lastBytes;
    // Per sector of the disc: a hash of the bytes the drive first delivered for it (0:
    // never delivered). A drive may read a place again at another offset than the first
    // time, every time alike: where nothing decided pins a vote, its copies are held
    // against the first read too.
    std::vector<uint64_t> firstSeen;
    std::vector<uint32_t> firstBy; // per sector: the read that delivered it first
    uint32_t reads = 0;            // reads made, for firstBy
    // What a verified range leaves to a range that starts where it ended (the next
    // track): the sectors it decided past its end (decidedFrom .. next - 1), the proven
    // sectors before next, and the first copies it read from next on. Taken once.
    struct Carry {
        bool valid = false;
        int32_t discLast = -1, decidedFrom = 0, next = 0, lastDamaged = -1;
        std::vector<uint8_t> decided, hist, cand, pend;
        std::vector<bool> damaged;
        int32_t histCount = 0, pendStart = 0, voteEnd = 0;
        std::vector<int32_t> candFrom, pendFrom;
        std::vector<uint8_t> candLead, pendLead, candProven;
        bool steady = false;
        bool adrift = false; // see Ripper::adrift_
    } carry;
    // What a one pass (plain ranges, one after the other) read of each range from the
    // disc: its sectors from the range's start on, as far as each was delivered whole by
    // a read that reached the disc for it (the drive could not have held it), and before
    // them the last few sectors of the range before it where the pass went on from there
    // alike. First copies for a secure range that starts at the same sector: its first
    // vote's copy from the first place, and the first copies its checks prove after that
    // (Ripper::takePassCopy). Taken once; the last few ranges' are kept.
    struct PassCopy {
        int32_t discLast = -1, from = 0; // from: the first sector held
        int32_t start = 0;               // the range's first sector
        bool open = true;                // the pass still adds to it
        std::vector<uint8_t> bytes;
        std::vector<uint8_t> leads;  // per sector: a drive command began at it
        std::vector<int32_t> places; // per sector: where its read began
    };
    std::vector<PassCopy> passCopies;
    PassCopy passTail; // the pass's last sectors from the disc, ending at head
    // Re-reads taken for fresh that the drive answered as fast as from its cache, since
    // the cache was last taken to be larger.
    int32_t fastRereads = 0;
    // A cache found too large to defeat while a secure range was read from the reads
    // planned for it (sectors; 0: none): its re-reads gave no copy, and what they did
    // not prove was listed.
    int32_t undefeatedCache = 0;
    // One more such re-read, by the reader or by the reads planned for it: true when it
    // is the one that makes the cache larger (then the count starts again).
    bool fastReread();
};

struct RipSettings {
    bool paranoia = true;
    int format = CR_STEREO44100;
    int32_t sectorsPerChunk = 26;
    int32_t retries = 20;
    int32_t discLast = -1; // last sector before the lead-out: reads may look one beyond the range
    int32_t offsetSamples = 0; // read offset: positive delivers audio from later on the disc
    int32_t audioFirst = 0;    // the disc's first and last audio sectors: beyond them the
    int32_t audioLast = -1;    // offset reads silence (-1: discLast)
    std::string readLog;       // a file that gets one line per read, for tests
    std::shared_ptr<ReadHistory> history; // the drive's, shared by its ranges (null: own)
    // Whole disc sectors (as the drive delivers them) proven another way, ending right
    // before provenEnd: with jitter correction, a range whose reading starts at
    // provenEnd and takes nothing from the range before it checks its first reads
    // against them as its proven sectors (see Ripper::takeProven).
    std::vector<uint8_t> provenBefore;
    int32_t provenEnd = -1;
    // With jitter correction: the range may take the last one pass's first read as the
    // first copy of its first vote, and the rest of it as first copies
    // (ReadHistory::PassCopy).
    bool takePassCopy = false;
    // With jitter correction: no range after this one goes on from what it decides past
    // its end (the tracks after it are proven another way), so first copies are read no
    // further than this disc sector, or than the range's end and its margin where that
    // is further (-1: up to the end of the disc's audio).
    int32_t reachLast = -1;
    // Without jitter correction: a sector the drive delivered with its C2 error pointers
    // set is kept as delivered (still counted damaged) rather than made silence, so that
    // a checksum of the whole track can still prove it: drives also flag bytes they read
    // right.
    bool keepFlagged = false;
};

// Bytes one sector becomes in `format` (2352, 1176, 588 or 294).
int32_t bytesPerSector(int format);

class Ripper {
public:
    Ripper() = default;
    Ripper(const Ripper&) = delete;
    Ripper& operator=(const Ripper&) = delete;
    ~Ripper();

    // Takes over `source` and positions at `first`. False when there is no source or
    // the output format cannot be made.
    bool open(std::unique_ptr<SectorSource> source, int32_t first, int32_t last,
              const RipSettings& settings);

    int32_t bufferSize() const { return bufferSize_; }
    CR_STATUS chunk(uint8_t* out, int32_t* numBytes);
    int32_t percent() const;
    int32_t errorCount() const { return errorCount_; }
    // The drive's cache in sectors where it is too large to defeat on this disc, so that
    // nothing of the range is proven by re-reads (every sector left to read is listed);
    // else 0.
    int32_t undefeatedCache() const {
        return std::max(unprovable_ ? undefeated_ : 0, history_ ? history_->undefeatedCache : 0);
    }
    void lastErrorRange(uint32_t* first, uint32_t* last) const;

private:
    bool startResampler();
    // Reads a chunk's worth of sectors at plainNext_ into decided_ without verification.
    void readPlainRun();
    bool sectorFor(int32_t lsn, uint8_t* out);
    bool readPlain(int32_t lsn, uint8_t* out);
    // The verified reader (jitter correction on): decides sectors up to `until`.
    void decideUpTo(int32_t until);
    void step();
    bool pinnable() const;
    static bool pins(const uint8_t* end, int32_t count);
    void extend();
    bool takeProvenAhead();
    // Compares a check's copies of next_ on with the first copies (see extend).
    int32_t compareCheck(const uint8_t* mine, const uint8_t* myLead, int32_t have, int32_t from,
                         std::vector<int32_t>* open);
    int32_t checkStart() const;
    void failedCheck();
    void mismatch(const uint8_t* copies, int32_t n, int32_t from, const uint8_t* leads);
    // Reads the next first copies after the candidates, up to `limit` and while fewer
    // than `room` are held.
    bool readAhead(int32_t limit, int32_t room);
    bool readAhead() { return readAhead(readLimit_, maxCandidates_); }
    // The most first copies held while the reading runs on to the disc's end.
    int32_t maxAhead() const;
    // Reads more than the cache holds elsewhere; false when it could not. `forCheck`: a
    // check waits for it (not a vote's read). A vote's read names its sectors (need ..
    // needEnd - 1): the flush then ends once the drive can no longer hold them.
    bool flush(bool forCheck = false, int32_t need = 0, int32_t needEnd = 0);
    void vote();
    // Past where the drive went adrift: the next sectors as one read gives them, damaged.
    void adriftRead();
    // One round of a vote: each copy, where its read started (-1: a stand-in read from
    // the vote's first sector), and how many sectors after the vote's first it starts.
    // A fourth copy is a second read from the disc's first sector, which no read from
    // another place reaches; it holds `span` sectors.
    struct VoteRound {
        static constexpr int kSlots = 4;
        int n = 3; // copies in use
        const uint8_t* copy[kSlots] = {};
        const uint8_t* lead[kSlots] = {}; // per sector of each copy: it began a drive command
        // Per sector of each copy that began a command: it holds the bytes the drive
        // delivered right before that command (null: not known, taken as so).
        const uint8_t* echo[kSlots] = {};
        int32_t got[kSlots] = {}, places[kSlots] = {}, off[kSlots] = {};
        int32_t span[kSlots] = {-1, -1, -1, -1}; // sectors the copy stands for (-1: all)
        const uint8_t* sector(int v, int32_t j) const;
        bool covers(int v, int32_t j) const { return span[v] < 0 || j - off[v] < span[v]; }
    };
    int32_t agreedRun(const VoteRound& r, int32_t at, int32_t b, int64_t* end) const;
    void adoptPending();
    void takeCarry();
    void leaveCarry();
    void takeProven();
    // The one pass's copy of the range as copy 0 of a vote's first round from `place`
    // (len sectors at most); false when it holds too little from there. It is given to
    // one round only (dropPassCopy).
    bool takePassCopy(int32_t place, int32_t len, uint8_t* into, const uint8_t** copy, int32_t* got,
                      uint8_t* leads);
    void dropPassCopy();
    // A plain read's delivered sectors into the one pass's copies (ReadHistory::PassCopy):
    // `unheld` per sector, the drive could not have held it before the read.
    void keepPass(int32_t lsn, int32_t asked, int32_t got, const uint8_t* bytes,
                  const std::vector<uint8_t>& unheld);
    // `delivered`: the drive delivered the sectors whole lately (the one pass read them),
    // so that a read that meets them in its cache is cut by no damage: the flush comes
    // first, timed from that read, rather than after a read the cache answers.
    void voteRead(int32_t from, int32_t at, int32_t count, uint8_t* buf, const uint8_t** copies,
                  int32_t* n, uint8_t* leads, uint8_t* echoes, bool delivered = false);
    // Whether the copies a lead-less vote agrees on contradict the drive's first read of
    // those sectors: the first of `n` decided bytes from `lsn` on that does (n: none).
    int32_t againstFirstRead(int32_t lsn, const uint8_t* bytes, int32_t n) const;
    // A read that began at `place` gave the end of the held sectors their decided bytes.
    void joinHeld(int32_t place);
    // Reads from elsewhere contradict the held sectors: they are listed as damaged.
    void listHeld();
    bool fresh(int32_t lsn) const;
    // A read the reader took for fresh came back as fast as the drive's cache answers:
    // after a few, the cache is taken to be twice as large (see readRun).
    void answeredFast();
    bool wouldMeetCache(int32_t lsn, int32_t count, int32_t proveFrom) const;
    int64_t lastRead(int32_t lsn) const;
    void addCandidates(const uint8_t* bytes, int32_t n, int32_t from, const uint8_t* leads);
    void dropCandidates(int32_t n);
    // Number of whole sectors a read of `count` at `lsn` delivered (0 on failure).
    // `layOut`: in commands of the reader's own (a check; see sourceRead).
    int32_t readRun(int32_t lsn, int32_t count, uint8_t* out, const char* why,
                    int32_t proveFrom = std::numeric_limits<int32_t>::max(), bool layOut = false);
    int32_t sourceRead(int32_t lsn, int32_t count, uint8_t* out, bool layOut);
    bool leadsCandidate(int32_t lsn) const;
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
    // hist_ holds the last histCount_ (up to 8) proven sectors before next_, oldest
    // first, ending at histEnd(). cand_ holds first copies of sectors next_ .. next_ +
    // candCount_ - 1 from sector candHead_ on, candFrom_ where each one's read started.
    int32_t next_ = 0;
    std::vector<uint8_t> decided_;
    std::vector<bool> damaged_;
    std::vector<uint8_t> hist_;
    int32_t histCount_ = 0, histEnd_ = 0; // histEnd_: sectors of hist_ in use
    // The proven sectors right before next_ whose bytes hist_ ends with (histCount_ but
    // for a failed check, which puts the next sector to a vote): a vote's decided lead.
    int32_t leadHeld_ = 0;
    // A vote's copies from three places agreed with one another and not with the decided
    // audio before them: every place there lands off alike, and nothing read there can
    // be pinned to the decided audio any more. The rest of the reading is listed as
    // damaged (see vote).
    bool adrift_ = false;
    const uint8_t* histEnd() const { return hist_.data() + size_t(histEnd_) * kSectorBytes; }
    std::vector<uint8_t> cand_;
    std::vector<int32_t> candFrom_;
    // Per first copy: its read's drive command began at it. A check proves no sector
    // whose copies both began a command (the drive may have answered both from what its
    // buffer held before them).
    std::vector<uint8_t> candLead_;
    // Per first copy: a check proved it already (two fresh copies agreed, not both from
    // a command's first sector), while a sector before it is still open: it is decided
    // once next_ reaches it, without another read.
    std::vector<uint8_t> candProven_;
    int32_t candCount_ = 0, maxCandidates_ = 0;
    int32_t candHead_ = 0; // sectors at the front of cand_ and candFrom_ already gone
    // The first copies a mismatch puts in place of all of them, built here and swapped in
    // (kept for the next one: a check's copies can be megabytes).
    std::vector<uint8_t> spareCand_, spareLead_;
    std::vector<int32_t> spareFrom_;
    std::vector<uint8_t> read_, c2_;
    // First copies a flush read ahead, of sectors pendStart_ on, with where each read
    // started; they join the candidates when these reach them.
    std::vector<uint8_t> pend_;
    std::vector<int32_t> pendFrom_;
    std::vector<uint8_t> pendLead_;
    int32_t pendStart_ = 0;
    int32_t pendCount() const { return int32_t(pendFrom_.size()); }
    int32_t voteEnd_ = 0;      // the end of the last vote's reads
    int32_t readLimit_ = -1;   // first copies go up to here
    int32_t reachLast_ = -1;   // first copies a flush keeps go up to here
    int32_t lastDamaged_ = -1; // the last sector decided damaged
    int32_t failedSteps_ = 0, mismatchLsn_ = -1, mismatches_ = 0, attempt_ = 0;
    // The drive's cache (history_, kept only with a cache); a sector is fresh when more
    // than cache_ others came from the disc since it was last asked for.
    int32_t cache_ = 0;
    bool unprovable_ = false; // the drive's cache is too large to defeat: nothing proven
    int32_t undefeated_ = 0;  // that cache, in sectors
    int32_t modelCache_ = 0;  // the cache the history counts with, even once given up on
    std::shared_ptr<ReadHistory> history_;
    uint32_t reads_ = 0;
    int32_t flushes_ = 0;
    bool readOnce_ = false;   // a read has delivered a sector
    bool stale_ = false;      // the last read ended at a sector the cache may hold
    bool fastAnswer_ = false; // the last read's re-reads came from the cache (answeredFast)
    // The last vote proved a whole block and nothing since pinned a check: steady audio
    // (a tone, digital silence), where the next vote reads more than the cache holds.
    bool steady_ = false;
    std::vector<uint8_t> moved_;   // per sector of the last read: the drive transferred it
    std::vector<uint8_t> starts_;  // per sector of the last read: a drive command began at it
    std::vector<uint8_t> retried_; // per sector of the last read: delivered after a failure
    std::vector<uint8_t> fast_;    // per sector of the last read: SectorSource::answeredFast
    std::vector<uint8_t> echoes_;  // per sector of the last read: see VoteRound::echo
    // Sectors of the last read that its drive commands asked for: all of them, but where
    // the reader laid out the commands itself and one failed (none asked past it).
    int32_t asked_ = 0;
    uint32_t firstReadMissed_ = 0; // the first read a lead-less vote contradicted (0: none)
    // Sectors heldFrom_ .. next_ - 1 (heldFrom_ -1: none) that a lead-less vote proved and
    // the reads after it went on from, all of them from commands that began at heldPlace_
    // or before. Every read of a place may land off the same way (a seek there that finds
    // its place by addresses that are off), and the sectors right after the disc's start
    // or an unreadable sector are reached only by reads that begin there: their copies
    // agree and are all wrong alike. The sectors are held back from delivery until a read
    // that began after heldPlace_ gives their end the same bytes (the reads from there on
    // go on from the same audio), and listed as damaged when reads from there contradict
    // them.
    int32_t heldFrom_ = -1, heldPlace_ = -1;
    struct FileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, FileCloser> readLog_;
    // The read offset: the sectors read, and the window a chunk's bytes come from.
    int32_t readFirst_ = 0, readLast_ = -1, plainNext_ = 0;
    int32_t shiftSectors_ = 0, shiftRest_ = 0;
    std::vector<uint8_t> window_, carry_;
    std::vector<uint8_t> windowDamaged_; // per sector of window_: it is damaged
    bool carryDamaged_ = false;          // carry_ is damaged
    std::vector<uint8_t> passCopy_;      // see takePassCopy
    std::vector<uint8_t> passLead_;
    int32_t passFrom_ = -1;
    int32_t passHeld_ = 0; // first copies the one pass's copy gave (see flush)
    int passIndex_ = -1;   // this plain range's entry of ReadHistory::passCopies
    int32_t carryLsn_ = -1;
    int32_t lastOut_ = -1; // the last sector sectorFor gave from decided_
    bool lastOutDamaged_ = false;
    size_t taken_ = 0; // sectors at the front of decided_ already delivered
};

} // namespace cdrip
