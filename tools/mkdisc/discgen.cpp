#include "discgen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <FLAC/stream_encoder.h>

namespace discgen {
namespace {

constexpr int kFramesPerSector = kSectorBytes / 4; // 588 stereo 16-bit frames
constexpr double kRate = 44100.0;
constexpr double kTwoPi = 6.283185307179586;

// xorshift32: small, fast and the same on every machine.
class Rng {
public:
    explicit Rng(uint32_t seed) : state_(seed ? seed : 0x9e3779b9u) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    double unit() { return (next() >> 8) * (1.0 / 16777216.0); } // [0, 1)
    int range(int lo, int hi) { return lo + static_cast<int>(next() % uint32_t(hi - lo + 1)); }

private:
    uint32_t state_;
};

// One sine period in a table; phases in [0, 1).
class SineTable {
public:
    SineTable() {
        for (size_t i = 0; i <= kSize; ++i)
            table_[i] = std::sin(kTwoPi * double(i) / double(kSize));
    }
    double at(double phase) const {
        double pos = phase * kSize;
        auto i = static_cast<size_t>(pos);
        double frac = pos - double(i);
        return table_[i] + (table_[i + 1] - table_[i]) * frac;
    }

private:
    static constexpr size_t kSize = 4096;
    std::array<double, kSize + 1> table_{};
};

const SineTable& sine() {
    static const SineTable table;
    return table;
}

double wrap(double phase) {
    return phase - std::floor(phase);
}

double noteHz(int semitoneFromA4) {
    return 440.0 * std::pow(2.0, semitoneFromA4 / 12.0);
}

enum class Kind { Note, Chord, Noise, Sweep, Silence };

// One musical event: a few hundred milliseconds to a few seconds of one kind of sound.
struct Segment {
    Kind kind = Kind::Silence;
    int64_t frames = 0;
    std::array<double, 3> hz{};
    double hzEnd = 0;
    double gain = 0;
    double pan = 0.5; // 0 left .. 1 right
};

Segment makeSegment(Rng& rng) {
    Segment s;
    static const int scale[] = {0, 2, 3, 5, 7, 8, 10, 12};
    int pick = rng.range(0, 99);
    s.kind = pick < 40   ? Kind::Note
             : pick < 65 ? Kind::Chord
             : pick < 78 ? Kind::Noise
             : pick < 90 ? Kind::Sweep
                         : Kind::Silence;
    s.frames = rng.range(int(kRate * 0.2), int(kRate * 2.5));
    int root = rng.range(-24, 3);
    s.hz[0] = noteHz(root + scale[rng.range(0, 7)]);
    s.hz[1] = s.hz[0] * 1.25992; // major third
    s.hz[2] = s.hz[0] * 1.49831; // fifth
    s.hzEnd = noteHz(rng.range(-30, 24));
    s.gain = 0.15 + 0.35 * rng.unit();
    s.pan = 0.15 + 0.7 * rng.unit();
    return s;
}

// Attack, decay to sustain, release: keeps segment edges free of clicks.
double envelope(int64_t i, int64_t n) {
    const double attack = 0.01 * kRate, release = 0.05 * kRate;
    double t = double(i);
    double e = t < attack ? t / attack : 1.0 - 0.3 * std::min(1.0, (t - attack) / (0.3 * kRate));
    double left = double(n - i);
    return left < release ? e * left / release : e;
}

int16_t toSample(double v) {
    v = std::clamp(v, -1.0, 1.0);
    return static_cast<int16_t>(std::lround(v * 32000.0));
}

void putFrame(uint8_t* out, double l, double r) {
    int16_t a = toSample(l), b = toSample(r);
    out[0] = uint8_t(uint16_t(a) & 0xff);
    out[1] = uint8_t(uint16_t(a) >> 8);
    out[2] = uint8_t(uint16_t(b) & 0xff);
    out[3] = uint8_t(uint16_t(b) >> 8);
}

// Music-like sound, rendered block by block so that long tracks need little memory.
class MusicSynth {
public:
    explicit MusicSynth(uint32_t seed) : rng_(seed), seg_(makeSegment(rng_)) {}

