// Benchmark driver for liblame_enc.
//
//   lame_bench gen <out.wav> <seconds>      writes 44100 Hz stereo test PCM as a WAV file
//   lame_bench encode <in.wav> <out.mp3> cbr|vbr
//                                           encodes it through the be... calls:
//                                           cbr = 128 kbit/s CBR, vbr = the program's
//                                           default MP3 settings (VBR quality 5, 128 to
//                                           320 kbit/s, VBR header), both stereo with CRC
//
// run.sh times the encode against the lame command with the same settings.
#include "libs/lame_enc/lame_enc.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kRate = 44100;
constexpr size_t kWavHeader = 44;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

std::vector<uint8_t> WavHeader(uint32_t dataBytes) {
    std::vector<uint8_t> h;
    const auto tag = [&h](const char* s) { h.insert(h.end(), s, s + 4); };
    tag("RIFF");
    PutLe(h, 36 + dataBytes, 4);
    tag("WAVE");
    tag("fmt ");
    PutLe(h, 16, 4);
    PutLe(h, 1, 2); // PCM
    PutLe(h, 2, 2);
    PutLe(h, kRate, 4);
    PutLe(h, kRate * 4, 4);
    PutLe(h, 4, 2);
    PutLe(h, 16, 2);
    tag("data");
    PutLe(h, dataBytes, 4);
    return h;
}

// Music-like test signal: a few drifting partials with a beat and a little noise,
// different on the two channels, the same on every run.
int Generate(const char* path, double seconds) {
    const auto frames = static_cast<uint32_t>(seconds * kRate);
    File f(std::fopen(path, "wb"));
    if (!f) {
        std::perror(path);
        return 1;
    }
    const auto header = WavHeader(frames * 4);
    std::fwrite(header.data(), 1, header.size(), f.get());
    uint32_t noise = 12345;
    std::vector<int16_t> block;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double base = 110.0 * std::pow(2.0, std::floor(t * 2) / 12.0 - std::floor(t / 6));
        const double beat = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 2 * t);
        double left = 0;
        double right = 0;
        for (int k = 1; k <= 6; ++k) {
            const double partial = std::sin(2 * std::numbers::pi * base * k * t) / k;
            left += partial;
            right += std::sin(2 * std::numbers::pi * base * 1.5 * k * t + k) / k * beat;
        }
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.05;
        block.push_back(static_cast<int16_t>(std::lround((left * 0.35 + hiss) * 12000)));
        block.push_back(static_cast<int16_t>(std::lround((right * 0.35 - hiss) * 12000)));
        if (block.size() >= 65536) {
            std::fwrite(block.data(), sizeof(int16_t), block.size(), f.get());
            block.clear();
        }
    }
    std::fwrite(block.data(), sizeof(int16_t), block.size(), f.get());
    return 0;
}

BE_CONFIG_RECORD Record(bool vbr) {
    BE_CONFIG_RECORD r{};
    r.kind = BE_CONFIG_KIND;
    r.version = BE_CONFIG_VERSION;
    r.size = BE_CONFIG_SIZE_WRITTEN;
    r.inSampleRate = kRate;
    r.outSampleRate = kRate;
    r.mode = BE_MODE_STEREO;
    r.bitrate = 128;
    r.maxBitrate = 320;
    r.quality = BE_QUALITY_NORMAL;
    r.mpegVersion = 1;
    r.crc = -1;
    r.enableVBR = vbr ? -1 : 0;
    r.writeVBRHeader = vbr ? -1 : 0;
    r.vbrQuality = 5;
    r.inputChannels = 2;
    return r;
}

class Stream {
public:
    explicit Stream(uint32_t handle) : handle_(handle) {}
    ~Stream() { beCloseStream(handle_); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    uint32_t Handle() const { return handle_; }

private:
    uint32_t handle_;
};

int Encode(const char* in, const char* out, bool vbr) {
    File wav(std::fopen(in, "rb"));
    File mp3(std::fopen(out, "wb"));
    if (!wav || !mp3 || std::fseek(wav.get(), kWavHeader, SEEK_SET) != 0) {
        std::fprintf(stderr, "cannot open %s or %s\n", in, out);
        return 1;
    }
    const BE_CONFIG_RECORD record = Record(vbr);
    uint32_t samples = 0, bufferSize = 0, handle = 0;
    if (const uint32_t status = beInitStream(&record, &samples, &bufferSize, &handle)) {
        std::fprintf(stderr, "beInitStream: status %u\n", status);
        return 1;
    }
    Stream stream(handle);
    std::vector<int16_t> pcm(samples);
    std::vector<uint8_t> buffer(bufferSize);
    uint32_t count = 0;
    size_t got = 0;
    while ((got = std::fread(pcm.data(), sizeof(int16_t), pcm.size(), wav.get())) > 0) {
        got -= got % 2;
        if (beEncodeChunk(handle, static_cast<uint32_t>(got), pcm.data(), buffer.data(), &count) !=
            BE_OK) {
            return 1;
        }
        std::fwrite(buffer.data(), 1, count, mp3.get());
    }
    if (beDeinitStream(handle, buffer.data(), &count) != BE_OK) {
        return 1;
    }
    std::fwrite(buffer.data(), 1, count, mp3.get());
    if (beGetInfoTag(handle, buffer.data(), bufferSize, &count) != BE_OK) {
        return 1;
    }
    if (count > 0) {
        std::fseek(mp3.get(), 0, SEEK_SET);
        std::fwrite(buffer.data(), 1, count, mp3.get());
    }
    return std::fflush(mp3.get()) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "gen" && argc == 4) {
        return Generate(argv[2], std::atof(argv[3]));
    }
    if (command == "encode" && argc == 5) {
        return Encode(argv[2], argv[3], std::strcmp(argv[4], "vbr") == 0);
    }
    std::fprintf(stderr, "usage: lame_bench gen <out.wav> <seconds>\n"
                         "       lame_bench encode <in.wav> <out.mp3> cbr|vbr\n");
    return 2;
}
