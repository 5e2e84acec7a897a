#include "verify/DiscIds.h"

#include <discid/discid.h>

#include <cstdio>

namespace {

int DigitSum(int32_t n) {
    int sum = 0;
    for (; n > 0; n /= 10) {
        sum += n % 10;
    }
    return sum;
}

struct DiscIdHandle {
    DiscId* Handle = discid_new();
    DiscIdHandle() = default;
    DiscIdHandle(const DiscIdHandle&) = delete;
    DiscIdHandle& operator=(const DiscIdHandle&) = delete;
    ~DiscIdHandle() {
        if (Handle != nullptr) {
            discid_free(Handle);
        }
    }
};

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
    // Trailing data tracks (a second session) are left out; every track before the
    // last audio track counts.
    int last = 0;
    for (std::size_t i = 0; i < toc.Tracks.size() && i < 99; ++i) {
        if (toc.Tracks[i].Audio) {
            last = static_cast<int>(i) + 1;
        }
    }
    if (last == 0) {
        return {};
    }
    // offsets[0] is the lead-out, offsets[i] track i's start, both from the disc start.
    int offsets[100] = {};
    for (int n = 1; n <= last; ++n) {
        offsets[n] = toc.Tracks[static_cast<std::size_t>(n - 1)].Start + kLeadInSectors;
    }
    // A data track after the audio starts a second session: the audio session ends
    // kSessionGapSectors before it. An image that puts the data track right after the
    // audio, with no room for that gap, ends the audio where the data starts.
    int32_t end = toc.LeadOut;
    if (static_cast<std::size_t>(last) < toc.Tracks.size()) {
        const int32_t data = toc.Tracks[static_cast<std::size_t>(last)].Start;
        const int32_t lastStart = toc.Tracks[static_cast<std::size_t>(last - 1)].Start;
        end = data - kSessionGapSectors > lastStart ? data - kSessionGapSectors : data;
    }
    offsets[0] = end + kLeadInSectors;
    DiscIdHandle disc;
    if (disc.Handle == nullptr || discid_put(disc.Handle, 1, last, offsets) == 0) {
        return {};
    }
    return discid_get_id(disc.Handle);
}
