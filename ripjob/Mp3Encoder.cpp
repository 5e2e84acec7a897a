#include "ripjob/Mp3Encoder.h"

#include "cdaccess/CDRIP.h"
#include "cdaccess/EncodeFeed.h"
#include "encoding/LameCoder.h"
#include "settings/globals.h"

namespace {

class Mp3TrackEncoder : public TrackEncoder {
public:
    explicit Mp3TrackEncoder(const TLameCoder* settings) {
        if (settings != nullptr) {
            Coder = std::make_unique<TLameCoder>();
            Coder->Assign(*settings);
        }
    }
    void Start(OutputFiles::TPartialFile& file, const PcmShape& pcm, uint64_t,
               std::size_t passBytes) override {
        if (!Coder) {
            throw ECDRIPError("Unable to start the MP3 encoder");
        }
        Coder->SetSampleRate(pcm.SampleRate);
        Coder->SetInputChannels(pcm.Channels);
        Feeder.Start(*Coder, file, passBytes);
    }
    void Feed(const uint8_t* data, std::size_t count) override { Feeder.Feed(data, count); }
    bool Flush() override { return !Feeder.StreamOpen() || Feeder.Flush(); }
    void Close() override { Feeder.Close(); }

private:
    std::unique_ptr<TLameCoder> Coder;
    TEncodeFeed Feeder;
};

} // namespace

Mp3Format::Mp3Format(const TLameCoder* settings, const TMP3Settings* log)
    : Settings(settings), Log(log) {}

std::unique_ptr<TrackEncoder> Mp3Format::NewEncoder() const {
    return std::make_unique<Mp3TrackEncoder>(Settings);
}

std::string Mp3Format::StartWrittenAgainBy() const {
    return Settings != nullptr && Settings->WriteVBRHeader() != LongFalse
               ? "an MP3 file with a VBR header"
               : std::string();
}

std::vector<std::pair<std::string, std::string>> Mp3Format::LogSettings() const {
    return Log != nullptr ? Mp3LogSettings(*Log)
                          : std::vector<std::pair<std::string, std::string>>{};
}

std::vector<std::pair<std::string, std::string>> Mp3LogSettings(const TMP3Settings& settings) {
    return {{"MP3 bit rate", std::to_string(settings.BitRates) + " kbit/s"},
            {"MP3 VBR", settings.EnableVBR != 0
                            ? "on, quality " + std::to_string(settings.VBRQuality)
                            : "off"},
            {"MP3 sample rate", std::to_string(settings.SampleRates)}};
}
