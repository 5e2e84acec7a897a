#pragma once

#include "cdaccess/CDRIP.h"
#include "verify/RipRecord.h"

#include <memory>

// The table of contents of the disc's track record: start sectors, audio or data, and
// the lead-out after the last track.
DiscToc TocOf(const DiscTracks& disc);

// Fills the disc part of a job's record from the ripper: drive, read offset, table of
// contents, disc key and the three disc identifiers.
void DescribeDisc(const TCDRIP& rip, RipRecord& record);

// Sees the PCM of one track while the ripper reads it (through TCDRIP::OnPCM, which it
// takes for as long as it lives) and works out its CRC32 and AccurateRip checksums over
// the track's audio as its file holds it (the ripper's DiscTracks record: the last audio
// track before a data track ends before the data track's gap). Without 44.1 kHz stereo
// PCM it computes nothing and the checksums stay empty.
class ProofTap {
public:
    ProofTap(TCDRIP& rip, int trackNum);
    ~ProofTap();
    ProofTap(const ProofTap&) = delete;
    ProofTap& operator=(const ProofTap&) = delete;

    bool Available() const { return Proof != nullptr; }
    // The CRC32, v1 and v2 into the record (nothing when not available).
    void StoreChecksums(TrackRecord& track) const;
    // The CRC32 of this (second) read into the record's test CRC.
    void StoreTestCrc(TrackRecord& track) const;

private:
    TCDRIP& Rip;
    bool Hidden; // track 0, the audio before track 1: a CRC32, no AccurateRip checksums
    std::unique_ptr<TrackProof> Proof;
};

// Every track's AccurateRip result from the database's answer: by its position in the
// table of contents; "not available" for a track without checksums or not finished.
void ApplyAccurateRip(RipRecord& record, const ArDiscAnswer& answer);
// Every track's result set to `result` (off, or not available).
void SetAccurateRip(RipRecord& record, ArResult result);
