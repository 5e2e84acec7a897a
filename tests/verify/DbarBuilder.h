#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds dBAR bytes the way the database writes them: per record a track count, the
// three disc IDs and per track confidence, checksum and offset-finding checksum, all
// little-endian.
struct BuiltTrack {
    uint8_t Confidence;
    uint32_t Checksum;
    uint32_t OffsetChecksum = 0;
};

inline void PutLe32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i) & 0xff));
    }
}

inline std::string DbarRecordBytes(uint32_t id1, uint32_t id2, uint32_t cddb,
                                   const std::vector<BuiltTrack>& tracks) {
    std::string out;
    out.push_back(static_cast<char>(tracks.size()));
    PutLe32(out, id1);
    PutLe32(out, id2);
    PutLe32(out, cddb);
    for (const BuiltTrack& t : tracks) {
        out.push_back(static_cast<char>(t.Confidence));
        PutLe32(out, t.Checksum);
        PutLe32(out, t.OffsetChecksum);
    }
    return out;
}
