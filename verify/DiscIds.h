#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A disc's table of contents as the CD ripping library reports it: start sectors as
// logical sector numbers (track 1 normally at 0). CD tables of contents and the disc
// identifiers count from the disc's start, 150 sectors (two seconds) earlier.
struct DiscToc {
    struct Entry {
        int32_t Start = 0; // first sector (LSN)
        bool Audio = true;
    };
    std::vector<Entry> Tracks;
    int32_t LeadOut = 0; // first sector after the last track (LSN)

    int AudioCount() const;
};

// Sectors between the start of the disc and LSN 0.
inline constexpr int32_t kLeadInSectors = 150;
// Gap between the last audio track and a data track in a second session (Enhanced CD):
// the audio session's lead-out (6750 sectors) and the second lead-in (4500 sectors)
// plus the data track's 150-sector pregap.
inline constexpr int32_t kSessionGapSectors = 11400;

// The CDDB (FreeDB) disc ID over every track, data tracks included.
uint32_t CddbDiscId(const DiscToc& toc);

struct AccurateRipIds {
    int AudioTracks = 0;
    uint32_t Id1 = 0;
    uint32_t Id2 = 0;
    uint32_t Cddb = 0;
    // "nnn-aaaaaaaa-bbbbbbbb-ffffffff"
    std::string Text() const;
};

// The AccurateRip disc IDs. Only audio tracks count, numbered among themselves from 1;
// the lead-out is the disc's real lead-out, also when a data track follows the audio
// session.
AccurateRipIds AccurateRipDiscIds(const DiscToc& toc);

// The MusicBrainz disc ID through libdiscid, over the audio tracks; when a data track
// follows them, the audio session ends kSessionGapSectors before it. Empty when the
// table has no audio track or libdiscid refuses it.
std::string MusicBrainzDiscId(const DiscToc& toc);

// "%08x"
std::string Hex8(uint32_t value);
