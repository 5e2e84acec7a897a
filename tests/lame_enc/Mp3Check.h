// Independent readers for the encoder tests: an MPEG audio frame header parser, a
// "Xing"/"Info" tag reader and a libmpg123 decoder.
#pragma once

#include <mpg123.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace mp3check {

struct FrameHeader {
    int version = 0; // 1 (MPEG-1) or 2 (MPEG-2 and 2.5)
    int kbps = 0;
    int rate = 0;
    bool crc = false;
    bool privateBit = false;
    int mode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    bool copyright = false;
    bool original = false;
    int emphasis = 0;
    size_t length = 0;
};

// Parses the layer III frame header at p; false when there is none.
inline bool ParseHeader(const uint8_t* p, size_t available, FrameHeader& h) {
    static const int kMpeg1Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                       112, 128, 160, 192, 224, 256, 320, -1};
    static const int kMpeg2Kbps[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                       64, 80, 96, 112, 128, 144, 160, -1};
    static const int kRates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    if (available < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || ((p[1] >> 1) & 3) != 1) {
        return false;
    }
    const int versionBits = (p[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15) {
        return false;
    }
    h.version = versionBits == 3 ? 1 : 2;
    h.kbps = h.version == 1 ? kMpeg1Kbps[bitrateIndex] : kMpeg2Kbps[bitrateIndex];
    h.rate = kRates[versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2][rateIndex];
    h.crc = (p[1] & 1) == 0;
    h.privateBit = (p[2] & 1) != 0;
    h.mode = p[3] >> 6;
    h.copyright = ((p[3] >> 3) & 1) != 0;
    h.original = ((p[3] >> 2) & 1) != 0;
    h.emphasis = p[3] & 3;
    const int padding = (p[2] >> 1) & 1;
    // 1152 samples a frame in MPEG-1, 576 in MPEG-2: 144 or 72 bytes per kbit/s per kHz.
    const int factor = h.version == 1 ? 144000 : 72000;
    h.length = static_cast<size_t>(factor * h.kbps / h.rate + padding);
    return true;
}

// All frames of a stream that holds nothing but frames; empty when a gap or junk shows up.
inline std::vector<FrameHeader> Frames(const std::vector<uint8_t>& mp3) {
    std::vector<FrameHeader> frames;
    size_t at = 0;
    while (at < mp3.size()) {
        FrameHeader h;
        if (!ParseHeader(mp3.data() + at, mp3.size() - at, h) || at + h.length > mp3.size()) {
            return {};
        }
        frames.push_back(h);
        at += h.length;
    }
    return frames;
}

struct InfoTag {
    std::string id; // "Xing", "Info" or empty when the first frame holds no tag
    bool hasFrames = false;
    uint32_t frames = 0;
    bool hasBytes = false;
    uint32_t bytes = 0;
    bool hasQuality = false;
    uint32_t quality = 0;   // LAME writes 100 - 10 * VBR quality - algorithm quality
    std::string encoder;    // the encoder's short name of the LAME extension, "LAME3.100"
    uint32_t lowpassHz = 0; // the LAME extension's low-pass, stored in units of 100 Hz
};

inline uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The tag in the first frame, found where the side information ends.
inline InfoTag ReadInfoTag(const std::vector<uint8_t>& mp3) {
    InfoTag tag;
    FrameHeader h;
    if (!ParseHeader(mp3.data(), mp3.size(), h)) {
        return tag;
    }
    const bool mono = h.mode == 3;
    // Side information: MPEG-1 32 bytes (17 mono), MPEG-2 17 bytes (9 mono).
    const size_t side = h.version == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    // The tag sits right after the side information's place even in a frame flagged with
    // CRC: LAME writes it there and decoders look for it there.
    const size_t at = 4 + side;
    if (at + 16 > h.length || at + 16 > mp3.size()) {
        return tag;
    }
    const std::string id(reinterpret_cast<const char*>(mp3.data() + at), 4);
    if (id != "Xing" && id != "Info") {
        return tag;
    }
    tag.id = id;
    const uint32_t flags = BigEndian32(mp3.data() + at + 4);
    size_t field = at + 8;
    if ((flags & 1) != 0) {
        tag.hasFrames = true;
        tag.frames = BigEndian32(mp3.data() + field);
        field += 4;
    }
    if ((flags & 2) != 0) {
        tag.hasBytes = true;
        tag.bytes = BigEndian32(mp3.data() + field);
        field += 4;
    }
    if ((flags & 4) != 0) {
        field += 100; // the seek table
    }
    if ((flags & 8) != 0 && field + 4 <= mp3.size()) {
        tag.hasQuality = true;
        tag.quality = BigEndian32(mp3.data() + field);
        field += 4;
    }
    // The LAME extension: 9 bytes of encoder name, a byte of revision and VBR method,
    // then the low-pass.
    if (field + 11 <= h.length && field + 11 <= mp3.size()) {
        tag.encoder.assign(reinterpret_cast<const char*>(mp3.data() + field), 9);
        if (tag.encoder.rfind("LAME", 0) == 0) {
            tag.lowpassHz = uint32_t{mp3[field + 10]} * 100;
        }
    }
    return tag;
}

struct Decoded {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> pcm; // interleaved
    size_t Frames() const { return channels == 0 ? 0 : pcm.size() / channels; }
};

// Decodes a whole MP3 held in memory with libmpg123, 16-bit output at the stream's own rate.
inline Decoded Decode(const std::vector<uint8_t>& mp3) {
    Decoded out;
    mpg123_init();
    int error = MPG123_OK;
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, &error),
                                                                    mpg123_delete);
    if (!handle) {
        return out;
    }
    mpg123_handle* mh = handle.get();
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(mh);
    for (const long rate :
         {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L}) {
        mpg123_format(mh, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open_feed(mh) != MPG123_OK) {
        return out;
    }
    std::vector<unsigned char> buffer(1 << 16);
    size_t done = 0;
    int status = mpg123_decode(mh, mp3.data(), mp3.size(), buffer.data(), buffer.size(), &done);
    while (true) {
        if (status == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(mh, &out.rate, &out.channels, &encoding);
        }
        const auto* samples = reinterpret_cast<const int16_t*>(buffer.data());
        out.pcm.insert(out.pcm.end(), samples, samples + done / sizeof(int16_t));
        if (status == MPG123_NEED_MORE || status == MPG123_DONE) {
            break;
        }
        if (status != MPG123_OK && status != MPG123_NEW_FORMAT) {
            return out;
        }
        status = mpg123_decode(mh, nullptr, 0, buffer.data(), buffer.size(), &done);
    }
    out.ok = out.channels > 0;
    return out;
}

// Frequency of a tone: positive-going zero crossings of one channel over the middle of
// the signal, per second.
inline double ToneFrequency(const Decoded& d, int channel = 0) {
    const size_t frames = d.Frames();
    const size_t from = frames / 5;
    const size_t to = frames - frames / 5;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        const int16_t before = d.pcm[(i - 1) * d.channels + channel];
        const int16_t now = d.pcm[i * d.channels + channel];
        if (before < 0 && now >= 0) {
            ++crossings;
        }
    }
    return crossings * static_cast<double>(d.rate) / static_cast<double>(to - from - 1);
}

} // namespace mp3check
