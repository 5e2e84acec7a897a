// TLameCoder: the MP3 encoder component. Holds the MP3 settings, turns them into
// the encoder library's configuration record and runs one encoder stream at a time
// for the ripper.
#pragma once

#include "encoding/Lame_dll.h"

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// Quality presets, by position.
enum MPEG_QUALITY : int32_t { NORMAL_QUALITY, LOW_QUALITY, HIGH_QUALITY, VOICE_QUALITY };

// Channel modes of the MP3, by position.
enum TLameMode : int32_t { STEREO, JSTEREO, DUALCHANNEL, MONO };

// Raised by Assign for a source it cannot copy from.
class EAssignError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What Assign takes: an object that names its class.
class TLamePersistent {
public:
    virtual ~TLamePersistent() = default;
    virtual std::string ClassName() const = 0;
};

// The encoder library's version record (268 bytes); bytes 0 to 3 are published.
class TLameVersion : public TLamePersistent {
public:
    TLameVersion();
    std::string ClassName() const override { return "TLameVersion"; }

    uint8_t DLLMajorVersion() const { return Record.dllMajorVersion; }
    uint8_t DLLMinorVersion() const { return Record.dllMinorVersion; }
    uint8_t MajorVersion() const { return Record.majorVersion; }
    uint8_t MinorVersion() const { return Record.minorVersion; }

    BE_VERSION_RECORD Record;
};

class TLameCoder : public TLamePersistent {
public:
    using TNotifyEvent = std::function<void(TLameCoder* Sender)>;
    using TProcessFileEvent =
        std::function<void(TLameCoder* Sender, uint16_t Num, const std::string& FileName)>;
    using TProgressEvent = std::function<void(TLameCoder* Sender, uint16_t PercentComplete)>;

    // Sets the defaults and fills LameVersion through beVersion.
    TLameCoder();
    std::string ClassName() const override { return "TLameCoder"; }

    // Published properties.
    uint32_t SampleRate() const { return sampleRate_; }
    void SetSampleRate(uint32_t value) { sampleRate_ = value; }
    uint32_t Bitrate() const { return bitrate_; }
    void SetBitrate(uint32_t value) { bitrate_ = value; }
    uint32_t MaxBitrate() const { return maxBitrate_; }
    void SetMaxBitrate(uint32_t value) { maxBitrate_ = value; }
    MPEG_QUALITY Quality() const { return quality_; }
    void SetQuality(MPEG_QUALITY value) { quality_ = value; }
    LongBool Private() const { return private_; }
    void SetPrivate(LongBool value) { private_ = value; }
    LongBool CRC() const { return crc_; }
    void SetCRC(LongBool value) { crc_ = value; }
    // A position outside the four modes is ignored.
    TLameMode Mode() const { return mode_; }
    void SetMode(TLameMode value);
    LongBool Copyright() const { return copyright_; }
    void SetCopyright(LongBool value) { copyright_ = value; }
    LongBool Original() const { return original_; }
    void SetOriginal(LongBool value) { original_ = value; }
    LongBool WriteVBRHeader() const { return writeVBRHeader_; }
    void SetWriteVBRHeader(LongBool value) { writeVBRHeader_ = value; }
    // Also sets WriteVBRHeader to the same value.
    LongBool EnableVBR() const { return enableVBR_; }
    void SetEnableVBR(LongBool value);
    int32_t VBRQuality() const { return vbrQuality_; }
    void SetVBRQuality(int32_t value) { vbrQuality_ = value; }
    // Rebuilds OutputFiles: each input name with its extension replaced by DefaultExt.
    const std::vector<std::string>& InputFiles() const { return inputFiles_; }
    void SetInputFiles(const std::vector<std::string>& value);
    const std::vector<std::string>& OutputFiles() const { return outputFiles_; }
    void SetOutputFiles(const std::vector<std::string>& value) { outputFiles_ = value; }
    const TLameVersion& LameVersion() const { return lameVersion_; }
    const std::string& DefaultExt() const { return defaultExt_; }
    void SetDefaultExt(const std::string& value) { defaultExt_ = value; }
    const std::string& Mp3FileName() const { return mp3FileName_; }
    void SetMp3FileName(const std::string& value) { mp3FileName_ = value; }

    // Properties of ours: the MP3's sample rate (0 lets the library choose) and the
    // channels of the PCM handed in (0: 1 when Mode is MONO, else 2).
    uint32_t OutSampleRate() const { return outSampleRate_; }
    void SetOutSampleRate(uint32_t value) { outSampleRate_ = value; }
    uint32_t InputChannels() const { return inputChannels_; }
    void SetInputChannels(uint32_t value) { inputChannels_ = value; }

    // Events; nothing in the program fires them.
    TNotifyEvent OnBeginProcess;
    TProcessFileEvent OnBeginFile;
    TProcessFileEvent OnEndFile;
    TNotifyEvent OnEndProcess;
    TProgressEvent OnProgress;

    // Stream state, set by InitStream.
    uint32_t StreamHandle() const { return streamHandle_; }
    uint32_t Samples() const { return samples_; }
    uint32_t BufferSize() const { return bufferSize_; }
    // The configuration record as the last InitStream filled it.
    const BE_CONFIG_RECORD& EncoderConfig() const { return encoderConfig_; }

    // Fills EncoderConfig and opens a stream; returns the library's status.
    uint32_t InitStream();
    // Encodes Samples() samples from Input; Output holds BufferSize() bytes.
    uint32_t EncodeChunk(const int16_t* Input, uint8_t* Output, uint32_t* Count);
    // Ours: encodes a shorter last piece of NumSamples samples (at most Samples(), whole
    // sample frames), so that the end of a stream is not cut off.
    uint32_t EncodeChunk(const int16_t* Input, uint32_t NumSamples, uint8_t* Output,
                         uint32_t* Count);
    // The stream's last MP3 bytes.
    uint32_t DeinitStream(uint8_t* Output, uint32_t* Count);
    // Ours: after DeinitStream, the final VBR header frame that replaces the first frame
    // of the stream's output (empty when no VBR header was asked for).
    uint32_t GetInfoTag(std::vector<uint8_t>& Frame);
    uint32_t CloseStream();

    // Copies the encoding settings (SampleRate to VBRQuality, OutSampleRate and
    // InputChannels) of another TLameCoder; any other source raises EAssignError
    // "Cannot assign a <source class> to a TLameCoder".
    void Assign(const TLamePersistent& Source);

private:
    void FillEncoderConfig();

    uint32_t sampleRate_ = 44100;
    uint32_t bitrate_ = 128;
    uint32_t maxBitrate_ = 320;
    MPEG_QUALITY quality_ = NORMAL_QUALITY;
    LongBool private_ = LongFalse;
    LongBool crc_ = LongTrue;
    TLameMode mode_ = STEREO;
    LongBool copyright_ = LongFalse;
    LongBool original_ = LongFalse;
    LongBool writeVBRHeader_ = LongFalse;
    LongBool enableVBR_ = LongFalse;
    int32_t vbrQuality_ = 4;
    std::vector<std::string> inputFiles_;
    std::vector<std::string> outputFiles_;
    TLameVersion lameVersion_;
    std::string defaultExt_ = ".mp3";
    std::string mp3FileName_;
    uint32_t outSampleRate_ = 0;
    uint32_t inputChannels_ = 0;

    uint32_t streamHandle_ = 0;
    uint32_t samples_ = 0;
    uint32_t bufferSize_ = 0;
    BE_CONFIG_RECORD encoderConfig_{};
};
