// liblame_enc: the be... calls over libmp3lame's lame.h API.
#include "libs/lame_enc/lame_enc.h"

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

// Version of this library, reported by beVersion.
constexpr uint8_t kDllMajor = 1;
constexpr uint8_t kDllMinor = 0;

// LAME's worst case for one encode call: 1.25 bytes per sample (per channel) plus 7200.
constexpr uint32_t kWorstCaseSlack = 7200;

// The algorithm quality LAME's own default (and the lame command line's) uses.
constexpr int kLameDefaultQuality = 3;
constexpr int kLowQuality = 7;
constexpr int kHighQuality = 2;
constexpr int kVoiceQuality = 5;
constexpr int kVoiceLowpassHz = 12000;

struct LameCloser {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

// One open stream.
struct Stream {
    LamePtr lame;
    uint32_t channels = 2;   // of the PCM handed in
    uint32_t samples = 0;    // most samples one beEncodeChunk call takes, all channels
    uint32_t bufferSize = 0; // output bytes one call may need
    bool flushed = false;
    std::mutex busy; // one call at a time on a stream
};

// Open streams by handle. Handles count up and are never reused, so a closed handle
// stays unknown.
class StreamTable {
public:
    uint32_t add(std::shared_ptr<Stream> stream) {
        std::lock_guard lock(mutex_);
        const uint32_t handle = next_++;
        streams_.emplace(handle, std::move(stream));
        return handle;
    }
    std::shared_ptr<Stream> find(uint32_t handle) {
        std::lock_guard lock(mutex_);
        const auto it = streams_.find(handle);
        return it == streams_.end() ? nullptr : it->second;
    }
    bool remove(uint32_t handle) {
        std::lock_guard lock(mutex_);
        return streams_.erase(handle) != 0;
    }

private:
    std::mutex mutex_;
    std::map<uint32_t, std::shared_ptr<Stream>> streams_;
    uint32_t next_ = 1;
};

StreamTable& streams() {
    static StreamTable table;
    return table;
}

// libmp3lame keeps some tables for the whole process (powers, the logarithm table) and
// fills them again whenever an encoder is set up and when a stream encodes its first
// frame, while every stream reads them whenever it encodes. So a set-up, and the calls
// of a stream that has not put out its first frame, hold the tables alone; every other
// encoding call shares them with the other streams' encoding calls, and a set-up waits
// until those have returned. A set-up that waits goes first: encoding calls that come
// after it wait for it, so that streams encoding without a pause cannot hold it off.
class TableLock {
public:
    void lockShared() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !writing_ && writersWaiting_ == 0; });
        ++readers_;
    }
    void unlockShared() {
        std::lock_guard lock(mutex_);
        if (--readers_ == 0) {
            changed_.notify_all();
        }
    }
    void lock() {
        std::unique_lock lock(mutex_);
        ++writersWaiting_;
        changed_.wait(lock, [this] { return !writing_ && readers_ == 0; });
        --writersWaiting_;
        writing_ = true;
    }
    void unlock() {
        std::lock_guard lock(mutex_);
        writing_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;                // guards readers_, writing_, writersWaiting_
    std::condition_variable changed_; // any of them changed
    int readers_ = 0;                 // encoding calls reading the tables now
    bool writing_ = false;            // a set-up or first frame is writing them now
    int writersWaiting_ = 0;
};

TableLock& sharedTables() {
    static TableLock lock;
    return lock;
}

// The tables for one call of a stream: alone while it has not encoded a frame yet,
// shared after that.
class TablesHeld {
public:
    explicit TablesHeld(lame_global_flags* lame) : alone_(lame_get_frameNum(lame) == 0) {
        if (alone_) {
            sharedTables().lock();
        } else {
            sharedTables().lockShared();
        }
    }
    ~TablesHeld() {
        if (alone_) {
            sharedTables().unlock();
        } else {
            sharedTables().unlockShared();
        }
    }
    TablesHeld(const TablesHeld&) = delete;
    TablesHeld& operator=(const TablesHeld&) = delete;

private:
    const bool alone_;
};