    void render(uint8_t* out, int64_t frames) {
        for (int64_t i = 0; i < frames; ++i, ++pos_) {
            if (pos_ >= seg_.frames) {
                seg_ = makeSegment(rng_);
                pos_ = 0;
            }
            double l = 0, r = 0;
            sample(l, r);
            double g = seg_.gain * envelope(pos_, seg_.frames);
            putFrame(out + 4 * i, l * g * (1 - seg_.pan) * 2, r * g * seg_.pan * 2);
        }
    }

private:
    void sample(double& l, double& r) {
        const SineTable& sin = sine();
        switch (seg_.kind) {
        case Kind::Note:
            phase_[0] = wrap(phase_[0] + seg_.hz[0] / kRate);
            l = 0.7 * (sin.at(phase_[0]) + 0.3 * sin.at(wrap(2 * phase_[0])) +
                       0.1 * sin.at(wrap(3 * phase_[0])));
            r = l;
            break;
        case Kind::Chord:
            for (size_t k = 0; k < 3; ++k)
                phase_[k] = wrap(phase_[k] + seg_.hz[k] / kRate);
            l = r = (sin.at(phase_[0]) + sin.at(phase_[1]) + sin.at(phase_[2])) / 3.0;
            break;
        case Kind::Noise: // two independent low-passed noises, one per channel
            noiseL_ += 0.2 * ((rng_.unit() * 2 - 1) - noiseL_);
            noiseR_ += 0.2 * ((rng_.unit() * 2 - 1) - noiseR_);
            l = 1.5 * noiseL_;
            r = 1.5 * noiseR_;
            break;
        case Kind::Sweep: {
            double t = double(pos_) / double(seg_.frames);
            phase_[0] = wrap(phase_[0] + (seg_.hz[0] + (seg_.hzEnd - seg_.hz[0]) * t) / kRate);
            l = r = sin.at(phase_[0]);
            break;
        }
        case Kind::Silence:
            break;
        }
    }

    Rng rng_;
    Segment seg_;
    int64_t pos_ = 0;
    std::array<double, 3> phase_{};
    double noiseL_ = 0, noiseR_ = 0;
};

void synthTone(uint8_t* out, int64_t first, int64_t frames, double hz) {
    for (int64_t i = 0; i < frames; ++i) {
        double v = 0.5 * std::sin(kTwoPi * hz * double(first + i) / kRate);
        putFrame(out + 4 * i, v, v);
    }
}

uint8_t bcd(int v) {
    return uint8_t((v / 10) << 4 | (v % 10));
}

// A MODE1 sector: sync, header with its address, and 2048 bytes of readable text.
void dataSector(uint8_t* out, int32_t lsn, uint32_t seed) {
    std::memset(out, 0, kSectorBytes);
    std::memset(out + 1, 0xff, 10);
    int32_t a = lsn + 150;
    out[12] = bcd(a / 4500);
    out[13] = bcd((a / 75) % 60);
    out[14] = bcd(a % 75);
    out[15] = 1;
    char text[64];
    int n = std::snprintf(text, sizeof text, "VELMORA DATA %08u SECTOR %08d\n", seed, lsn);
    for (int i = 0; i < 2048; ++i)
        out[16 + i] = uint8_t(text[i % n]);
}

std::string msf(int32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, (sectors / 75) % 60,
                  sectors % 75);
    return text;
}

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Decodes one UTF-8 character at text[i]; -1 for a malformed sequence.
long nextCodePoint(const std::string& text, size_t& i) {
    const auto byte = [&](size_t k) { return k < text.size() ? uint8_t(text[k]) : 0u; };
    const unsigned b = byte(i);
    int extra = b < 0x80             ? 0
                : (b & 0xE0) == 0xC0 ? 1
                : (b & 0xF0) == 0xE0 ? 2
                : (b & 0xF8) == 0xF0 ? 3
                                     : -1;
    if (extra < 0)
        return -1;
    long cp = extra == 0 ? long(b) : long(b & (0x3Fu >> extra));
    for (int k = 1; k <= extra; ++k) {
        if ((byte(i + size_t(k)) & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | long(byte(i + size_t(k)) & 0x3F);
    }
    const long least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra])
        return -1; // an overlong form
    i += size_t(extra) + 1;
    return cp;
}

} // namespace

