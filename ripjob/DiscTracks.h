#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The disc's tracks as one record, built once from the table of contents. Every
// consumer reads where a track starts and ends from here: the range the ripper reads,
// the checksums of the proof, the byte counts of the pipeline, the disc identifiers
// and the lengths the front ends show.
enum class TrackKind { Audio, Data };

struct DiscTrack {
    int Number = 0; // position in the table of contents, from 1
    TrackKind Kind = TrackKind::Audio;
    int32_t FirstSector = 0; // its start in the table of contents
    int32_t LastSector = -1; // the sector before the next entry's start (the lead-out's)
    // The audio its file holds: from its start to the sector before the next entry's
    // gap, because a data track's pregap (150 sectors on an image, 11,400 with the
    // lead-out and lead-in between two sessions) is no audio track's. Empty (LastAudio
    // = FirstAudio - 1) for a data track.
    int32_t FirstAudio = 0;
    int32_t LastAudio = -1;
    // The sector before the next entry's gap, for audio and data tracks alike: the end
    // the track table has always shown.
    int32_t LastBeforeGap = -1;

    bool IsAudio() const { return Kind == TrackKind::Audio; }
    int32_t Sectors() const { return LastSector - FirstSector + 1; }
    int32_t AudioSectors() const {
        return LastAudio >= FirstAudio ? LastAudio - FirstAudio + 1 : 0;
    }
    // What the track list shows as its length: its audio, or a data track's sectors up
    // to the next gap.
    int32_t ShownSectors() const;
};

// One entry of the table of contents as the library gives it.
struct TocEntryFigures {
    int32_t Start = 0;
    uint16_t Gap = 0; // sectors before Start that belong to no audio track
    bool Audio = true;
};

struct DiscTracks {
    std::vector<DiscTrack> Tracks;
    int32_t LeadOut = 0; // the first sector after the last track

    // Track 0: the audio before track 1's start (sectors 0 .. start - 1) when track 1 is
    // audio and starts after sector 0, where some discs hide a track; empty otherwise.
    DiscTrack Hidden;

    int Count() const { return static_cast<int>(Tracks.size()); }
    // Track `number` (from 1; 0: the hidden track, when the disc has one); nullptr when
    // the disc has none of that number.
    const DiscTrack* Find(int number) const;
    // The first and last audio track's numbers; 0 when the disc has no audio track.
    int FirstAudioNumber() const;
    int LastAudioNumber() const;
};

// The record of `entries` (in disc order) ending at the lead-out entry `leadOut`.
DiscTracks BuildDiscTracks(const std::vector<TocEntryFigures>& entries,
                           const TocEntryFigures& leadOut);

// A length of `sectors` as "m:ss": whole seconds, the fraction cut off (75 sectors a
// second), so that 2000 sectors (26.67 s) show as 0:26 wherever a length is shown.
std::string LengthText(int64_t sectors);
// The same for a length in seconds.
std::string LengthTextOfSeconds(double seconds);
