#include "metadata/DiscId.h"

#include <discid/discid.h>

#include <memory>

namespace Metadata {

namespace {

constexpr int LeadIn = 150;       // two seconds before logical sector 0
constexpr int SessionGap = 11400; // lead-out, lead-in and pregap between two sessions
constexpr std::size_t MaxTracks = 99;

struct DiscIdCloser {
    void operator()(DiscId* d) const { discid_free(d); }
};

} // namespace

int64_t DiscToc::TrackMs(std::size_t i) const {
    if (i >= Offsets.size())
        return 0;
    const int end = i + 1 < Offsets.size() ? Offsets[i + 1] : LeadOut;
    return int64_t(end - Offsets[i]) * 1000 / 75;
}

DiscToc MusicBrainzToc(const std::vector<TocTrack>& tracks, int32_t leadOut) {
    std::size_t audioEnd = tracks.size();
    while (audioEnd > 0 && !tracks[audioEnd - 1].Audio)
        --audioEnd;
    DiscToc toc;
    if (audioEnd == 0)
        return toc;
    int32_t audioLeadOut = leadOut;
    if (audioEnd < tracks.size()) {
        // A data track in the same session as the audio (no room for the gap) ends the
        // audio where it starts.
        const int32_t dataStart = tracks[audioEnd].StartSector;
        audioLeadOut = dataStart - SessionGap > tracks[audioEnd - 1].StartSector
                           ? dataStart - SessionGap
                           : dataStart;
    }
    toc.LeadOut = audioLeadOut + LeadIn;
    for (std::size_t i = 0; i < audioEnd; ++i)
        toc.Offsets.push_back(tracks[i].StartSector + LeadIn);
    return toc;
}

std::string MusicBrainzDiscId(int firstTrack, int leadOut, const std::vector<int>& offsets) {
    if (offsets.empty() || offsets.size() > MaxTracks || firstTrack < 1 ||
        firstTrack + int(offsets.size()) - 1 > int(MaxTracks))
        return {};
    int table[MaxTracks + 1] = {};
    table[0] = leadOut;
    for (std::size_t i = 0; i < offsets.size(); ++i)
        table[std::size_t(firstTrack) + i] = offsets[i];
    std::unique_ptr<DiscId, DiscIdCloser> disc(discid_new());
    if (!disc)
        return {};
    const int last = firstTrack + int(offsets.size()) - 1;
    if (!discid_put(disc.get(), firstTrack, last, table))
        return {};
    const char* id = discid_get_id(disc.get());
    return id ? id : "";
}

std::string MusicBrainzDiscId(const DiscToc& toc) {
    return MusicBrainzDiscId(toc.First, toc.LeadOut, toc.Offsets);
}

std::string TocQuery(const DiscToc& toc) {
    std::string q = std::to_string(toc.First) + "+" + std::to_string(toc.Last()) + "+" +
                    std::to_string(toc.LeadOut);
    for (int offset : toc.Offsets)
        q += "+" + std::to_string(offset);
    return q;
}

} // namespace Metadata