bool cueText(const std::string& utf8, std::string* latin1, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why + ": " + utf8;
        return false;
    };
    latin1->clear();
    for (size_t i = 0; i < utf8.size();) {
        const long cp = nextCodePoint(utf8, i);
        if (cp < 0)
            return fail("CD-TEXT is not valid UTF-8");
        if (cp == '"')
            return fail("a cue sheet cannot hold a double quote in CD-TEXT");
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
            return fail("CD-TEXT holds a control character");
        if (cp > 0xFF)
            return fail("a cue sheet holds CD-TEXT in ISO-8859-1, which lacks a character of");
        latin1->push_back(char(uint8_t(cp)));
    }
    return true;
}

namespace {

const std::string& entryOr(const std::vector<std::string>& list, size_t i) {
    static const std::string none;
    return i < list.size() ? list[i] : none;
}

// Sectors before a track's INDEX 01: its pregap, or for track 1 the hidden audio.
int32_t pregapOf(const DiscSpec& plan, size_t i) {
    return i == 0 ? plan.hiddenSectors : plan.tracks[i].pregap;
}

uint32_t trackSeed(const DiscSpec& plan, size_t i) {
    return plan.seed * 7919u + uint32_t(i) * 104729u + 1u;
}

// Hands the sectors of one track (its pregap first) to `sink` in blocks of up to
// 75 sectors, so that a long track never sits in memory as a whole.
template <typename Sink>
void renderTrack(const DiscSpec& plan, size_t i, int32_t firstLsn, Sink&& sink) {
    const TrackSpec& t = plan.tracks[i];
    const int32_t gap = pregapOf(plan, i), total = gap + t.sectors;
    std::vector<uint8_t> block(size_t(kSectorsPerSecond) * kSectorBytes);
    MusicSynth music(trackSeed(plan, i));
    MusicSynth hidden(trackSeed(plan, i) ^ 0x5A5A5A5Au); // audio before track 1
    const bool audibleGap = i == 0 && !plan.hiddenSilent;
    for (int32_t s = 0; s < total; s += kSectorsPerSecond) {
        const int32_t n = std::min(kSectorsPerSecond, total - s);
        for (int32_t k = 0; k < n; ++k) {
            uint8_t* out = block.data() + size_t(k) * kSectorBytes;
            const int32_t inTrack = s + k - gap; // sector within the track body
            if (t.data)
                dataSector(out, firstLsn + s + k, plan.seed);
            else if (inTrack < 0 && audibleGap)
                hidden.render(out, kFramesPerSector);
            else if (inTrack < 0)
                std::memset(out, 0, kSectorBytes); // audio pregap: digital silence
            else if (plan.toneHz > 0)
                synthTone(out, int64_t(inTrack) * kFramesPerSector, kFramesPerSector, plan.toneHz);
            else
                music.render(out, kFramesPerSector);
        }
        sink(block.data(), size_t(n) * kSectorBytes);
    }
}

} // namespace

Layout layoutOf(const DiscSpec& plan) {
    Layout l;
    int32_t lsn = 0;
    for (size_t i = 0; i < plan.tracks.size(); ++i) {
        lsn += pregapOf(plan, i);
        l.starts.push_back(lsn);
        lsn += plan.tracks[i].sectors;
    }
    l.leadout = lsn;
    return l;
}

std::vector<uint8_t> imageBytes(const DiscSpec& plan) {
    Layout l = layoutOf(plan);
    std::vector<uint8_t> bytes(size_t(l.leadout) * kSectorBytes);
    int64_t lsn = 0;
    for (size_t i = 0; i < plan.tracks.size(); ++i) {
        uint8_t* out = bytes.data() + lsn * kSectorBytes;
        renderTrack(plan, i, int32_t(lsn), [&](const uint8_t* p, size_t n) {
            std::memcpy(out, p, n);
            out += n;
        });
        lsn += pregapOf(plan, i) + plan.tracks[i].sectors;
    }
    return bytes;
}

bool writeDisc(const std::string& base, const DiscSpec& plan, std::string* error) {
    return writeDisc(base, plan, SheetStyle{}, error);
}

