#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The MusicBrainz view of a disc's table of contents and its disc ID.
namespace Metadata {

// Sector numbers as MusicBrainz counts them: logical sector numbers plus the
// 150-sector (two-second) lead-in, audio session only.
struct DiscToc {
    int First = 1;
    int LeadOut = 0;
    std::vector<int> Offsets; // of tracks First, First + 1, ...

    int Last() const { return First + int(Offsets.size()) - 1; }
    // Length of track First + i in milliseconds; 75 sectors a second.
    int64_t TrackMs(std::size_t i) const;
};

// One entry of a disc's track table.
struct TocTrack {
    int32_t StartSector = 0; // logical sector number
    bool Audio = true;
};

// The MusicBrainz table of contents of a disc whose track table is `tracks` and whose
// lead-out starts at logical sector `leadOut`. Data tracks at the end (the second
// session of an enhanced CD) are left out and the lead-out moves 11400 sectors
// before the first of them (the lead-out, lead-in and pregap between the sessions),
// as MusicBrainz computes it; where the data track starts too early for such a gap
// (one session), the audio ends where it starts. Offsets is empty when no audio
// track is left.
DiscToc MusicBrainzToc(const std::vector<TocTrack>& tracks, int32_t leadOut);

// The disc ID through libdiscid: first track number, the lead-out and the track
// offsets (all with the 150-sector lead-in). Empty when libdiscid refuses the table.
std::string MusicBrainzDiscId(int firstTrack, int leadOut, const std::vector<int>& offsets);
std::string MusicBrainzDiscId(const DiscToc& toc);

// The toc parameter of the web service: "first+last+leadout+offset1+offset2...".
std::string TocQuery(const DiscToc& toc);

} // namespace Metadata
