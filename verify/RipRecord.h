#pragma once

#include "verify/ArChecksum.h"
#include "verify/ArLookup.h"
#include "verify/Crc32.h"
#include "verify/DiscIds.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Everything one extraction job proves about its tracks; the log and the JSON report
// are written from it.
struct TrackRecord {
    int Number = 0;   // position in the table of contents, from 1
    std::string File; // the output file
    int32_t FirstSector = 0;
    int32_t Sectors = 0;
    std::vector<std::pair<int32_t, int32_t>> Damaged; // first and last sector of each run
    std::optional<uint32_t> Crc32;                    // empty when not 44.1 kHz stereo
    std::optional<uint32_t> TestCrc32;                // the second read's, with --test
    std::optional<uint32_t> ArV1;
    std::optional<uint32_t> ArV2;
    ArTrackVerdict Ar;
    bool Ripped = true;  // false when the job stopped before the track was finished
    std::string Title;   // the track's title as the job used it; empty when not known
    std::string Outcome; // the job's word for how it ended ("exact", "not accurate", ...)
    std::string Reason;  // why it failed or was refused; empty otherwise
    // A failed track: the file beside the final name that holds what was read of it.
    std::string PartialFile;
    // How its audio was proven: "AccurateRip, one pass, confidence N", "secure reading,
    // K re-reads" or "damaged"; empty when the job did not say (not read).
    std::string ProvenBy;
};

struct RipRecord {
    std::string Program; // "velmora-rip"
    std::string Version;
    std::string Date; // ISO 8601, UTC
    std::string Drive;
    int32_t ReadOffset = 0;
    std::vector<std::pair<std::string, std::string>> Settings; // name, value
    DiscToc Toc;
    std::string DiscKey;
    std::string AlbumTitle; // empty when not known; names the log
    std::string Artist;     // the disc's artist and album as the tags got them; may be empty
    std::string Album;
    std::string CddbId;
    std::string AccurateRipId;
    std::string MusicBrainzId;
    std::vector<TrackRecord> Tracks;
    // Tracks of the job that were never read (a refused name, a file that may not be
    // replaced): number, file, title, outcome and reason only.
    std::vector<TrackRecord> NotRead;
    int Exit = 0;
};

// The checksums of one track, fed with its PCM as it is read.
class TrackProof {
public:
    TrackProof(int32_t sectors, bool firstAudio, bool lastAudio)
        : Ar(uint64_t(sectors) * ArChecksum::SamplesPerSector, firstAudio, lastAudio) {}
    void Update(const uint8_t* data, std::size_t count) {
        Crc.Update(data, count);
        Ar.Update(data, count);
    }
    TrackCrc32 Crc;
    ArChecksum Ar;
};