void silent(const char*, va_list) {}

bool isMpegRate(uint32_t rate) {
    static constexpr std::array<uint32_t, 9> rates{8000,  11025, 12000, 16000, 22050,
                                                   24000, 32000, 44100, 48000};
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

// Bitrates (kbit/s) of MPEG-1 layer III, used at 32000 Hz and above.
constexpr std::array<uint32_t, 14> kMpeg1Rates{32,  40,  48,  56,  64,  80,  96,
                                               112, 128, 160, 192, 224, 256, 320};
// Bitrates of MPEG-2 and MPEG-2.5 layer III, used below 32000 Hz.
constexpr std::array<uint32_t, 14> kMpeg2Rates{8,  16, 24, 32,  40,  48,  56,
                                               64, 80, 96, 112, 128, 144, 160};

bool isBitrateFor(uint32_t kbps, uint32_t outRate) {
    const auto& table = outRate >= 32000 ? kMpeg1Rates : kMpeg2Rates;
    return std::find(table.begin(), table.end(), kbps) != table.end();
}

bool isAnyBitrate(uint32_t kbps) {
    return isBitrateFor(kbps, 32000) || isBitrateFor(kbps, 22050);
}

uint32_t inputChannels(const BE_CONFIG_RECORD& config) {
    if (config.inputChannels != 0) {
        return config.inputChannels;
    }
    return config.mode == BE_MODE_MONO ? 1 : 2;
}

// The record's kind, version and size.
bool recordKnown(const BE_CONFIG_RECORD& config) {
    return config.kind == BE_CONFIG_KIND && config.version == BE_CONFIG_VERSION &&
           (config.size == BE_CONFIG_SIZE_WRITTEN || config.size == BE_CONFIG_RECORD_BYTES);
}

// Values checked before LAME sees them; the bitrate against the MPEG version comes later,
// once LAME has chosen the MP3's sample rate.
bool valuesAcceptable(const BE_CONFIG_RECORD& config) {
    const uint32_t channels = inputChannels(config);
    const bool vbr = config.enableVBR != 0;
    return config.inSampleRate >= 8000 && config.inSampleRate <= 192000 &&
           (config.outSampleRate == 0 || isMpegRate(config.outSampleRate)) &&
           config.mode >= BE_MODE_STEREO && config.mode <= BE_MODE_MONO &&
           config.quality >= BE_QUALITY_NORMAL && config.quality <= BE_QUALITY_VOICE &&
           (config.emphasis == 0 || config.emphasis == 1 || config.emphasis == 3) &&
           (channels == 1 || channels == 2) && isAnyBitrate(config.bitrate) &&
           (!vbr ||
            (isAnyBitrate(config.maxBitrate) && config.vbrQuality >= 0 && config.vbrQuality <= 9));
}

MPEG_mode lameMode(int32_t mode) {
    switch (mode) {
    case BE_MODE_JOINT_STEREO:
        return JOINT_STEREO;
    case BE_MODE_DUAL_CHANNEL:
        return DUAL_CHANNEL;
    case BE_MODE_MONO:
        return MONO;
    default:
        return STEREO;
    }
}

void applyQuality(lame_global_flags* lame, int32_t quality) {
    switch (quality) {
    case BE_QUALITY_LOW:
        lame_set_quality(lame, kLowQuality);
        break;
    case BE_QUALITY_HIGH:
        lame_set_quality(lame, kHighQuality);
        break;
    case BE_QUALITY_VOICE:
        lame_set_quality(lame, kVoiceQuality);
        lame_set_lowpassfreq(lame, kVoiceLowpassHz);
        break;
    default:
        lame_set_quality(lame, kLameDefaultQuality);
        break;
    }
}

void applyBitrate(lame_global_flags* lame, const BE_CONFIG_RECORD& config) {
    if (config.enableVBR == 0) {
        lame_set_VBR(lame, vbr_off);
        lame_set_brate(lame, static_cast<int>(config.bitrate));
        return;
    }
    // A maximum below the minimum is raised to it. LAME maps both bounds into the range
    // of the MPEG version it encodes.
    const uint32_t maxKbps = std::max(config.bitrate, config.maxBitrate);
    lame_set_VBR(lame, vbr_default);
    lame_set_VBR_q(lame, config.vbrQuality);
    lame_set_VBR_min_bitrate_kbps(lame, static_cast<int>(config.bitrate));
    lame_set_VBR_max_bitrate_kbps(lame, static_cast<int>(maxKbps));
}

void configure(lame_global_flags* lame, const BE_CONFIG_RECORD& config) {
    lame_set_errorf(lame, silent);
    lame_set_debugf(lame, silent);
    lame_set_msgf(lame, silent);
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_in_samplerate(lame, static_cast<int>(config.inSampleRate));
    lame_set_out_samplerate(lame, static_cast<int>(config.outSampleRate));
    lame_set_num_channels(lame, static_cast<int>(inputChannels(config)));
    lame_set_mode(lame, lameMode(config.mode));
    applyQuality(lame, config.quality);
    applyBitrate(lame, config);
    lame_set_emphasis(lame, static_cast<int>(config.emphasis));
    lame_set_extension(lame, config.privateBit != 0);
    lame_set_error_protection(lame, config.crc != 0);
    lame_set_copyright(lame, config.copyright != 0);
    lame_set_original(lame, config.original != 0);
    lame_set_bWriteVbrTag(lame, config.writeVBRHeader != 0);
}

// Input samples per channel that make one MPEG frame of the MP3.
uint32_t frameInputSamples(lame_global_flags* lame, uint32_t inRate) {
    const uint64_t frame = static_cast<uint64_t>(lame_get_framesize(lame));
    const uint64_t outRate = static_cast<uint64_t>(lame_get_out_samplerate(lame));
    return static_cast<uint32_t>((frame * inRate + outRate - 1) / outRate);
}

// Output buffer for `perChannel` input samples per channel, also covering the flush
// and the info tag frame.
uint32_t worstCaseBytes(lame_global_flags* lame, uint32_t perChannel, uint32_t inRate) {
    const uint64_t outRate = static_cast<uint64_t>(lame_get_out_samplerate(lame));
    // More output samples than input ones when LAME raises the rate.
    const uint64_t outSamples = std::max<uint64_t>(perChannel, perChannel * outRate / inRate + 1);
    return static_cast<uint32_t>(outSamples + outSamples / 4 + kWorstCaseSlack);
}

void copyText(char* target, size_t size, const char* text) {
    if (text != nullptr) {
        std::strncpy(target, text, size - 1);
    }
}

} // namespace

