#pragma once

#include "cdaccess/CDRIP.h"
#include "verify/RipRecord.h"

#include <functional>
#include <optional>
#include <string>

// What a job proves and how.
struct JobProofOptions {
    bool Test = false;                 // read each track twice and compare the CRCs
    bool AccurateRip = true;           // look the disc up in the AccurateRip database
    long TimeoutSeconds = 10;          // for the look-ups
    std::optional<int32_t> ReadOffset; // chosen by the user; none: the drive's own
    // Each track read once first and proven by AccurateRip where its v2 checksum matches
    // an entry of at least ArMinConfidence; read securely where it does not.
    bool ArFirst = true;
    int ArMinConfidence = 2;
};

// The proof of one extraction job, for both front ends: chooses the read offset,
// rips each track through the ripper with its checksums worked out on the way (and
// a second read with Test), then looks the disc up and writes the log.
class JobProof {
public:
    JobProof(TCDRIP& rip, JobProofOptions options);

    // Sets the read offset (the user's, else the drive list's, else 0) and describes
    // the disc. Call once the drive is selected, before the first track.
    void Start(const std::string& program, const std::string& albumTitle);

    // Extracts track TrackNum into FileName through TCDRIP::RipTrack, with the
    // checksums, the damaged sectors the ripper reported, and the test read. The
    // ripper's errors pass through; the track stays in the record as not finished.
    void RipTrack(int32_t TrackNum, const std::string& FileName);
    // The same with another read in place of TCDRIP::RipTrack (the parallel rip's
    // CaptureTrack): `read` reads the track once with the ripper's OnPCM feeding the
    // checksums.
    void ReadTrackWith(int32_t TrackNum, const std::string& FileName,
                       const std::function<void()>& read);
    // The track's output failed after it was read (the parallel rip's encoder): the
    // record keeps it as a track the rip did not finish, as when RipTrack throws.
    void MarkFailed(int32_t TrackNum);
    // The track's output ended early after it was read in full (a stopped parallel rip).
    void MarkUnfinished(int32_t TrackNum);

    // True when track TrackNum (a ripped one) has damaged sectors or its two reads
    // differ.
    bool Damaged(int32_t TrackNum) const;
    bool AnyDamaged() const;

    // Looks the disc up (unless off or nothing to check), stores the exit status and
    // writes the log into folder. Returns the log's path; empty when it could not be
    // written.
    std::string Finish(const std::string& folder, int exitStatus);
    // The two halves of Finish. Neither touches the ripper, so that they may run on
    // another thread than the one that ripped.
    void Lookup();
    std::string WriteLog(const std::string& folder, int exitStatus);
    // Leaves the look-up out of Finish (a job the user stopped should end at once).
    void SkipLookup() { Options.AccurateRip = false; }

    // The disc's answer when it was fetched already (while the first track was read):
    // Lookup takes it instead of asking again.
    std::optional<ArDiscAnswer> Prefetched;

    RipRecord Record;
    std::string LogError; // why Finish could not write the log

private:
    TrackRecord* Find(int32_t TrackNum);
    const TrackRecord* Find(int32_t TrackNum) const;
    void TestRead(TrackRecord& track);

    TCDRIP& Rip;
    JobProofOptions Options;
};

// Whether the track's sectors were damaged or its two reads differ.
bool TrackDamaged(const TrackRecord& track);

// The album title stored in cdplayer.ini for the ripper's disc; empty when none is.
std::string AlbumTitleOf(const TCDRIP& rip);

// The proof options of the settings file (ReadOffset, AccurateRip).
JobProofOptions ProofOptionsOfSettings();

// The line for a track-list row's tooltip: "CRC32 ..., test CRC32 ..., AccurateRip ...".
std::string TrackProofText(const TrackRecord& track);

// "2026-12-09T00:15:00Z"
std::string UtcNow();
