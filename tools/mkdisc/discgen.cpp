#include "discgen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

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

bool validSpec(const DiscSpec& plan, std::string* error) {
    auto fail = [&](const char* why) {
        if (error)
            *error = why;
        return false;
    };
    if (plan.tracks.empty() || plan.tracks.size() > 99)
        return fail("a disc has 1 to 99 tracks");
    for (const TrackSpec& t : plan.tracks)
        if (t.sectors < 1 || t.pregap < 0)
            return fail("a track needs at least one sector and no negative pregap");
    int64_t total = 0;
    for (const TrackSpec& t : plan.tracks)
        total += int64_t(t.sectors) + t.pregap;
    if (total > 100 * 60 * kSectorsPerSecond)
        return fail("a disc holds at most 100 minutes");
    if (plan.trackTitles.size() > plan.tracks.size() ||
        plan.trackPerformers.size() > plan.tracks.size())
        return fail("more track titles or performers than tracks");
    std::vector<const std::string*> texts = {&plan.title, &plan.performer};
    for (const std::string& t : plan.trackTitles)
        texts.push_back(&t);
    for (const std::string& t : plan.trackPerformers)
        texts.push_back(&t);
    std::string latin1;
    for (const std::string* t : texts)
        if (!cueText(*t, &latin1, error))
            return false;
    return true;
}

// Writes `KEYWORD "text"` when the text is not empty (validSpec checked that it fits).
void writeCdText(std::ostream& cue, const char* indent, const char* keyword,
                 const std::string& utf8) {
    std::string latin1;
    if (!utf8.empty() && cueText(utf8, &latin1, nullptr))
        cue << indent << keyword << " \"" << latin1 << "\"\n";
}

const std::string& entryOr(const std::vector<std::string>& list, size_t i) {
    static const std::string none;
    return i < list.size() ? list[i] : none;
}

int32_t pregapOf(const DiscSpec& plan, size_t i) {
    return i == 0 ? 0 : plan.tracks[i].pregap;
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
    for (int32_t s = 0; s < total; s += kSectorsPerSecond) {
        const int32_t n = std::min(kSectorsPerSecond, total - s);
        for (int32_t k = 0; k < n; ++k) {
            uint8_t* out = block.data() + size_t(k) * kSectorBytes;
            const int32_t inTrack = s + k - gap; // sector within the track body
            if (t.data)
                dataSector(out, firstLsn + s + k, plan.seed);
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
    if (!validSpec(plan, error))
        return false;
    const std::string binPath = base + ".bin", cuePath = base + ".cue";
    std::ofstream bin(binPath, std::ios::binary | std::ios::trunc);
    std::ofstream cue(cuePath, std::ios::trunc);
    if (!bin || !cue) {
        if (error)
            *error = "cannot create " + (bin ? cuePath : binPath);
        return false;
    }
    cue << "REM Generated by mkdisc, seed " << plan.seed << "\n";
    writeCdText(cue, "", "TITLE", plan.title);
    writeCdText(cue, "", "PERFORMER", plan.performer);
    cue << "FILE \"" << baseName(binPath) << "\" BINARY\n";
    Layout l = layoutOf(plan);
    int32_t lsn = 0;
    for (size_t i = 0; i < plan.tracks.size(); ++i) {
        const TrackSpec& t = plan.tracks[i];
        int32_t gap = pregapOf(plan, i);
        char num[24];
        std::snprintf(num, sizeof num, "%02zu", i + 1);
        cue << "  TRACK " << num << (t.data ? " MODE1/2352\n" : " AUDIO\n");
        if (gap > 0)
            cue << "    INDEX 00 " << msf(lsn) << "\n";
        cue << "    INDEX 01 " << msf(l.starts[i]) << "\n";
        // CD-TEXT of the track after its indexes: cue readers take it for the track
        // whose TRACK line came last.
        writeCdText(cue, "    ", "TITLE", entryOr(plan.trackTitles, i));
        writeCdText(cue, "    ", "PERFORMER", entryOr(plan.trackPerformers, i));
        renderTrack(plan, i, lsn, [&](const uint8_t* p, size_t n) {
            bin.write(reinterpret_cast<const char*>(p), std::streamsize(n));
        });
        lsn += gap + t.sectors;
    }
    bin.flush();
    cue.flush();
    if (!bin || !cue) {
        if (error)
            *error = "write error on " + (bin ? cuePath : binPath);
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