uint32_t beVersion(BE_VERSION_RECORD* version) {
    if (version == nullptr) {
        return BE_ERR_NULL_POINTER;
    }
    std::memset(version, 0, sizeof(*version));
    lame_version_t lame{};
    get_lame_version_numerical(&lame);
    version->dllMajorVersion = kDllMajor;
    version->dllMinorVersion = kDllMinor;
    version->majorVersion = static_cast<uint8_t>(lame.major);
    version->minorVersion = static_cast<uint8_t>(lame.minor);
    copyText(version->engineVersion, sizeof(version->engineVersion), get_lame_version());
    copyText(version->homePage, sizeof(version->homePage), get_lame_url());
    return BE_OK;
}

uint32_t beInitStream(const BE_CONFIG_RECORD* config, uint32_t* samples, uint32_t* bufferSize,
                      uint32_t* stream) {
    if (config == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr) {
        return BE_ERR_NULL_POINTER;
    }
    if (!recordKnown(*config)) {
        return BE_ERR_BAD_RECORD;
    }
    if (!valuesAcceptable(*config)) {
        return BE_ERR_BAD_PARAMETER;
    }
    auto state = std::make_shared<Stream>();
    std::unique_lock setup(sharedTables());
    state->lame.reset(lame_init());
    if (!state->lame) {
        return BE_ERR_NO_MEMORY;
    }
    lame_global_flags* lame = state->lame.get();
    configure(lame, *config);
    if (lame_init_params(lame) < 0) {
        return BE_ERR_BAD_PARAMETER;
    }
    setup.unlock();
    const auto outRate = static_cast<uint32_t>(lame_get_out_samplerate(lame));
    if (config->enableVBR == 0 && !isBitrateFor(config->bitrate, outRate)) {
        return BE_ERR_BAD_PARAMETER;
    }
    state->channels = inputChannels(*config);
    const uint32_t perChannel = frameInputSamples(lame, config->inSampleRate);
    state->samples = perChannel * state->channels;
    state->bufferSize = worstCaseBytes(lame, perChannel, config->inSampleRate);
    *samples = state->samples;
    *bufferSize = state->bufferSize;
    *stream = streams().add(std::move(state));
    return BE_OK;
}

