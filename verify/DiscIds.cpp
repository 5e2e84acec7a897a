#include "verify/DiscIds.h"

#include "metadata/DiscId.h"

#include <cstdio>

namespace {

int DigitSum(int32_t n) {
    int sum = 0;
    for (; n > 0; n /= 10) {
        sum += n % 10;
    }
    return sum;
}

} // namespace

int DiscToc::AudioCount() const {
    int n = 0;
    for (const Entry& e : Tracks) {
        n += e.Audio ? 1 : 0;
    }
    return n;
}

std::string Hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

uint32_t CddbDiscId(const DiscToc& toc) {
    if (toc.Tracks.empty()) {
        return 0;
    }
    uint32_t sum = 0;
    for (const DiscToc::Entry& e : toc.Tracks) {
        sum += static_cast<uint32_t>(DigitSum((e.Start + kLeadInSectors) / 75));
    }
    const int32_t seconds =
        (toc.LeadOut + kLeadInSectors) / 75 - (toc.Tracks.front().Start + kLeadInSectors) / 75;
    return (sum % 255) << 24 | (static_cast<uint32_t>(seconds) & 0xffff) << 8 |
           (static_cast<uint32_t>(toc.Tracks.size()) & 0xff);
}

AccurateRipIds AccurateRipDiscIds(const DiscToc& toc) {
    AccurateRipIds ids;
    uint32_t number = 0;
    for (const DiscToc::Entry& e : toc.Tracks) {
        if (!e.Audio) {
            continue;
        }
        ++number;
        const auto start = static_cast<uint32_t>(e.Start);
        ids.Id1 += start;
        ids.Id2 += (start > 0 ? start : 1) * number;
    }
    const auto leadOut = static_cast<uint32_t>(toc.LeadOut);
    ids.Id1 += leadOut;
    ids.Id2 += (leadOut > 0 ? leadOut : 1) * (number + 1);
    ids.AudioTracks = static_cast<int>(number);
    ids.Cddb = CddbDiscId(toc);
    return ids;
}

std::string AccurateRipIds::Text() const {
    char text[40];
    std::snprintf(text, sizeof text, "%03d-%08x-%08x-%08x", AudioTracks, Id1, Id2, Cddb);
    return text;
}

std::string MusicBrainzDiscId(const DiscToc& toc) {
    // The rule for a data track after the audio lives with the look-up that uses it.
    std::vector<Metadata::TocTrack> tracks;
    for (const DiscToc::Entry& e : toc.Tracks) {
        tracks.push_back({e.Start, e.Audio});
    }
    return Metadata::MusicBrainzDiscId(Metadata::MusicBrainzToc(tracks, toc.LeadOut));
}