namespace {

using Style = SheetStyle;

// Windows-1252's characters in 0x80..0x9F, by byte.
const uint16_t kCp1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                              0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                              0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                              0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// CD-TEXT as the sheet's bytes: UTF-8 as it is, or Windows-1252 (ISO-8859-1 and the
// characters Windows-1252 adds). Quotes and control characters cannot be written.
bool encodeText(const std::string& utf8, Style::Text text, std::string* out, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why + ": " + utf8;
        return false;
    };
    out->clear();
    for (size_t i = 0; i < utf8.size();) {
        const long cp = nextCodePoint(utf8, i);
        if (cp < 0)
            return fail("CD-TEXT is not valid UTF-8");
        if (cp == '"')
            return fail("a cue sheet cannot hold a double quote in CD-TEXT");
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
            return fail("CD-TEXT holds a control character");
        if (text == Style::Text::Utf8 || text == Style::Text::Utf8Bom)
            continue;
        int byte = cp <= 0xFF ? int(cp) : -1;
        for (int b = 0; b < 32 && byte < 0 && text == Style::Text::Windows1252; ++b)
            if (kCp1252[b] == cp)
                byte = 0x80 + b;
        if (byte < 0)
            return fail(text == Style::Text::Latin1
                            ? "a cue sheet holds CD-TEXT in ISO-8859-1, which lacks a character of"
                            : "Windows-1252 lacks a character of");
        out->push_back(char(uint8_t(byte)));
    }
    if (text == Style::Text::Utf8 || text == Style::Text::Utf8Bom)
        *out = utf8;
    return true;
}

bool validStyledSpec(const DiscSpec& plan, const Style& style, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (plan.tracks.empty() || plan.tracks.size() > 99)
        return fail("a disc has 1 to 99 tracks");
    int64_t total = plan.hiddenSectors;
    for (const TrackSpec& t : plan.tracks) {
        if (t.sectors < 1 || t.pregap < 0)
            return fail("a track needs at least one sector and no negative pregap");
        total += int64_t(t.sectors) + (&t == &plan.tracks[0] ? 0 : t.pregap);
    }
    for (const std::string& isrc : plan.isrcs)
        if (!isrc.empty() && isrc.size() != 12)
            return fail("an ISRC has 12 characters: " + isrc);
    if (plan.isrcs.size() > plan.tracks.size() || plan.preEmphasis.size() > plan.tracks.size() ||
        plan.copyPermitted.size() > plan.tracks.size())
        return fail("more track codes or flags than tracks");
    if (plan.hiddenSectors < 0 || total > 100 * 60 * kSectorsPerSecond)
        return fail("a disc holds at most 100 minutes");
    if (plan.tracks[0].data && plan.hiddenSectors > 0)
        return fail("hidden audio needs an audio track 1");
    if (!plan.catalog.empty() &&
        (plan.catalog.size() != 13 || !std::all_of(plan.catalog.begin(), plan.catalog.end(),
                                                   [](char c) { return c >= '0' && c <= '9'; })))
        return fail("a catalog number has 13 digits: " + plan.catalog);
    if (plan.trackTitles.size() > plan.tracks.size() ||
        plan.trackPerformers.size() > plan.tracks.size())
        return fail("more track titles or performers than tracks");
    std::vector<const std::string*> texts = {&plan.title, &plan.performer};
    for (const std::string& t : plan.trackTitles)
        texts.push_back(&t);
    for (const std::string& t : plan.trackPerformers)
        texts.push_back(&t);
    std::string bytes;
    for (const std::string* t : texts)
        if (!encodeText(*t, style.text, &bytes, error))
            return false;
    return true;
}

// One data file of the image: the disc's sectors first .. end - 1.
struct FileRange {
    std::string name; // as the sheet names it
    std::string path; // where it is written
    int32_t first = 0, end = 0;
    bool data = false; // holds a data track (written raw, little-endian)
};

bool isBin(Style::Container c) {
    return c == Style::Container::Binary || c == Style::Container::Motorola ||
           c == Style::Container::WaveAsBin;
}

std::string extensionOf(Style::Container c) {
    return isBin(c) ? ".bin" : c == Style::Container::Wave ? ".wav" : ".flac";
}

