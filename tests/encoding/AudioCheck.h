#pragma once

// Test PCM and independent readers for the FLAC and Opus tests: tones, the MD5 of bytes
// by md5sum, the flac command's test mode, and mutagen's view of a file's comments and
// pictures.

#include "FileBytes.h"
#include "TempFolder.h"

#include "encoding/ByteSink.h"
#include "encoding/VorbisComments.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Interleaved 16-bit little-endian PCM: a sine of `hz` at `dbfs` (peak) on the first
// channel, one of 1.5 * hz on the second, each with a little deterministic noise so that
// the encoders have something to do.
inline std::vector<uint8_t> TonePcm(uint32_t rate, uint32_t channels, std::size_t frames, double hz,
                                    double dbfs, bool noise = true) {
    std::vector<uint8_t> pcm(frames * channels * 2);
    const double amplitude = 32768.0 * std::pow(10.0, dbfs / 20.0);
    uint32_t seed = 12345;
    for (std::size_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            const double f = c == 0 ? hz : hz * 1.5;
            seed = seed * 1664525u + 1013904223u;
            const double n = noise ? static_cast<double>(seed >> 24) - 128.0 : 0.0;
            double v = amplitude * std::sin(2.0 * M_PI * f * static_cast<double>(i) / rate) + n;
            v = std::round(std::fmax(-32768.0, std::fmin(32767.0, v)));
            const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
            const std::size_t at = (i * channels + c) * 2;
            pcm[at] = static_cast<uint8_t>(s & 0xFF);
            pcm[at + 1] = static_cast<uint8_t>(s >> 8);
        }
    }
    return pcm;
}

inline std::vector<uint8_t> FileBytes(const std::string& path) {
    return FileBytesOf(path);
}

inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

// The file an encoder test writes, as the encoder's sink: created empty (or a device
// such as /dev/full opened for writing) and closed when the test is done with it.
class TestFileSink {
public:
    explicit TestFileSink(const std::string& path)
        : Fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)), Sink(Fd) {}
    ~TestFileSink() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
    TestFileSink(const TestFileSink&) = delete;
    TestFileSink& operator=(const TestFileSink&) = delete;
    bool IsOpen() const { return Fd >= 0; }
    Encoding::TByteSink& operator*() { return Sink; }

private:
    int Fd;
    Encoding::TFdSink Sink;
};

// A whole stream through a FLAC or Opus encoder into `path`: opened with `options`,
// `pcm` fed `piece` bytes at a time, finished with `extra` (the track's gain). False
// with the encoder's reason at the first step that fails; *samples gets the encoder's
// count of sample frames.
template <typename Encoder, typename Options>
bool EncodeFile(const std::string& path, const Options& options, const std::vector<uint8_t>& pcm,
                std::size_t piece, const Encoding::TVorbisComments& extra, std::string* error,
                uint64_t* samples = nullptr) {
    TestFileSink file(path);
    Encoder encoder;
    bool ok = encoder.Open(*file, options, error);
    for (std::size_t at = 0; ok && at < pcm.size(); at += piece) {
        ok = encoder.Feed(pcm.data() + at, std::min(piece, pcm.size() - at), error);
    }
    if (samples != nullptr) {
        *samples = encoder.Samples();
    }
    return ok && encoder.Finish(extra, error);
}

// A command's stdout and exit status (stderr joined to stdout).
struct CommandResult {
    int Status = -1;
    std::string Output;
};

inline CommandResult RunCommand(const std::string& command) {
    CommandResult r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) {
        r.Output.append(buffer, n);
    }
    const int status = ::pclose(p);
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The MD5 of the bytes as 16 bytes, by md5sum.
inline std::vector<uint8_t> Md5Of(const TempFolder& dir, const std::vector<uint8_t>& data) {
    const std::string file = dir.file("md5-input");
    WriteFileBytes(file, data);
    const CommandResult r = RunCommand("md5sum '" + file + "'");
    std::vector<uint8_t> digest;
    for (std::size_t i = 0; i + 1 < r.Output.size() && digest.size() < 16; i += 2) {
        digest.push_back(static_cast<uint8_t>(std::stoi(r.Output.substr(i, 2), nullptr, 16)));
    }
    return digest;
}

// A FLAC or Ogg Opus file as mutagen reads it: {"tags": [[name, value], ...] in file
// order, "pictures": [{"type", "mime", "desc", "width", "height", "depth", "size"}],
// "length": seconds, "sample_rate", "channels"}; null when mutagen cannot read it.
inline nlohmann::json MutagenVorbis(const std::string& path) {
    const std::string script = path + ".py";
    std::ofstream(script)
        << "import base64, json, sys\n"
           "from mutagen.flac import FLAC, Picture\n"
           "from mutagen.oggopus import OggOpus\n"
           "p = sys.argv[1]\n"
           "f = FLAC(p) if open(p, 'rb').read(4) == b'fLaC' else OggOpus(p)\n"
           "pics = list(f.pictures) if isinstance(f, FLAC) else [\n"
           "    Picture(base64.b64decode(v)) for v in f.get('metadata_block_picture', [])]\n"
           "tags = [[k, v] for k, v in (f.tags or [])]\n"
           "print(json.dumps({'tags': tags, 'length': f.info.length,\n"
           "    'sample_rate': getattr(f.info, 'sample_rate', 48000),\n"
           "    'channels': f.info.channels,\n"
           "    'pictures': [{'type': int(x.type), 'mime': x.mime, 'desc': x.desc,\n"
           "        'width': x.width, 'height': x.height, 'depth': x.depth,\n"
           "        'size': len(x.data)} for x in pics]}))\n";
    // Debian's python3-mutagen belongs to the system's interpreter.
    const std::string python =
        ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const CommandResult r = RunCommand(python + " '" + script + "' '" + path + "'");
    const nlohmann::json j = nlohmann::json::parse(r.Output, nullptr, false);
    if (j.is_discarded()) {
        ADD_FAILURE() << "mutagen says: " << r.Output;
        return nullptr;
    }
    return j;
}

// A PNG of width x height, 8-bit RGB: signature and IHDR only (enough for its size).
inline std::vector<uint8_t> TinyPng(uint32_t width, uint32_t height) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    for (uint32_t v : {width, height}) {
        for (int s = 24; s >= 0; s -= 8) {
            png.push_back(static_cast<uint8_t>(v >> s));
        }
    }
    png.insert(png.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0}); // depth 8, RGB, methods, CRC
    return png;
}

// Names TEST_P rows by their `name` field.
struct RowNameOf {
    template <typename Info> std::string operator()(const Info& row) const {
        return row.param.name;
    }
};