uint32_t beEncodeChunk(uint32_t stream, uint32_t nSamples, const int16_t* input, uint8_t* output,
                       uint32_t* outputBytes) {
    const auto state = streams().find(stream);
    if (!state) {
        return BE_ERR_BAD_HANDLE;
    }
    if ((input == nullptr && nSamples != 0) || output == nullptr || outputBytes == nullptr) {
        return BE_ERR_NULL_POINTER;
    }
    std::lock_guard lock(state->busy);
    if (state->flushed) {
        return BE_ERR_OUT_OF_ORDER;
    }
    if (nSamples > state->samples || nSamples % state->channels != 0) {
        return BE_ERR_BAD_PARAMETER;
    }
    const int perChannel = static_cast<int>(nSamples / state->channels);
    const int size = static_cast<int>(state->bufferSize);
    const TablesHeld tables(state->lame.get());
    int written = 0;
    if (perChannel == 0) {
        written = 0;
    } else if (state->channels == 2) {
        // LAME takes the interleaved buffer without const but only reads it.
        written = lame_encode_buffer_interleaved(state->lame.get(), const_cast<int16_t*>(input),
                                                 perChannel, output, size);
    } else {
        written = lame_encode_buffer(state->lame.get(), input, input, perChannel, output, size);
    }
    if (written < 0) {
        return BE_ERR_ENCODER;
    }
    *outputBytes = static_cast<uint32_t>(written);
    return BE_OK;
}

uint32_t beDeinitStream(uint32_t stream, uint8_t* output, uint32_t* outputBytes) {
    const auto state = streams().find(stream);
    if (!state) {
        return BE_ERR_BAD_HANDLE;
    }
    if (output == nullptr || outputBytes == nullptr) {
        return BE_ERR_NULL_POINTER;
    }
    std::lock_guard lock(state->busy);
    if (state->flushed) {
        return BE_ERR_OUT_OF_ORDER;
    }
    const TablesHeld tables(state->lame.get());
    const int written =
        lame_encode_flush(state->lame.get(), output, static_cast<int>(state->bufferSize));
    state->flushed = true;
    if (written < 0) {
        return BE_ERR_ENCODER;
    }
    *outputBytes = static_cast<uint32_t>(written);
    return BE_OK;
}

uint32_t beGetInfoTag(uint32_t stream, uint8_t* output, uint32_t outputSize,
                      uint32_t* outputBytes) {
    const auto state = streams().find(stream);
    if (!state) {
        return BE_ERR_BAD_HANDLE;
    }
    if (output == nullptr || outputBytes == nullptr) {
        return BE_ERR_NULL_POINTER;
    }
    std::lock_guard lock(state->busy);
    if (!state->flushed) {
        return BE_ERR_OUT_OF_ORDER;
    }
    const TablesHeld tables(state->lame.get());
    const size_t needed = lame_get_lametag_frame(state->lame.get(), output, outputSize);
    *outputBytes = static_cast<uint32_t>(needed);
    return needed > outputSize ? BE_ERR_BUFFER_TOO_SMALL : BE_OK;
}

uint32_t beCloseStream(uint32_t stream) {
    return streams().remove(stream) ? BE_OK : BE_ERR_BAD_HANDLE;
}