std::vector<FileRange> fileRanges(const std::string& base, const DiscSpec& plan,
                                  const Style& style) {
    const Layout l = layoutOf(plan);
    const std::string folder =
        base.find('/') == std::string::npos ? "." : base.substr(0, base.find_last_of('/'));
    const std::string stem = style.dataName.empty() ? baseName(base) : style.dataName;
    const std::string sub =
        style.subFolder.empty() ? "" : style.subFolder + (style.backslashes ? "\\" : "/");
    const std::string subPath = style.subFolder.empty() ? "" : style.subFolder + "/";
    std::vector<FileRange> out;
    auto add = [&](const std::string& name, int32_t first, int32_t end, bool data) {
        out.push_back({sub + name, folder + "/" + subPath + name, first, end, data});
    };
    if (style.files == Style::Files::One) {
        add(stem + extensionOf(style.container), 0, l.leadout, false);
        return out;
    }
    for (size_t i = 0; i < plan.tracks.size(); ++i) {
        char num[24];
        std::snprintf(num, sizeof num, "-%02zu", i + 1);
        const bool data = plan.tracks[i].data;
        const std::string name = stem + num + (data ? ".bin" : extensionOf(style.container));
        // Track 1's file holds the audio before its INDEX 01, unless that is silence
        // left out with the pregaps.
        const bool leftOut =
            style.files == Style::Files::PerTrackGapsAsSilence && plan.hiddenSilent;
        const int32_t first = i == 0 && !leftOut ? 0 : l.starts[i];
        const int32_t end =
            style.files == Style::Files::PerTrack && i + 1 < plan.tracks.size()
                ? l.starts[i + 1] - (plan.tracks[i + 1].data ? pregapOf(plan, i + 1) : 0)
                : l.starts[i] + plan.tracks[i].sectors;
        add(name, first, end, data);
        // A data track's pregap goes into its own file, before its INDEX 01.
        if (data && style.files == Style::Files::PerTrack && i > 0)
            out.back().first = l.starts[i] - pregapOf(plan, i);
    }
    return out;
}

// Writes sample data into one file of a container.
class DataWriter {
public:
    virtual ~DataWriter() = default;
    virtual bool write(const uint8_t* p, size_t n) = 0;
    virtual bool close() = 0;
};

class RawWriter : public DataWriter {
public:
    RawWriter(const std::string& path, bool swap)
        : out_(path, std::ios::binary | std::ios::trunc), swap_(swap) {}
    bool write(const uint8_t* p, size_t n) override {
        if (!swap_) {
            out_.write(reinterpret_cast<const char*>(p), std::streamsize(n));
        } else {
            std::vector<uint8_t> b(p, p + n);
            for (size_t i = 0; i + 1 < n; i += 2)
                std::swap(b[i], b[i + 1]);
            out_.write(reinterpret_cast<const char*>(b.data()), std::streamsize(n));
        }
        return bool(out_);
    }
    bool close() override {
        out_.flush();
        return bool(out_);
    }

protected:
    std::ofstream out_;
    bool swap_;
};

// A canonical 44-byte RIFF WAVE header, 16-bit 44.1 kHz stereo PCM.
class WavWriter : public RawWriter {
public:
    WavWriter(const std::string& path, uint32_t bytes) : RawWriter(path, false) {
        uint8_t h[44];
        auto put32 = [&](int at, uint32_t v) {
            for (int k = 0; k < 4; ++k)
                h[at + k] = uint8_t(v >> (8 * k));
        };
        std::memcpy(h, "RIFF", 4);
        put32(4, 36 + bytes);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        put32(16, 16);
        put32(20, 1 | 2u << 16); // PCM, two channels
        put32(24, 44100);
        put32(28, 44100 * 4);
        put32(32, 4 | 16u << 16); // block align 4, 16 bits
        std::memcpy(h + 36, "data", 4);
        put32(40, bytes);
        out_.write(reinterpret_cast<const char*>(h), 44);
    }
};

