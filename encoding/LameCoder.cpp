#include "encoding/LameCoder.h"

TLameVersion::TLameVersion() : Record{} {}

TLameCoder::TLameCoder() {
    // A library that cannot report its version leaves the record at zero.
    LameDll().beVersion(&lameVersion_.Record);
}

void TLameCoder::SetMode(TLameMode value) {
    if (value >= STEREO && value <= MONO) {
        mode_ = value;
    }
}

void TLameCoder::SetEnableVBR(LongBool value) {
    enableVBR_ = value;
    writeVBRHeader_ = value;
}

namespace {

// The name with the extension of its last path component replaced by ext.
std::string ChangeFileExt(const std::string& name, const std::string& ext) {
    const auto dot = name.find_last_of('.');
    const auto slash = name.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return name + ext;
    }
    return name.substr(0, dot) + ext;
}

} // namespace

void TLameCoder::SetInputFiles(const std::vector<std::string>& value) {
    inputFiles_ = value;
    outputFiles_.clear();
    for (const auto& name : inputFiles_) {
        outputFiles_.push_back(ChangeFileExt(name, defaultExt_));
    }
}

void TLameCoder::FillEncoderConfig() {
    encoderConfig_ = BE_CONFIG_RECORD{};
    encoderConfig_.kind = BE_CONFIG_KIND;
    encoderConfig_.version = BE_CONFIG_VERSION;
    encoderConfig_.size = BE_CONFIG_SIZE_WRITTEN;
    encoderConfig_.inSampleRate = sampleRate_;
    encoderConfig_.outSampleRate = outSampleRate_;
    encoderConfig_.mode = mode_;
    encoderConfig_.bitrate = bitrate_;
    encoderConfig_.maxBitrate = maxBitrate_;
    encoderConfig_.quality = quality_;
    encoderConfig_.mpegVersion = 1; // MPEG-1
    encoderConfig_.psyModel = 0;
    encoderConfig_.emphasis = 0;
    encoderConfig_.privateBit = private_;
    encoderConfig_.crc = crc_;
    encoderConfig_.copyright = copyright_;
    encoderConfig_.original = original_;
    encoderConfig_.writeVBRHeader = writeVBRHeader_;
    encoderConfig_.enableVBR = enableVBR_;
    encoderConfig_.vbrQuality = vbrQuality_;
    encoderConfig_.inputChannels = inputChannels_;
}

uint32_t TLameCoder::InitStream() {
    FillEncoderConfig();
    return LameDll().beInitStream(&encoderConfig_, &samples_, &bufferSize_, &streamHandle_);
}

uint32_t TLameCoder::EncodeChunk(const int16_t* Input, uint8_t* Output, uint32_t* Count) {
    return LameDll().beEncodeChunk(streamHandle_, samples_, Input, Output, Count);
}

uint32_t TLameCoder::EncodeChunk(const int16_t* Input, uint32_t NumSamples, uint8_t* Output,
                                 uint32_t* Count) {
    return LameDll().beEncodeChunk(streamHandle_, NumSamples, Input, Output, Count);
}

uint32_t TLameCoder::DeinitStream(uint8_t* Output, uint32_t* Count) {
    return LameDll().beDeinitStream(streamHandle_, Output, Count);
}

uint32_t TLameCoder::GetInfoTag(std::vector<uint8_t>& Frame) {
    Frame.assign(bufferSize_, 0);
    uint32_t count = 0;
    uint32_t status = LameDll().beGetInfoTag(streamHandle_, Frame.data(),
                                             static_cast<uint32_t>(Frame.size()), &count);
    if (status == BE_ERR_BUFFER_TOO_SMALL && count > Frame.size()) {
        Frame.assign(count, 0);
        status = LameDll().beGetInfoTag(streamHandle_, Frame.data(), count, &count);
    }
    Frame.resize(status == BE_OK ? count : 0);
    return status;
}

uint32_t TLameCoder::CloseStream() {
    return LameDll().beCloseStream(streamHandle_);
}

void TLameCoder::Assign(const TLamePersistent& Source) {
    const auto* other = dynamic_cast<const TLameCoder*>(&Source);
    if (other == nullptr) {
        throw EAssignError("Cannot assign a " + Source.ClassName() + " to a " + ClassName());
    }
    sampleRate_ = other->sampleRate_;
    bitrate_ = other->bitrate_;
    maxBitrate_ = other->maxBitrate_;
    quality_ = other->quality_;
    private_ = other->private_;
    crc_ = other->crc_;
    mode_ = other->mode_;
    copyright_ = other->copyright_;
    original_ = other->original_;
    writeVBRHeader_ = other->writeVBRHeader_;
    enableVBR_ = other->enableVBR_;
    vbrQuality_ = other->vbrQuality_;
    outSampleRate_ = other->outSampleRate_;
    inputChannels_ = other->inputChannels_;
}
