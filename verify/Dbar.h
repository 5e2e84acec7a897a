#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One AccurateRip database answer (a dBAR file): one or more response records, each a
// track count byte, the two AccurateRip disc IDs and the CDDB disc ID (32-bit
// little-endian), then per track a confidence byte, the track's checksum and its
// offset-finding checksum (32-bit little-endian).
struct DbarTrack {
    uint8_t Confidence = 0;
    uint32_t Checksum = 0;
    uint32_t OffsetChecksum = 0;
};

struct DbarRecord {
    uint32_t Id1 = 0;
    uint32_t Id2 = 0;
    uint32_t Cddb = 0;
    std::vector<DbarTrack> Tracks;
};

struct DbarFile {
    std::vector<DbarRecord> Records; // the complete records, in file order
    std::string Problem;             // why the file is not well formed; empty when it is
    bool WellFormed() const { return Problem.empty(); }
};

// Reads every complete record. A record cut off, a record with no tracks, or an empty
// file set Problem; the records before it are kept.
DbarFile ParseDbar(std::string_view bytes);