class FlacWriter : public DataWriter {
public:
    FlacWriter(const std::string& path, uint64_t frames) : enc_(FLAC__stream_encoder_new()) {
        ok_ = enc_ && FLAC__stream_encoder_set_channels(enc_, 2) &&
              FLAC__stream_encoder_set_bits_per_sample(enc_, 16) &&
              FLAC__stream_encoder_set_sample_rate(enc_, 44100) &&
              FLAC__stream_encoder_set_compression_level(enc_, 5) &&
              FLAC__stream_encoder_set_total_samples_estimate(enc_, frames) &&
              FLAC__stream_encoder_init_file(enc_, path.c_str(), nullptr, nullptr) ==
                  FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    }
    ~FlacWriter() override {
        if (enc_)
            FLAC__stream_encoder_delete(enc_);
    }
    bool write(const uint8_t* p, size_t n) override {
        std::vector<FLAC__int32> samples(n / 2);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(uint16_t(p[2 * i] | p[2 * i + 1] << 8));
        ok_ =
            ok_ && FLAC__stream_encoder_process_interleaved(enc_, samples.data(), unsigned(n / 4));
        return ok_;
    }
    bool close() override { return ok_ && FLAC__stream_encoder_finish(enc_); }

private:
    FLAC__StreamEncoder* enc_;
    bool ok_ = false;
};

std::unique_ptr<DataWriter> openWriter(const FileRange& f, const Style& style) {
    const uint32_t bytes = uint32_t(f.end - f.first) * uint32_t(kSectorBytes);
    if (f.data)
        return std::make_unique<RawWriter>(f.path, false);
    switch (style.container) {
    case Style::Container::Binary:
        return std::make_unique<RawWriter>(f.path, false);
    case Style::Container::Motorola:
        return std::make_unique<RawWriter>(f.path, true);
    case Style::Container::Wave:
    case Style::Container::WaveAsBin:
        return std::make_unique<WavWriter>(f.path, bytes);
    case Style::Container::Flac:
        return std::make_unique<FlacWriter>(f.path, uint64_t(f.end - f.first) * kFramesPerSector);
    }
    return nullptr;
}

// Streams the whole disc once, sector by sector, into the files whose ranges hold them.
bool writeFiles(const DiscSpec& plan, const Style& style, const std::vector<FileRange>& files,
                std::string* error) {
    std::unique_ptr<DataWriter> w;
    size_t current = 0;
    int32_t lsn = 0;
    bool ok = true;
    auto fail = [&](const std::string& path) {
        if (error && ok)
            *error = "write error on " + path;
        ok = false;
    };
    for (size_t i = 0; i < plan.tracks.size() && ok; ++i) {
        renderTrack(plan, i, lsn, [&](const uint8_t* p, size_t n) {
            for (size_t at = 0; at < n && ok; at += kSectorBytes, ++lsn) {
                while (current < files.size() && lsn >= files[current].end) {
                    if (w && !w->close())
                        fail(files[current].path);
                    w.reset();
                    ++current;
                }
                if (current >= files.size() || lsn < files[current].first)
                    continue; // a pregap left out of the files
                if (!w)
                    w = openWriter(files[current], style);
                if (!w->write(p + at, kSectorBytes))
                    fail(files[current].path);
            }
        });
    }
    if (w && ok && !w->close())
        fail(files[current].path);
    return ok;
}

