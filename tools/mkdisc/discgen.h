// Deterministic disc images for tests, benchmarks and the demo disc: a .cue sheet and
// its .bin file of raw 2352-byte sectors, with music-like synthetic audio made from a
// seed (notes, chords, noise, sweeps, silence) or a pure tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace discgen {

// 2352 bytes a raw sector; 75 sectors a second.
constexpr int kSectorBytes = 2352;
constexpr int kSectorsPerSecond = 75;

struct TrackSpec {
    int32_t sectors = 0; // length from INDEX 01 to the next track's INDEX 00 (or the end)
    int32_t pregap = 0;  // INDEX 00 sectors stored in the image before INDEX 01 (track 2 on)
    bool data = false;   // MODE1/2352 data track instead of audio
};

struct DiscSpec {
    uint32_t seed = 1;
    std::vector<TrackSpec> tracks;
    double toneHz = 0; // above 0: every audio track is this pure sine tone on both channels
    // CD-TEXT, UTF-8, written as TITLE and PERFORMER lines of the cue sheet. Empty
    // text writes no line. Entry i of the track lists belongs to track i + 1.
    std::string title, performer;
    std::vector<std::string> trackTitles, trackPerformers;
    std::string catalog;            // 13 digits, or empty
    std::vector<std::string> isrcs; // entry i: track i + 1's ISRC (12 characters) or empty
    std::vector<bool> preEmphasis, copyPermitted; // entry i: FLAGS PRE and DCP of track i + 1
    // Audio before track 1's INDEX 01 (sectors 0 .. hiddenSectors - 1): music of its own,
    // or digital silence when hiddenSilent.
    int32_t hiddenSectors = 0;
    bool hiddenSilent = false;
};

// How the image's files and sheet are written. The default is one little-endian .bin
// with a cue sheet in ISO-8859-1.
struct SheetStyle {
    enum class Sheet { Cue, Toc } sheet = Sheet::Cue;
    // Binary: raw little-endian; Motorola: raw big-endian (FILE ... MOTOROLA, or a TOC's
    // SWAP); Wave: RIFF WAVE .wav files; WaveAsBin: RIFF WAVE files named .bin and typed
    // BINARY; Flac: FLAC files (typed WAVE in a cue, as rippers write them).
    enum class Container { Binary, Motorola, Wave, WaveAsBin, Flac } container = Container::Binary;
    // One file; one per track with each pregap at the end of the previous track's file
    // (INDEX 00 in the previous FILE); one per track with the pregaps left out of the
    // files and written as PREGAP (cue) or SILENCE and START (TOC): pregaps are silence.
    enum class Files { One, PerTrack, PerTrackGapsAsSilence } files = Files::One;
    // CD-TEXT bytes: ISO-8859-1, Windows-1252 (ISO-8859-1 and the characters it adds in
    // 0x80..0x9F, such as the euro sign), UTF-8, or UTF-8 behind a byte-order mark.
    enum class Text { Latin1, Windows1252, Utf8, Utf8Bom } text = Text::Latin1;
    bool lowerCase = false;   // keywords in lower case
    bool crlf = false;        // lines end in CR LF
    std::string subFolder;    // the data files go into this sub-folder of the sheet's
    bool backslashes = false; // ... named with `\` between folder and file
    std::string dataName;     // base name of the data files (default: the sheet's)
};

// The file names `writeDisc` makes for a style: the sheet, then each data file.
std::vector<std::string> styledFiles(const std::string& base, const DiscSpec& plan,
                                     const SheetStyle& style);
bool writeDisc(const std::string& base, const DiscSpec& plan, const SheetStyle& style,
               std::string* error);

// A cue sheet holds CD-TEXT as ISO-8859-1 between double quotes, without a way to
// escape a quote: true (with the Latin-1 bytes in *latin1) when `utf8` fits, else
// false with the reason in *error.
bool cueText(const std::string& utf8, std::string* latin1, std::string* error);

// Where each track lies once the image is read: LSN of each INDEX 01 and the lead-out.
struct Layout {
    std::vector<int32_t> starts;
    int32_t leadout = 0;
};

Layout layoutOf(const DiscSpec& plan);

// Writes <base>.cue and <base>.bin. False (with a message in *error) on a bad plan or an
// I/O failure.
bool writeDisc(const std::string& base, const DiscSpec& plan, std::string* error = nullptr);

// The bytes of the whole image (what the .bin holds), for comparisons in tests.
std::vector<uint8_t> imageBytes(const DiscSpec& plan);

// A disc of `count` audio tracks of `sectors` each (pregaps of 0), plus an optional
// data track of `dataSectors` at the end with a 150-sector pregap.
DiscSpec simpleDisc(uint32_t seed, int count, int32_t sectors, int32_t dataSectors = 0);

// The demo disc: six audio tracks of 15 to 45 seconds and a data track at the end.
DiscSpec demoDisc();

} // namespace discgen
