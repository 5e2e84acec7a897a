#include "ripjob/DiscTracks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int64_t SectorsPerSecond = 75;

} // namespace

int32_t DiscTrack::ShownSectors() const {
    return IsAudio() ? AudioSectors() : std::max(0, LastBeforeGap - FirstSector + 1);
}

const DiscTrack* DiscTracks::Find(int number) const {
    if (number == 0 && Hidden.AudioSectors() > 0) {
        return &Hidden;
    }
    if (number < 1 || number > Count()) {
        return nullptr;
    }
    return &Tracks[static_cast<std::size_t>(number - 1)];
}

int DiscTracks::FirstAudioNumber() const {
    for (const DiscTrack& t : Tracks) {
        if (t.IsAudio()) {
            return t.Number;
        }
    }
    return 0;
}

int DiscTracks::LastAudioNumber() const {
    for (auto t = Tracks.rbegin(); t != Tracks.rend(); ++t) {
        if (t->IsAudio()) {
            return t->Number;
        }
    }
    return 0;
}

DiscTracks BuildDiscTracks(const std::vector<TocEntryFigures>& entries,
                           const TocEntryFigures& leadOut) {
    DiscTracks disc;
    disc.LeadOut = leadOut.Start;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TocEntryFigures& e = entries[i];
        const TocEntryFigures& next = i + 1 < entries.size() ? entries[i + 1] : leadOut;
        DiscTrack t;
        t.Number = static_cast<int>(i + 1);
        t.Kind = e.Audio ? TrackKind::Audio : TrackKind::Data;
        t.FirstSector = e.Start;
        t.LastSector = next.Start - 1;
        t.LastBeforeGap = next.Start - next.Gap - 1;
        t.FirstAudio = e.Start;
        t.LastAudio = e.Audio ? t.LastBeforeGap : e.Start - 1;
        disc.Tracks.push_back(t);
    }
    if (!disc.Tracks.empty() && disc.Tracks[0].IsAudio() && disc.Tracks[0].FirstSector > 0) {
        DiscTrack& h = disc.Hidden;
        h.Number = 0;
        h.FirstSector = h.FirstAudio = 0;
        h.LastSector = h.LastAudio = h.LastBeforeGap = disc.Tracks[0].FirstSector - 1;
    }
    return disc;
}

std::string LengthText(int64_t sectors) {
    const int64_t seconds = std::max<int64_t>(0, sectors) / SectorsPerSecond;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string LengthTextOfSeconds(double seconds) {
    if (!(seconds > 0)) {
        return LengthText(0);
    }
    // Through sectors, so that a length in seconds cuts exactly where one in sectors does.
    return LengthText(static_cast<int64_t>(std::floor(seconds * SectorsPerSecond + 1e-6)));
}
