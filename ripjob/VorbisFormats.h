#pragma once

#include "encoding/ReplayGain.h"
#include "encoding/TagUpdate.h"
#include "metadata/Id3v2Tag.h"
#include "ripjob/RipJob.h"
#include "ripjob/TrackEncoder.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TMP3Settings;

// FLAC and Opus for the rip job, and ReplayGain 2 for every encoded format: each track's
// loudness is measured from the same PCM as it is encoded (the format's TrackObserver,
// fed by the track's encoder worker or by one that has no track to encode); the track's
// gain goes into its file before the file takes its name, the album's into the files of
// the job when it ends (AlbumGainStep).

// What the encoders of one job share.
class FormatJobState {
public:
    // The tags of each track, by track number; filled before the job runs and not
    // changed while it runs, so that encoder threads may read it.
    std::map<int, Metadata::TagFields> Fields;
    // ReplayGain on (the settings' ReplayGain).
    bool ReplayGain = true;

    // The measurement of a track read whole.
    void Measured(int number, Encoding::TLoudnessMeter meter);
    // The track's loudness; not valid when it was not measured whole.
    Encoding::TLoudness TrackLoudness(int number) const;
    // The tracks of `numbers` that were measured, together.
    Encoding::TLoudness AlbumLoudness(const std::vector<int>& numbers) const;

private:
    mutable std::mutex Mutex; // guards Meters
    std::map<int, Encoding::TLoudnessMeter> Meters;
};

enum class VorbisKind { Flac, Opus };

// FLAC (libFLAC, verify mode, the settings' compression level) or Opus (libopusenc, the
// settings' bit rate, VBR): the track's tags and cover are written with its first bytes.
class VorbisFormat : public EncoderFormat {
public:
    // `settings` is read once here; `state` is shared with the job's end step.
    VorbisFormat(VorbisKind kind, const TMP3Settings& settings,
                 std::shared_ptr<FormatJobState> state);
    std::string Name() const override { return Kind == VorbisKind::Flac ? "flac" : "opus"; }
    std::string Extension() const override { return Kind == VorbisKind::Flac ? ".flac" : ".opus"; }
    std::unique_ptr<TrackEncoder> NewEncoder() const override;
    std::unique_ptr<TrackObserver> NewObserver() const override;
    std::vector<std::pair<std::string, std::string>> LogSettings() const override;
    // FLAC's STREAMINFO and seek table are completed when the track ends, and so are
    // Opus's tags when they carry the track's gain.
    std::string StartWrittenAgainBy() const override {
        return Kind == VorbisKind::Flac ? "a FLAC file"
               : ReplayGain             ? "an Opus file with ReplayGain"
                                        : "";
    }
    // The values of the settings the encoder could not take, one line each.
    const std::vector<std::string>& Notes() const { return SettingNotes; }

private:
    VorbisKind Kind;
    int32_t Level = 8;
    int32_t StereoKbps = 160;
    int32_t MonoKbps = 160;
    bool ReplayGain = true;
    std::vector<std::string> SettingNotes;
    std::shared_ptr<FormatJobState> State;
};

// Any encoded format with its loudness measured: the encoder of `inner`, and the meter
// beside it fed the same PCM (for MP3, whose gain TXXX frames MeteredTagStep writes).
class MeteredFormat : public EncoderFormat {
public:
    MeteredFormat(const EncoderFormat& inner, std::shared_ptr<FormatJobState> state);
    std::string Name() const override { return Inner.Name(); }
    std::string Extension() const override { return Inner.Extension(); }
    std::unique_ptr<TrackEncoder> NewEncoder() const override;
    std::unique_ptr<TrackObserver> NewObserver() const override;
    std::vector<std::pair<std::string, std::string>> LogSettings() const override;
    std::string StartWrittenAgainBy() const override { return Inner.StartWrittenAgainBy(); }

private:
    const EncoderFormat& Inner;
    std::shared_ptr<FormatJobState> State;
};

// The MP3 tag step followed by the track's gain as TXXX frames (REPLAYGAIN_TRACK_GAIN,
// REPLAYGAIN_TRACK_PEAK) in its ID3v2 tag.
class MeteredTagStep : public TagStep {
public:
    MeteredTagStep(std::shared_ptr<const TagStep> inner, std::shared_ptr<FormatJobState> state);
    bool Write(const std::string& path, const JobTrack& track, std::string* error) const override;

private:
    std::shared_ptr<const TagStep> Inner;
    std::shared_ptr<FormatJobState> State;
};

// The album's gain and peak, when the job ends, in every file of the job that was written
// whole: a new copy of the file with the album's tags beside it (a hidden .partial- file)
// renamed over it, so that a failure leaves the file as it was. The log's settings say
// what was written ("ReplayGain album gain").
class AlbumGainStep : public JobEndStep {
public:
    enum class Target { Mp3, Flac, Opus };
    AlbumGainStep(Target target, std::shared_ptr<FormatJobState> state);
    void Run(RipJob& job) override;

private:
    bool Update(const std::string& file, const Encoding::TVorbisComments& tags,
                std::string* error) const;

    Target What;
    std::shared_ptr<FormatJobState> State;
};
