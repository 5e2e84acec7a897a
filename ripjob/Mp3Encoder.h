#pragma once

#include "ripjob/TrackEncoder.h"

class TLameCoder;
struct TMP3Settings;

// MP3 through the encoder component: each encoder has a TLameCoder of its own with the
// settings copied (TLameCoder::Assign) from the one given, and writes through a
// TEncodeFeed, so that the same PCM gives the same bytes as TCDRIP::RipTrack writes.
class Mp3Format : public EncoderFormat {
public:
    // `settings` must outlive the format; nullptr: no encoder, every track fails with
    // "Unable to start the MP3 encoder". `log` (may be nullptr) names the settings in
    // the log.
    Mp3Format(const TLameCoder* settings, const TMP3Settings* log);
    std::string Name() const override { return "mp3"; }
    std::string Extension() const override { return ".mp3"; }
    std::unique_ptr<TrackEncoder> NewEncoder() const override;
    std::vector<std::pair<std::string, std::string>> LogSettings() const override;
    // Written again when the VBR header frame is (it is completed when the track ends).
    std::string StartWrittenAgainBy() const override;

private:
    const TLameCoder* Settings;
    const TMP3Settings* Log;
};

// The MP3 settings as the log names them: bit rate, VBR and sample rate.
std::vector<std::pair<std::string, std::string>> Mp3LogSettings(const TMP3Settings& settings);