std::string upperOr(const std::string& keyword, const Style& style) {
    if (!style.lowerCase)
        return keyword;
    std::string s = keyword;
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string quotedText(const std::string& utf8, const Style& style, bool toc) {
    std::string bytes;
    encodeText(utf8, style.text, &bytes, nullptr);
    if (!toc || style.text == Style::Text::Utf8 || style.text == Style::Text::Utf8Bom)
        return "\"" + bytes + "\"";
    std::string out = "\"";
    for (char c : bytes) { // cdrdao writes bytes beyond ASCII as octal escapes
        if (uint8_t(c) < 0x80) {
            out += c;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03o", unsigned(uint8_t(c)));
            out += esc;
        }
    }
    return out + "\"";
}

bool flagOf(const std::vector<bool>& flags, size_t i) {
    return i < flags.size() && flags[i];
}

size_t fileOf(const std::vector<FileRange>& files, int32_t lsn) {
    for (size_t f = 0; f < files.size(); ++f)
        if (lsn >= files[f].first && lsn < files[f].end)
            return f;
    return files.size();
}

std::string cueType(const FileRange& f, const Style& style) {
    if (f.data || style.container == Style::Container::Binary ||
        style.container == Style::Container::WaveAsBin)
        return "BINARY";
    return style.container == Style::Container::Motorola ? "MOTOROLA" : "WAVE";
}

std::string cueSheet(const DiscSpec& plan, const Style& style,
                     const std::vector<FileRange>& files) {
    std::ostringstream cue;
    auto kw = [&](const char* k) { return upperOr(k, style); };
    auto text = [&](const char* indent, const char* k, const std::string& utf8) {
        if (!utf8.empty())
            cue << indent << kw(k) << " " << quotedText(utf8, style, false) << "\n";
    };
    cue << kw("REM") << " Generated by mkdisc, seed " << plan.seed << "\n";
    if (!plan.catalog.empty())
        cue << kw("CATALOG") << " " << plan.catalog << "\n";
    text("", "TITLE", plan.title);
    text("", "PERFORMER", plan.performer);
    const Layout l = layoutOf(plan);
    size_t open = files.size();
    auto point = [&](int number, int32_t lsn) {
        const size_t f = fileOf(files, lsn);
        if (f != open) {
            cue << kw("FILE") << " \"" << files[f].name << "\" "
                << kw(cueType(files[f], style).c_str()) << "\n";
            open = f;
        }
        cue << "    " << kw("INDEX") << " " << (number == 0 ? "00 " : "01 ")
            << msf(lsn - files[f].first) << "\n";
    };
    for (size_t i = 0; i < plan.tracks.size(); ++i) {
        const TrackSpec& t = plan.tracks[i];
        const int32_t gap = i == 0 ? 0 : pregapOf(plan, i);
        const bool gapInFiles = gap > 0 && fileOf(files, l.starts[i] - gap) < files.size();
        const int32_t firstPoint = gapInFiles ? l.starts[i] - gap : l.starts[i];
        if (const size_t f = fileOf(files, firstPoint); f != open) {
            cue << kw("FILE") << " \"" << files[f].name << "\" "
                << kw(cueType(files[f], style).c_str()) << "\n";
            open = f;
        }
        char num[24];
        std::snprintf(num, sizeof num, "%02zu", i + 1);
        cue << "  " << kw("TRACK") << " " << num << " " << kw(t.data ? "MODE1/2352" : "AUDIO")
            << "\n";
        const bool pre = flagOf(plan.preEmphasis, i), dcp = flagOf(plan.copyPermitted, i);
        if (pre || dcp)
            cue << "    " << kw("FLAGS") << (dcp ? " " + kw("DCP") : "")
                << (pre ? " " + kw("PRE") : "") << "\n";
        if (!entryOr(plan.isrcs, i).empty())
            cue << "    " << kw("ISRC") << " " << entryOr(plan.isrcs, i) << "\n";
        if (gap > 0 && !gapInFiles)
            cue << "    " << kw("PREGAP") << " " << msf(gap) << "\n";
        if (gapInFiles)
            point(0, l.starts[i] - gap);
        point(1, l.starts[i]);
        // CD-TEXT of the track after its indexes: cue readers take it for the track
        // whose TRACK line came last.
        text("    ", "TITLE", entryOr(plan.trackTitles, i));
        text("    ", "PERFORMER", entryOr(plan.trackPerformers, i));
    }
    return cue.str();
}

std::string tocSheet(const DiscSpec& plan, const Style& style,
                     const std::vector<FileRange>& files) {
    std::ostringstream toc;
    auto cdText = [&](const char* indent, const std::string& title, const std::string& performer) {
        if (title.empty() && performer.empty())
            return;
        toc << indent << "CD_TEXT {\n";
        if (indent[0] == '\0')
            toc << "  LANGUAGE_MAP {\n    0 : EN\n  }\n";
        toc << indent << "  LANGUAGE 0 {\n";
        if (!title.empty())
            toc << indent << "    TITLE " << quotedText(title, style, true) << "\n";
        if (!performer.empty())
            toc << indent << "    PERFORMER " << quotedText(performer, style, true) << "\n";
        toc << indent << "  }\n" << indent << "}\n";
    };
    toc << "// Generated by mkdisc, seed " << plan.seed << "\nCD_DA\n";
    if (!plan.catalog.empty())
        toc << "CATALOG \"" << plan.catalog << "\"\n";
    cdText("", plan.title, plan.performer);
    const Layout l = layoutOf(plan);
    const bool swap = style.container == Style::Container::Motorola;
    for (size_t i = 0; i < plan.tracks.size(); ++i) {
        const TrackSpec& t = plan.tracks[i];
        const int32_t gap = pregapOf(plan, i);
        const int32_t begin = l.starts[i] - gap, end = l.starts[i] + t.sectors;
        toc << "\nTRACK " << (t.data ? "MODE1_RAW" : "AUDIO") << "\n";
        if (flagOf(plan.copyPermitted, i))
            toc << "COPY\n";
        if (flagOf(plan.preEmphasis, i))
            toc << "PRE_EMPHASIS\n";
        if (!entryOr(plan.isrcs, i).empty())
            toc << "ISRC \"" << entryOr(plan.isrcs, i) << "\"\n";
        cdText("", entryOr(plan.trackTitles, i), entryOr(plan.trackPerformers, i));
        // The track's sectors, file by file; sectors in no file are silence.
        for (int32_t at = begin; at < end;) {
            const size_t f = fileOf(files, at);
            int32_t until = end;
            if (f == files.size()) {
                for (const FileRange& r : files)
                    if (r.first > at)
                        until = std::min(until, r.first);
                toc << "SILENCE " << msf(until - at) << "\n";
            } else {
                until = std::min(end, files[f].end);
                const FileRange& r = files[f];
                if (t.data)
                    toc << "DATAFILE \"" << r.name << "\" #" << int64_t(at - r.first) * kSectorBytes
                        << " " << msf(until - at) << "\n";
                else
                    toc << "FILE \"" << r.name << "\" " << (swap && !r.data ? "SWAP " : "")
                        << msf(at - r.first) << " " << msf(until - at) << "\n";
            }
            at = until;
        }
        if (gap > 0)
            toc << "START " << msf(gap) << "\n";
    }
    return toc.str();
}

} // namespace

