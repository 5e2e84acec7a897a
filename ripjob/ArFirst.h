#pragma once

#include "cdaccess/CDRIP.h"
#include "verify/ArLookup.h"
#include "verify/JobProof.h"

#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// AccurateRip first: each track of a job is read once at the drive's full speed and
// proven by the AccurateRip database where it can be, and read securely only where it
// cannot. The disc's entry is fetched on another thread from the start of the job, while
// the first track is read.
//
// Before a track is read (Prepare), its one pass goes into memory: every sector read
// once, suspect sectors (a read error, C2 errors) listed. The suspect stretches are read
// again securely and take the secure bytes. The track is proven when its v2 checksum
// is not 0 (digital silence proves nothing) and matches an entry of the disc of at least
// the set confidence; then the samples AccurateRip leaves out (the first 2,939 of the
// disc's first audio track, the last 2,940 of its last) are read securely too, and the
// secure bytes are kept there. A proven track's PCM goes to the ripper's Replay, so that
// the extraction that follows writes it as it writes a track it reads; any other track
// (a v1-only match, no match, a disc the database does not know, no answer, silence, a
// suspect stretch the secure reading could not prove) is read again whole by the secure
// reading, and only that reading reaches its file. Nothing unproven is ever written.
class ArFirstReading {
public:
    // The most PCM a one pass keeps: a longer track is read securely at once. The
    // pipeline's own cap is lowered by as much, so that a job stays within its memory.
    static constexpr std::size_t MaxTrackBytes = std::size_t{128} << 20;

    ArFirstReading(TCDRIP& rip, const JobProofOptions& options);
    ~ArFirstReading();
    ArFirstReading(const ArFirstReading&) = delete;
    ArFirstReading& operator=(const ArFirstReading&) = delete;

    // True when tracks are read once first (the option, AccurateRip on, jitter
    // correction on, 44.1 kHz stereo PCM).
    bool Active() const { return On; }

    // Starts the look-up of the disc (ids from the table of contents); the job's first
    // track is read meanwhile. `numbers`: the job's tracks in the order they are read.
    // The secure readings of the disc's edges are planned ahead, so that the one pass
    // makes their reads on its way (the drive's cache defeated by the pass itself).
    void Start(const DiscToc& toc, const std::vector<int>& numbers);

    // Before track `number` is read: its one pass and proof (see above). Leaves the
    // ripper's damage lists as they were; sets its Replay for a proven track, and its
    // ReplayStopped when the job was stopped during the pass.
    void Prepare(int number);
    // Right after the track's extraction: what its reading cost.
    void AfterRead(int number);
    // How the track was proven ("AccurateRip, one pass, confidence N", "secure reading,
    // K re-reads"); "damaged" when `damaged`. Empty for a track never prepared.
    std::string ProvenBy(int number, bool damaged) const;

    // The disc's answer when the look-up ran (it waits for it); none otherwise.
    std::optional<ArDiscAnswer> Answer();

private:
    // One track read once: its PCM, its suspect stretches, the sectors it cost.
    struct Pass {
        std::shared_ptr<std::vector<uint8_t>> Pcm;
        std::vector<SectorRange> Suspects;
        int64_t Read = 0;
        bool Complete = false; // every byte, no stop, no error
    };
    // `watch`: the disc's answer is looked at between the pass's reads (never waited
    // for); once it shows that no one pass can prove the track, the pass ends there.
    // On a drive without C2 error pointers a pass ends at its first sector that does
    // not read (its track is read securely whole anyway).
    Pass ReadOnce(int number, std::size_t bytes, bool watch = false);
    // Before the first edge's secure reading: the one pass goes on into the next tracks
    // (kept for them) until the reads planned for it are made, or the kept PCM reaches
    // its cap.
    void ReadAheadFor(int number, int32_t first, int32_t last);
    struct Track {
        bool Proven = false;
        int Confidence = 0;
        int64_t Read = 0;          // sectors read for it so far (one pass, stretches, edges)
        int32_t SecureStretch = 0; // suspect sectors read securely and kept
        int64_t Sectors = 0;
    };
    const ArDiscAnswer* WaitAnswer();
    // The answer when it has come, without waiting; null while the look-up runs.
    const ArDiscAnswer* AnswerIfReady();
    // Whether the answer leaves the track something its one pass could match: an entry
    // of the disc for it, of at least the set confidence, whose checksum is not 0.
    bool Provable(const ArDiscAnswer& answer, int number) const;
    // Whether the job's track after `number`, right after it on the disc, gets a one pass
    // of its own (the answer is in and could prove it): then no secure reading goes on
    // from what the reading of `number` reads past its end.
    bool NextReadOnce(int number) const;
    // Reads first..last securely into `pcm` at its place in the track starting at
    // `trackFirst`; false when a sector of it could not be proven. Then `listed`, when
    // given, gets the disc sectors the reading listed (at least the stretch's own), unless
    // the reading itself failed (the drive gone): then it stays empty.
    bool ReadSecurely(int32_t first, int32_t last, int32_t trackFirst, std::vector<uint8_t>& pcm,
                      Track& t, std::vector<SectorRange>* listed = nullptr);

    TCDRIP& Rip;
    JobProofOptions Options;
    bool On = false;
    std::future<ArDiscAnswer> Pending;
    std::optional<ArDiscAnswer> Got;
    std::map<int, Track> Tracks;
    std::vector<int> Numbers;
    std::map<int, Pass> Ahead; // tracks the one pass has read before their turn
    // The last sectors of the track proven last, as the drive delivers them, ending
    // right before disc sector End: a secure reading of the track after it starts from
    // them (checks pinned by them rather than votes, where they are not silence).
    struct ProvenTail {
        int32_t End = -1;
        std::vector<uint8_t> Sectors;
    } Tail;
    void KeepTail(const DiscTrack& d, const std::vector<uint8_t>& pcm);
    int32_t ShiftSectors() const;
};