std::vector<std::string> styledFiles(const std::string& base, const DiscSpec& plan,
                                     const SheetStyle& style) {
    std::vector<std::string> out = {base + (style.sheet == Style::Sheet::Toc ? ".toc" : ".cue")};
    for (const FileRange& f : fileRanges(base, plan, style))
        out.push_back(f.path);
    return out;
}

bool writeDisc(const std::string& base, const DiscSpec& plan, const SheetStyle& style,
               std::string* error) {
    if (!validStyledSpec(plan, style, error))
        return false;
    const std::vector<FileRange> files = fileRanges(base, plan, style);
    if (!style.subFolder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(
            files.front().path.substr(0, files.front().path.find_last_of('/')), ec);
    }
    if (!writeFiles(plan, style, files, error))
        return false;
    std::string sheet = style.sheet == Style::Sheet::Toc ? tocSheet(plan, style, files)
                                                         : cueSheet(plan, style, files);
    if (style.crlf) {
        std::string crlf;
        for (char c : sheet)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        sheet = crlf;
    }
    if (style.text == Style::Text::Utf8Bom)
        sheet = "\xEF\xBB\xBF" + sheet;
    const std::string path = base + (style.sheet == Style::Sheet::Toc ? ".toc" : ".cue");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << sheet;
    out.flush();
    if (!out) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

DiscSpec simpleDisc(uint32_t seed, int count, int32_t sectors, int32_t dataSectors) {
    DiscSpec plan;
    plan.seed = seed;
    for (int i = 0; i < count; ++i)
        plan.tracks.push_back({sectors, 0, false});
    if (dataSectors > 0)
        plan.tracks.push_back({dataSectors, 150, true});
    return plan;
}

DiscSpec demoDisc() {
    DiscSpec plan;
    plan.seed = 2023;
    // Seconds of each audio track, 15 to 45; tracks 3 and 5 have two-second pregaps.
    const int seconds[] = {32, 24, 45, 15, 38, 27};
    const int pregaps[] = {0, 0, 150, 0, 150, 0};
    for (int i = 0; i < 6; ++i)
        plan.tracks.push_back({seconds[i] * kSectorsPerSecond, pregaps[i], false});
    plan.tracks.push_back({750, 150, true}); // 10 seconds' worth of data
    // CD-TEXT, with accented letters to show that they survive the cue sheet.
    plan.title = "Synthetic Études";
    plan.performer = "The Velmora Ensemble";
    plan.trackTitles = {"Opening Chords",  "Noise Garden", "Café Sweep",
                        "Short Interlude", "Señor Sine",   "Closing Bells"};
    return plan;
}

} // namespace discgen
